// The module's own file, its string table and version resource, and the
// load-time initialisation of OLE and the common controls.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/module.h"

namespace {

// The handle of the module this code is linked into (the plug-in, or a test
// program), found from the address of one of its own functions.
HMODULE OwnModule() {
    HMODULE mod = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&OwnModule), &mod))
        return nullptr;
    return mod;
}

}  // namespace

namespace plat {

std::string ModulePath() {
    HMODULE mod = OwnModule();
    if (!mod) return std::string();
    char path[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(mod, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();  // failed or cut
    return std::string(path, n);
}

bool OleInit() {
    HRESULT hr = OleInitialize(nullptr);
    return SUCCEEDED(hr);  // S_FALSE: already initialised on this thread
}

void InitCommonControls() {
    ::InitCommonControls();
}

uint32_t TickCount32() {
    return GetTickCount();
}

bool ReadVersionResource(const char* moduleName, std::vector<unsigned char>& data, FixedVersionInfo* fixed) {
    data.clear();
    HMODULE mod = moduleName ? GetModuleHandleA(moduleName) : OwnModule();
    if (!mod) return false;
    char path[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(mod, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return false;
    data.resize(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data())) return false;
    void* block = nullptr;
    UINT len = 0;
    char root[] = "\\";
    if (!VerQueryValueA(data.data(), root, &block, &len) || !block || len < sizeof(FixedVersionInfo))
        return false;
    std::memcpy(fixed, block, sizeof(FixedVersionInfo));
    return true;
}

}  // namespace plat

namespace plat {

bool LoadResourceString(unsigned id, std::string& out) {
    // Entries are short; the largest is well below this.
    char buf[1024];
    int n = LoadStringA(OwnModule(), id, buf, sizeof buf);
    if (n <= 0) return false;
    out.assign(buf, n);
    return true;
}

}  // namespace plat
