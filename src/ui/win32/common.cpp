// Helpers shared by the dialogs: the module handle, message boxes, control
// values, the wait cursor and the modal dialog base.
#include <windows.h>

#include <exception>
#include <vector>

#include "common/host_callback.h"

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

void SetItemText(HWND dlg, int id, const std::string& text) { SetDlgItemTextA(dlg, id, text.c_str()); }

bool IsChecked(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) == BST_CHECKED; }

void SetChecked(HWND dlg, int id, bool on) { CheckDlgButton(dlg, id, on ? BST_CHECKED : BST_UNCHECKED); }

void FocusAndSelect(HWND dlg, int id) {
    HWND edit = GetDlgItem(dlg, id);
    SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

CWaitCursor::CWaitCursor() : m_old(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
CWaitCursor::~CWaitCursor() { SetCursor(m_old ? m_old : LoadCursor(nullptr, IDC_ARROW)); }

INT_PTR CModalDialog::DoModal() {
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
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return FALSE;
    // An exception must not unwind through the system's dialog code into the
    // host: the command fails with a message and the dialog stays usable.
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
    } catch (const std::exception& e) {
        LogMessage("ConfigureDialog: %s", e.what());
        ShowMessage(hwnd, e.what());
        return TRUE;
    } catch (...) {
        LogMessage("ConfigureDialog: unknown exception");
        return TRUE;
    }
    return FALSE;
}
