// The module's own file and its texts natively: no resources here, so the
// string table and the version come from the shared headers.
#include <dlfcn.h>
#include <time.h>

#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/module.h"
#include "plugin/strings.h"
#include "plugin/version.h"

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

bool ReadVersionResource(const char* moduleName, std::vector<unsigned char>& data, FixedVersionInfo* fixed) {
    data.clear();
    if (moduleName) return false;  // other modules carry no version resource here
    FixedVersionInfo v = {};
    v.dwSignature = 0xFEEF04BDu;
    v.dwStrucVersion = 0x00010000u;
    v.dwFileVersionMS = v.dwProductVersionMS = (LUMORA_VERSION_MAJOR << 16) | LUMORA_VERSION_MINOR;
    v.dwFileVersionLS = v.dwProductVersionLS = (LUMORA_VERSION_PATCH << 16) | LUMORA_VERSION_BUILD;
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(&v);
    data.assign(raw, raw + sizeof v);
    *fixed = v;
    return true;
}

}  // namespace plat

std::string LoadStr(unsigned id) {
    switch (id) {
#define LUMORA_STR(name) \
    case name:           \
        return name##_T;
        LUMORA_STR(IDS_QS_WRONG_URL)
        LUMORA_STR(IDS_QS_OPEN_FAILED)
        LUMORA_STR(IDS_QS_SEND_FAILED)
        LUMORA_STR(IDS_QS_HTTP_ERROR)
        LUMORA_STR(IDS_QS_GENERIC_ERROR)
        LUMORA_STR(IDS_QS_UNKNOWN_EXC)
        LUMORA_STR(IDS_QS_EMPTY_ANSWER)
        LUMORA_STR(IDS_FEED_COLUMN)
        LUMORA_STR(IDS_NO_SELECTION)
        LUMORA_STR(IDS_CHECK_OK)
        LUMORA_STR(IDS_CACHE_CLEANED)
        LUMORA_STR(IDS_FOLDER_EMPTY)
        LUMORA_STR(IDS_FOLDER_MISSING)
        LUMORA_STR(IDS_SELECT_FOLDER)
        LUMORA_STR(IDS_NEED_CATEGORY)
        LUMORA_STR(IDS_NEED_PURITY)
        LUMORA_STR(IDS_NEED_USERNAME)
        LUMORA_STR(IDS_NEED_COLLECTION)
        LUMORA_STR(IDS_NEED_USERNAME_FIRST)
        LUMORA_STR(IDS_NO_COLLECTIONS)
        LUMORA_STR(IDS_PROMPT_RANGE)
        LUMORA_STR(IDS_PROMPT_POSITIVE)
#undef LUMORA_STR
        default:
            return std::string();
    }
}
