// The folder picker: the shell's folder browser opened at a start folder.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>

#include "platform/fs.h"
#include "ui/win32/dialogs.h"

namespace {

// Version of the loaded common controls as major << 16 | minor; 4.0 when unknown.
DWORD CommonControlsVersion() {
    DWORD version = MAKELONG(0, 4);
    HMODULE mod = GetModuleHandleA("COMCTL32.DLL");
    if (!mod) return version;
    auto get =
        reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(mod, "DllGetVersion")));
    if (!get) return version;
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    if (SUCCEEDED(get(&info))) version = MAKELONG(info.dwMinorVersion, info.dwMajorVersion);
    return version;
}

// Selects the start folder once the browser is up.
int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED) SendMessageA(hwnd, BFFM_SETSELECTIONA, FALSE, data);
    return 0;
}

}  // namespace

SECDirSelectDlg::SECDirSelectDlg(const char* title, const char* initialFolder, HWND owner)
    : m_owner(owner), m_title(title), m_initial(initialFolder) {
    std::memset(m_path, 0, sizeof m_path);
}

INT_PTR SECDirSelectDlg::DoModal() {
    std::string chosen;
    if (!Browse(chosen)) return IDCANCEL;
    // Browse never hands back a path that does not fit with its terminator.
    std::memcpy(m_path, chosen.c_str(), chosen.size() + 1);
    return IDOK;
}

bool SECDirSelectDlg::Browse(std::string& result) {
    result = m_initial ? m_initial : "";
    IMalloc* alloc = nullptr;
    if (FAILED(SHGetMalloc(&alloc))) return false;
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop))) {
        alloc->Release();
        return false;
    }
    if (result.empty() || !plat::PathExists(result)) {
        char cwd[MAX_PATH] = {0};
        DWORD n = GetCurrentDirectoryA(MAX_PATH, cwd);
        result.assign(cwd, n < MAX_PATH ? n : 0);
    }
    wchar_t wide[MAX_PATH] = {0};
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, result.c_str(), -1, wide, MAX_PATH - 1);
    LPITEMIDLIST initial = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, wide, nullptr, &initial, nullptr)) || !initial) {
        desktop->Release();
        alloc->Release();
        return false;
    }

    char display[MAX_PATH] = {0};
    BROWSEINFOA bi = {};
    bi.hwndOwner = m_owner;
    bi.pidlRoot = nullptr;
    bi.pszDisplayName = display;
    bi.lpszTitle = m_title;
    bi.ulFlags = CommonControlsVersion() >= MAKELONG(0, 5) ? (BIF_NEWDIALOGSTYLE | BIF_EDITBOX) : 0;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(initial);

    bool ok = false;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&bi);
    if (chosen) {
        char path[MAX_PATH] = {0};
        if (SHGetPathFromIDListA(chosen, path)) {
            std::string p = path;
            if (p.empty() || p.back() != '\\') p += '\\';
            // With the backslash added a path of MAX_PATH - 1 characters no
            // longer fits the path buffer: refuse it rather than cut it.
            if (p.size() < MAX_PATH) {
                result = p;
                ok = true;
            }
        }
        alloc->Free(chosen);
    }
    alloc->Free(initial);
    desktop->Release();
    alloc->Release();
    return ok;
}
