// Check and Load off the dialog's thread: the request runs on a thread of its
// own while this thread keeps pumping messages, so the host's windows repaint,
// a small window shows the wait and its Cancel gives up. The time-outs of the
// client bound each send and receive; the deadline here bounds the whole
// exchange, also for a server that trickles its answer.
#include <windows.h>
#include <commctrl.h>

#include <exception>
#include <thread>

#include "common/host_callback.h"
#include "common/strings.h"
#include "ui/resource.h"
#include "ui/ui_strings.h"
#include "ui/win32/dialogs.h"

namespace {

// A quick answer shows no window at all: no flicker for the common case.
const DWORD kShowAfterMs = 400;

struct WaitState {
    CLumoraApi* api = nullptr;
    bool cancelled = false;  // by the user (Cancel, Esc, the close box)
    bool timedOut = false;   // by the deadline
};

void GiveUp(HWND wait, WaitState& st) {
    st.api->CancelTransfer();
    if (!wait) return;
    SetDlgItemTextA(wait, IDC_WAIT_TEXT, LoadStr(IDS_WAIT_CANCELLING).c_str());
    EnableWindow(GetDlgItem(wait, IDCANCEL), FALSE);
}

INT_PTR CALLBACK WaitProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lp);
        SetDlgItemTextA(hwnd, IDC_WAIT_TEXT, LoadStr(IDS_WAIT_ASKING).c_str());
        SendDlgItemMessageA(hwnd, IDC_WAIT_PROGRESS, PBM_SETMARQUEE, TRUE, 30);
        return TRUE;
    }
    auto* st = reinterpret_cast<WaitState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (st && msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
        if (!st->cancelled && !st->timedOut) {
            st->cancelled = true;
            LogMessage("FeedDialog: request cancelled by the user");
            GiveUp(hwnd, *st);
        }
        return TRUE;
    }
    return FALSE;
}

}  // namespace

ui::RequestEnd RunServiceRequest(HWND owner, CLumoraApi& api, const std::function<int()>& request,
                                 int* result) {
    int rc = 0;
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!finished) {
        // No event, no wait: run it here rather than not at all.
        *result = GuardedRequest(api, request);
        return ui::RequestEnd::Finished;
    }
    std::thread worker([&] {
        rc = GuardedRequest(api, request);
        SetEvent(finished);
    });

    WaitState st;
    st.api = &api;
    HWND wait = CreateDialogParamA(UiModule(), MAKEINTRESOURCEA(IDD_WAIT), owner, &WaitProc,
                                   reinterpret_cast<LPARAM>(&st));
    // Modal to the dialog that asked: it repaints but takes no input.
    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);

    const DWORD start = GetTickCount();
    bool shown = false, quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD timeout = INFINITE;
        if (!shown && wait) timeout = elapsed >= kShowAfterMs ? 0 : kShowAfterMs - elapsed;
        if (!st.cancelled && !st.timedOut) {
            DWORD left = elapsed >= ui::kRequestDeadlineMs ? 0 : ui::kRequestDeadlineMs - elapsed;
            if (left < timeout) timeout = left;
        }
        DWORD woke = MsgWaitForMultipleObjects(1, &finished, FALSE, timeout, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;

        elapsed = GetTickCount() - start;
        if (!shown && wait && elapsed >= kShowAfterMs) {
            ShowWindow(wait, SW_SHOW);
            shown = true;
        }
        if (!st.cancelled && !st.timedOut && elapsed >= ui::kRequestDeadlineMs) {
            st.timedOut = true;
            LogMessage("FeedDialog: no answer within %u s, request abandoned",
                       static_cast<unsigned>(ui::kRequestDeadlineMs / 1000));
            GiveUp(wait, st);
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // The host is closing: give up and hand the quit on afterwards.
                quit = true;
                quitCode = msg.wParam;
                if (!st.cancelled && !st.timedOut) {
                    st.cancelled = true;
                    GiveUp(wait, st);
                }
                continue;
            }
            if (wait && IsDialogMessageA(wait, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    worker.join();
    CloseHandle(finished);

    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    if (wait) DestroyWindow(wait);
    if (owner) SetActiveWindow(owner);
    if (quit) PostQuitMessage(static_cast<int>(quitCode));

    *result = rc;
    if (st.timedOut) return ui::RequestEnd::TimedOut;
    if (st.cancelled) return ui::RequestEnd::Cancelled;
    return ui::RequestEnd::Finished;
}

int GuardedRequest(CLumoraApi& api, const std::function<int()>& request) {
    // A service answer the client did not expect must not end the host: a
    // request that throws counts as failed, with the client's text when it has one.
    try {
        return request();
    } catch (const std::exception& e) {
        LogMessage("FeedDialog: request failed: %s", e.what());
    } catch (...) {
        LogMessage("FeedDialog: request failed");
    }
    if (api.m_errtext.empty()) api.m_errtext = LoadStr(IDS_QS_EMPTY_ANSWER);
    return 0;
}
