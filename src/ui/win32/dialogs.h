// The configuration dialogs on plain Win32. Each dialog is a class holding
// its values; its dialog procedure keeps the object in GWLP_USERDATA, moves
// values between the controls and the object, and writes them back only when
// the user confirms. The decisions live in ui/dialog_logic.h.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/records.h"
#include "common/settings.h"
#include "service/api.h"
#include "ui/dialog_logic.h"

// ---- shared helpers ----------------------------------------------------

// The plug-in module (templates and strings live there).
HINSTANCE UiModule();
// The standard message box: OK button, warning icon, caption "Lumora".
void ShowMessage(HWND owner, const std::string& text);
std::string GetItemText(HWND dlg, int id);
void SetItemText(HWND dlg, int id, const std::string& text);
bool IsChecked(HWND dlg, int id);
void SetChecked(HWND dlg, int id, bool on);
// Moves the input focus to an edit and selects its whole text.
void FocusAndSelect(HWND dlg, int id);
// The system's text for an error code, with the code: "Access is denied (error 5)".
std::string SystemErrorText(int code);
// What the image folder rule needs to know about a folder (creates and
// removes a probe file in it).
ui::FolderFacts ProbeFolder(const std::string& folder);

// Runs a request of the client on a thread of its own while this thread
// pumps messages: owner stays painted but takes no input, a small window
// shows the wait after a moment and offers Cancel, and the deadline ends the
// whole exchange. *result is the request's result (0 when it threw).
ui::RequestEnd RunServiceRequest(HWND owner, CLumoraApi& api, const std::function<int()>& request,
                                 int* result);
// Runs the request here; an exception counts as a failure with a text.
int GuardedRequest(CLumoraApi& api, const std::function<int()>& request);

// The wait cursor for the life of the object.
class CWaitCursor {
  public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

  private:
    HCURSOR m_old;
};

// Base of the modal dialogs: runs a template and routes its messages to the object.
class CModalDialog {
  public:
    virtual ~CModalDialog() = default;
    // IDOK, IDCANCEL, or -1 when the dialog could not be created.
    INT_PTR DoModal();

  protected:
    CModalDialog(int templateId, HWND parent) : m_template(templateId), m_parent(parent) {}
    virtual BOOL OnInitDialog() = 0;
    // Returns true when handled.
    virtual bool OnCommand(int id, int code);
    virtual bool OnNotify(const NMHDR*) { return false; }
    virtual void OnOK() { EndDialog(m_hWnd, IDOK); }
    virtual void OnCancel() { EndDialog(m_hWnd, IDCANCEL); }

    HWND m_hWnd = nullptr;

  private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    int m_template;
    HWND m_parent;
};

// ---- list control and folder picker ---------------------------------------

// The report-view list control of the dialogs.
class CListCtrlEx {
  public:
    void Attach(HWND list) { m_hWnd = list; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // First selected row from the top, or -1.
    int GetSelectedItem() const;
    // Column 0 inserts row `row`; another column sets that column of an
    // existing row. image -1 leaves the image alone. The platform's answer.
    int SetItemTextEx(int row, int column, const char* text, int image = -1);

    int InsertColumn(int index, const char* heading, int width);
    void DeleteAllItems();
    int InsertItem(int row, const char* text);
    int GetItemCount() const;
    bool GetCheck(int row) const;
    void SetCheck(int row, bool checked);
    void SetExtendedStyle(DWORD style);
    int GetClientWidth() const;

  private:
    HWND m_hWnd = nullptr;
};

// The folder picker behind "...": the shell's folder browser, starting at a
// given folder; the chosen path always ends with a backslash.
class SECDirSelectDlg {
  public:
    SECDirSelectDlg(const char* title, const char* initialFolder, HWND owner);
    // Two virtual operations, DoModal then Browse; never deleted through a base pointer.
    virtual INT_PTR DoModal();
    void GetPath(std::string& path) const { path = m_path; }

  protected:
    virtual bool Browse(std::string& result);

  private:
    char m_path[MAX_PATH];
    HWND m_owner;
    const char* m_title;
    const char* m_initial;
};

// ---- the dialogs -------------------------------------------------------

// "Settings": side file options and the cache size.
class CDwnlSettingsDlg : public CModalDialog {
  public:
    explicit CDwnlSettingsDlg(HWND parent) : CModalDialog(1001, parent) {}
    int m_vpropTitle = 0;
    int m_vpropDescr = 0;
    unsigned m_maxLocal = 0;

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
};

// What the Local Cache dialog asks of whoever owns the cache (the engine,
// wired by the plug-in): the status rows of a folder, and its clean.
struct CacheCommands {
    std::function<void(const std::string& folder, std::vector<std::string>& names,
                       std::vector<std::string>& values)>
        status;
    std::function<ClearCacheResult(const std::string& folder)> clear;
};

// "Local Cache": the state of a folder's cache and the command that empties it.
class CCacheDlg : public CModalDialog {
  public:
    CCacheDlg(HWND parent, const CacheCommands& cache) : CModalDialog(1023, parent), m_cache(cache) {}
    std::string m_folder;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;

  private:
    void OnClean();
    const CacheCommands& m_cache;
    CListCtrlEx m_list;
};

// "Feed Settings": creates or edits one feed.
class CLumoraFeedDlg : public CModalDialog {
  public:
    explicit CLumoraFeedDlg(HWND parent) : CModalDialog(1003, parent) {}
    CLumoraFeed m_feed;    // working copy: set before the run, read after OK
    std::string m_apikey;  // the main dialog's trimmed key; never shown

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    void OnOK() override;

  private:
    void EnableControls();
    // Reads the controls into m_feed and applies the rules; false after a message.
    bool ReadBackAndValidate();
    void OnCheck();
    void OnLoad();
    // The message after a failed request.
    void ShowFailure(ui::RequestEnd end);

    CLumoraApi m_api;
    CCollectionArray m_collections;
    ui::CollectionOwner m_collOwner{CLumoraFeed()};
};

// The configuration window of message 5.
class CLumoraDlg : public CModalDialog {
  public:
    CLumoraDlg(HWND parent, CacheCommands cache) : CModalDialog(1000, parent), m_cache(std::move(cache)) {}
    // The settings as the dialog shows them: set before the run, read after OK.
    CLumoraSettings m_settings;
    CFeedArray m_feeds;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    bool OnNotify(const NMHDR* nm) override;
    void OnOK() override;

  private:
    void EnableControls();
    void RefreshFeedList();
    std::string CurrentApiKey() const;
    // The selected row, or -1 after showing the "no selection" message.
    int SelectedFeed();
    void OnChooseFolder();
    void OnAdd();
    void OnEdit();
    void OnDelete();
    void OnSettings();
    void OnLocalCache();
    void OnHelp();

    CacheCommands m_cache;  // for the Local Cache dialog
    CListCtrlEx m_list;
};
