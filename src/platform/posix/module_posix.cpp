// The module's own file natively: no resources here, so the string table and
// the version come from the shared headers one layer up.
#include <dlfcn.h>
#include <time.h>

#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/module.h"

namespace plat {

std::string ModulePath() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return std::string();
    return info.dli_fname;
}

bool OleInit() {
    return true;
}

void InitCommonControls() {}

uint32_t TickCount32() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

bool ReadVersionResource(const char*, std::vector<unsigned char>& data, FixedVersionInfo*) {
    // No version resources here: the plug-in layer falls back to the
    // compiled-in version for its own module.
    data.clear();
    return false;
}

bool LoadResourceString(unsigned, std::string&) {
    return false;  // no string table resources here
}

}  // namespace plat
