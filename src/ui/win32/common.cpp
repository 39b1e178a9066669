// Helpers shared by the dialogs: the module handle, message boxes, control
// values, the wait cursor and the modal dialog base.
#include <windows.h>
#include <commctrl.h>

#include <exception>
#include <new>
#include <string>
#include <vector>

#include "common/host_callback.h"
#include "common/strings.h"
#include "ui/ui_strings.h"
#include "ui/win32/dialogs.h"

HINSTANCE UiModule() {
    HMODULE mod = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&UiModule), &mod);
    return mod;
}

void ShowMessage(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), "Lumora", MB_OK | MB_ICONEXCLAMATION);
}

std::string GetItemText(HWND dlg, int id) {
    HWND ctl = GetDlgItem(dlg, id);
    int n = GetWindowTextLengthA(ctl);
    if (n <= 0) return std::string();
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    n = GetWindowTextA(ctl, buf.data(), n + 1);
    return std::string(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

void SetItemText(HWND dlg, int id, const std::string& text) {
    SetDlgItemTextA(dlg, id, text.c_str());
}

bool IsChecked(HWND dlg, int id) {
    return IsDlgButtonChecked(dlg, id) == BST_CHECKED;
}

void SetChecked(HWND dlg, int id, bool on) {
    CheckDlgButton(dlg, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void FocusAndSelect(HWND dlg, int id) {
    HWND edit = GetDlgItem(dlg, id);
    SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

CWaitCursor::CWaitCursor() : m_old(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
CWaitCursor::~CWaitCursor() {
    SetCursor(m_old ? m_old : LoadCursor(nullptr, IDC_ARROW));
}

std::string SystemErrorText(int code) {
    char buf[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, buf, sizeof buf, nullptr);
    while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ' || buf[n - 1] == '.')) --n;
    std::string text(buf, n);
    if (text.empty()) text = "Unknown error";
    return text + " (error " + std::to_string(code) + ")";
}

ui::FolderFacts ProbeFolder(const std::string& folder) {
    ui::FolderFacts facts = {false, false, 0, 0};
    if (folder.empty()) return facts;
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Not found, or not looked at (access denied, an offline share, a
        // path too long): the message says which.
        facts.probeError = static_cast<int>(GetLastError());
        return facts;
    }
    facts.exists = true;
    facts.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!facts.isFolder) return facts;
    // The one sure test of "may create files here" is creating one; it goes
    // again when its handle closes.
    std::string probe = folder;
    if (probe.back() != '\\' && probe.back() != '/') probe += '\\';
    probe += "lumora-write-test.tmp";
    HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A probe left by a crash still proves the folder takes files.
        if (error != ERROR_FILE_EXISTS) facts.createError = static_cast<int>(error);
        return facts;
    }
    CloseHandle(h);
    return facts;
}

// ---- visual styles -------------------------------------------------------

namespace {

// The module's manifest (resource 2) asks for version 6 of the common
// controls. A host without a manifest of its own would give its plug-ins the
// old controls; activating the module's context while a dialog runs gives
// the dialogs the system's visual styles whatever the host did.
HANDLE ThemeContext() {
    static HANDLE context = [] {
        ACTCTXA ac = {};
        ac.cbSize = sizeof ac;
        ac.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        ac.hModule = UiModule();
        ac.lpResourceName = MAKEINTRESOURCEA(2);
        return CreateActCtxA(&ac);
    }();
    return context;
}

class ThemeScope {
  public:
    ThemeScope() {
        HANDLE context = ThemeContext();
        m_active = context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &m_cookie);
        // The classes register per context: the dialogs' controls come from it.
        INITCOMMONCONTROLSEX icc = {sizeof icc,
                                    ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
    }
    ~ThemeScope() {
        if (m_active) DeactivateActCtx(0, m_cookie);
    }
    ThemeScope(const ThemeScope&) = delete;
    ThemeScope& operator=(const ThemeScope&) = delete;

  private:
    ULONG_PTR m_cookie = 0;
    bool m_active = false;
};

}  // namespace

INT_PTR CModalDialog::DoModal() {
    ThemeScope theme;
    return DialogBoxParamA(UiModule(), MAKEINTRESOURCEA(m_template), m_parent, &CModalDialog::Proc,
                           reinterpret_cast<LPARAM>(this));
}

bool CModalDialog::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return false;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

INT_PTR CALLBACK CModalDialog::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CModalDialog*>(lp);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lp);
        self->m_hWnd = hwnd;
        // Guarded like every other message: a dialog that cannot be set up
        // says so and ends with -1 instead of unwinding into the host.
        std::string failure;
        try {
            return self->OnInitDialog();
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "unknown exception";
        }
        LogMessage("ConfigureDialog: initialisation failed: %s", failure.c_str());
        std::string text = LoadStr(IDS_DIALOG_FAILED);
        size_t at = text.find("%s");
        if (at != std::string::npos) text.replace(at, 2, failure);
        ShowMessage(self->m_parent, text);
        EndDialog(hwnd, -1);
        return TRUE;
    }
    auto* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return FALSE;
    // An exception must not unwind through the system's dialog code into the
    // host: the command fails with a message that says what was being done,
    // and the dialog stays usable.
    const int command = msg == WM_COMMAND  ? LOWORD(wp)
                        : msg == WM_NOTIFY ? static_cast<int>(reinterpret_cast<const NMHDR*>(lp)->idFrom)
                                           : 0;
    std::string failure;
    try {
        switch (msg) {
            case WM_COMMAND:
                return self->OnCommand(LOWORD(wp), HIWORD(wp)) ? TRUE : FALSE;
            case WM_NOTIFY:
                return self->OnNotify(reinterpret_cast<const NMHDR*>(lp)) ? TRUE : FALSE;
            case WM_DESTROY:
                SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
                self->m_hWnd = nullptr;
                return FALSE;
        }
    } catch (const std::bad_alloc&) {
        failure = "not enough memory";
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown error";
    }
    if (failure.empty()) return FALSE;
    LogMessage("ConfigureDialog: command %d failed: %s", command, failure.c_str());
    ShowMessage(hwnd, ui::CommandFailureText(command, failure));
    return TRUE;
}
