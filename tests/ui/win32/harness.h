// A stand-in host for the dialog tests: loads the real module on a thread of
// its own, answers the callback from an in-memory settings store, and runs the
// plug-in's messages there; plus the driver's tools to find, read and work
// the dialogs from the test thread, to talk to the stand-in service and to
// ask the wrapper script for screenshots.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

namespace uitest {

// "Z:\..." for a path of the Linux side (wine maps / to Z:).
std::string WinPath(const std::string& unixPath);
std::string Env(const char* name);

// ---- host -----------------------------------------------------------------

class Host {
  public:
    // Loads the module on the host thread; false when it cannot.
    bool Start(const std::string& modulePath);
    void Stop();

    // Runs a message on the host thread and waits for its result.
    int32_t Send(uint32_t msg, intptr_t p = 0, int32_t a = 0);
    // Runs a message on the host thread without waiting (message 5).
    std::future<int32_t> Post(uint32_t msg, intptr_t p = 0, int32_t a = 0);
    DWORD ThreadId() const { return m_tid; }

    // The settings store: "Section/Key" -> value as text.
    std::map<std::string, std::string> Store();
    void SetStore(const std::map<std::string, std::string>& values);
    std::vector<std::string> LogLines();

    // Sends 3, 28 (Veduta) and 7: the host's start-up sequence.
    void LoadSettings();

  private:
    void Run(std::string path, std::promise<bool> loaded);
    std::future<int32_t> Enqueue(std::function<int32_t()> task);

    std::thread m_thread;
    DWORD m_tid = 0;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::queue<std::packaged_task<int32_t()>> m_tasks;
    bool m_quit = false;
    typedef int32_t(__stdcall* Handler)(uint32_t, intptr_t, int32_t);
    Handler m_handler = nullptr;
    HMODULE m_module = nullptr;
};

Host& TheHost();

// ---- windows of the host thread -------------------------------------------

// A visible dialog of the host thread with this caption (and owner, when not
// null), waiting for it up to the safety limit; null when none came.
HWND WaitDialog(const std::string& caption, HWND owner = nullptr, unsigned limitMs = 30000);
// Whether such a dialog is up right now.
HWND FindDialog(const std::string& caption, HWND owner = nullptr);
// Waits until the window is gone; false when it stayed.
bool WaitGone(HWND hwnd);

// A message box over owner: waits for it (up to limitMs), takes a screenshot
// of it when shot names one, returns its text and presses OK.
// Returns "<no message box>" when none came.
std::string AnswerMessageBox(HWND owner, const std::string& shot = "", unsigned limitMs = 30000);
std::string MessageBoxText(HWND box);

// Posts a button click (for commands that open a modal window).
void PostClick(HWND dlg, int id);
// Clicks a button and returns once the dialog has handled it.
void Click(HWND dlg, int id);
void SetText(HWND dlg, int id, const std::string& text);
std::string GetText(HWND dlg, int id);
bool Checked(HWND dlg, int id);
bool Enabled(HWND dlg, int id);
// Selects a combo box item as the user would (with the change notification).
void SelectCombo(HWND dlg, int id, int index);
int ComboSelection(HWND dlg, int id);
std::vector<std::string> ComboItems(HWND dlg, int id);

// List view rows.
int ListCount(HWND dlg, int id);
std::string ListText(HWND dlg, int id, int row, int column = 0);
bool ListChecked(HWND dlg, int id, int row);
void SetListChecked(HWND dlg, int id, int row, bool on);
void SelectListRow(HWND dlg, int id, int row);
// Posts a double click at the middle of a row, or below the last row (row -1).
void PostListDoubleClick(HWND dlg, int id, int row);

// The control with the input focus on the host thread, and whether it is an
// edit whose whole text is selected.
HWND FocusedControl();
bool WholeTextSelected(HWND edit);

// Saves a PNG of the window with this caption through the wrapper script
// (LUMORA_SCREENSHOT_DIR); does nothing when no wrapper asked for them.
void Screenshot(HWND hwnd, const std::string& name);

// ---- the stand-in service ----------------------------------------------

struct HttpAnswer {
    int status = 0;
    std::string body;
};
std::string ServiceUrl();
HttpAnswer Http(const std::string& method, const std::string& url, const std::string& body = "");
void ResetService();
void SetFaults(const std::string& rulesJson);
// The URLs the service was asked for since the last reset, in order.
std::vector<std::string> ServiceRequests();

// ---- files --------------------------------------------------------------

std::string TempFolder(const std::string& name);  // created empty
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace uitest
