// A dialog whose initialisation throws: the exception must end the dialog
// with a message, not unwind through the system's dialog code into the host.
// A command that throws: the message says what was being done and what to
// try, and the dialog stays open.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "ui/resource.h"
#include "ui/win32/dialogs.h"

namespace {

class ThrowingDialog : public CModalDialog {
  public:
    explicit ThrowingDialog(bool throwStd) : CModalDialog(IDD_SETTINGS, nullptr), m_std(throwStd) {}

  protected:
    BOOL OnInitDialog() override {
        if (m_std) throw std::runtime_error("no room for the list");
        throw 42;
    }

  private:
    bool m_std;
};

// Its OK button fails: with a standard exception, out of memory, or something else.
class FailingOkDialog : public CModalDialog {
  public:
    explicit FailingOkDialog(int kind) : CModalDialog(IDD_SETTINGS, nullptr), m_kind(kind) {}

  protected:
    BOOL OnInitDialog() override {
        PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    void OnOK() override {
        if (m_kind == 0) throw std::runtime_error("no room for the list");
        if (m_kind == 1) throw std::bad_alloc();
        throw 42;
    }

  private:
    int m_kind;
};

struct Found {
    DWORD thread;
    HWND box;
};

BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
    auto* f = reinterpret_cast<Found*>(lp);
    char caption[64] = {0};
    GetWindowTextA(w, caption, sizeof caption);
    if (IsWindowVisible(w) && std::strcmp(caption, "Lumora") == 0) {
        f->box = w;
        return FALSE;
    }
    return TRUE;
}

// The longest static of a message box: its text.
std::string BoxText(HWND box) {
    std::string best;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {0}, text[1024] = {0};
        GetClassNameA(c, cls, sizeof cls);
        GetWindowTextA(c, text, sizeof text);
        if (lstrcmpiA(cls, "Static") == 0 && std::strlen(text) > best.size()) best = text;
    }
    return best;
}

TEST(ModalDialog, AnExceptionInInitialisationEndsTheDialogWithAMessage) {
    const struct {
        bool throwStd;
        const char* text;
    } cases[] = {
        {true, "The window could not be opened: no room for the list"},
        {false, "The window could not be opened: unknown exception"},
    };
    for (const auto& c : cases) {
        const DWORD self = GetCurrentThreadId();
        std::atomic<bool> stop{false};
        std::string shown;
        // Answers the message box the dialog's thread shows.
        std::thread answer([&] {
            for (int i = 0; i < 1500 && !stop; ++i) {
                Found f{self, nullptr};
                EnumThreadWindows(self, FindBox, reinterpret_cast<LPARAM>(&f));
                if (f.box) {
                    shown = BoxText(f.box);
                    PostMessageA(f.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                    return;
                }
                Sleep(20);
            }
        });
        INT_PTR result = 0;
        bool escaped = false;
        try {
            ThrowingDialog dlg(c.throwStd);
            result = dlg.DoModal();
        } catch (...) {
            escaped = true;
        }
        stop = true;
        answer.join();
        EXPECT_FALSE(escaped) << c.text;
        EXPECT_EQ(result, -1) << c.text;
        EXPECT_EQ(shown, c.text);
    }
}

BOOL CALLBACK FindSettings(HWND w, LPARAM lp) {
    char caption[64] = {0};
    GetWindowTextA(w, caption, sizeof caption);
    if (IsWindowVisible(w) && std::strcmp(caption, "Settings") == 0) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}

// Before, the box showed the bare exception text ("no room for the list"),
// and nothing at all for an exception of another kind.
TEST(ModalDialog, AFailingCommandSaysWhatWasBeingDoneAndTheDialogStays) {
    const std::string after =
        ".\r\n\r\nThe window stays open: try again. If it fails again, close the window and open it again; "
        "the host's log has the details.";
    const struct {
        int kind;
        std::string text;
    } cases[] = {
        {0, "Lumora could not accept the settings of this window: no room for the list" + after},
        {1, "Lumora could not accept the settings of this window: not enough memory" + after},
        {2, "Lumora could not accept the settings of this window: unknown error" + after},
    };
    for (const auto& c : cases) {
        const DWORD self = GetCurrentThreadId();
        std::atomic<bool> stop{false};
        std::string shown;
        bool stayed = false;
        std::thread answer([&] {
            for (int i = 0; i < 1500 && !stop; ++i) {
                Found f{self, nullptr};
                EnumThreadWindows(self, FindBox, reinterpret_cast<LPARAM>(&f));
                if (f.box) {
                    shown = BoxText(f.box);
                    PostMessageA(f.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                    break;
                }
                Sleep(20);
            }
            // Once the box is gone, the dialog is still there: close it.
            for (int i = 0; i < 1500 && !stop; ++i) {
                Found f{self, nullptr};
                EnumThreadWindows(self, FindBox, reinterpret_cast<LPARAM>(&f));
                HWND dlg = nullptr;
                EnumThreadWindows(self, FindSettings, reinterpret_cast<LPARAM>(&dlg));
                if (!f.box && dlg) {
                    stayed = true;
                    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                    return;
                }
                Sleep(20);
            }
        });
        INT_PTR result = 0;
        bool escaped = false;
        try {
            FailingOkDialog dlg(c.kind);
            result = dlg.DoModal();
        } catch (...) {
            escaped = true;
        }
        stop = true;
        answer.join();
        EXPECT_FALSE(escaped) << c.kind;
        EXPECT_EQ(shown, c.text) << c.kind;
        EXPECT_TRUE(stayed) << c.kind;
        EXPECT_EQ(result, IDCANCEL) << c.kind;
    }
}

}  // namespace
