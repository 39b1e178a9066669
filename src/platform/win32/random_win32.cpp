#include <windows.h>

#include <atomic>

#include "platform/random.h"

namespace plat {

namespace {
typedef BOOLEAN(WINAPI* RtlGenRandomFn)(PVOID buffer, ULONG length);
// Found once, then only read; a failed load is tried again on the next call.
std::atomic<RtlGenRandomFn> g_genRandom{nullptr};
}  // namespace

bool SystemRandom32(uint32_t* value) {
    RtlGenRandomFn fn = g_genRandom.load();
    if (!fn) {
        HMODULE lib = LoadLibraryA("ADVAPI32.DLL");
        if (lib) {
            fn = reinterpret_cast<RtlGenRandomFn>(
                reinterpret_cast<void*>(GetProcAddress(lib, "SystemFunction036")));
            if (fn) g_genRandom.store(fn);
        }
    }
    if (!fn) return false;
    uint32_t v = 0;
    if (!fn(&v, sizeof v)) return false;
    *value = v;
    return true;
}

}  // namespace plat
