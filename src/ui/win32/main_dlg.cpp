// The main configuration dialog: settings, the feed list and the doors to
// the feed editor, the Settings and Local Cache dialogs, the folder picker
// and the help file.
#include <windows.h>
#include <commctrl.h>

#include "platform/fs.h"
#include "platform/registry.h"
#include "common/module_version.h"
#include "common/settings_store.h"
#include "common/strings.h"
#include "ui/dialog_logic.h"
#include "ui/win32/dialogs.h"
#include "ui/resource.h"

namespace {

// The centred two-line text has no id of its own: it is the one centred static.
HWND FindGreeting(HWND dlg) {
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[16] = {0};
        GetClassNameA(c, cls, sizeof cls);
        LONG style = GetWindowLongA(c, GWL_STYLE);
        if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_CENTER) return c;
    }
    return nullptr;
}

typedef HWND(WINAPI* HtmlHelpAProc)(HWND, LPCSTR, UINT, DWORD_PTR);
const UINT kHhDisplayTopic = 0;  // HH_DISPLAY_TOPIC

// The HTML Help engine, loaded on first use; kept for the life of the process
// since its windows may outlive the dialog.
HtmlHelpAProc HtmlHelpEntry() {
    static HtmlHelpAProc entry = [] {
        HMODULE mod = LoadLibraryA("hhctrl.ocx");
        return mod ? reinterpret_cast<HtmlHelpAProc>(
                         reinterpret_cast<void*>(GetProcAddress(mod, "HtmlHelpA")))
                   : nullptr;
    }();
    return entry;
}

}  // namespace

BOOL CLumoraDlg::OnInitDialog() {
    char caption[256] = {0};
    GetWindowTextA(m_hWnd, caption, sizeof caption);
    CModuleVersion version;
    if (version.ReadVersionInfo(nullptr))
        SetWindowTextA(
            m_hWnd,
            ui::FormatCaption(caption, version.ProductVersionMS(), version.ProductVersionLS()).c_str());
    if (HWND greeting = FindGreeting(m_hWnd))
        SetWindowTextA(greeting, ui::GreetingText(CLumoraApi::BaseHostName()).c_str());

    m_list.Attach(GetDlgItem(m_hWnd, IDC_FEEDLIST));
    m_list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    m_list.InsertColumn(0, LoadStr(IDS_FEED_COLUMN).c_str(),
                        m_list.GetClientWidth() - GetSystemMetrics(SM_CXVSCROLL) - 1);

    SetChecked(m_hWnd, IDC_ENABLED, m_settings.Enabled != 0);
    SetItemText(m_hWnd, IDC_FOLDER, m_settings.ImgFolder);
    SetItemText(m_hWnd, IDC_APIKEY, m_settings.ApiKey);

    RefreshFeedList();
    EnableControls();
    return TRUE;
}

void CLumoraDlg::EnableControls() {
    for (const ui::ControlState& c : ui::MainDialogEnables(IsChecked(m_hWnd, IDC_ENABLED)))
        EnableWindow(GetDlgItem(m_hWnd, c.id), c.enabled);
}

void CLumoraDlg::RefreshFeedList() {
    m_list.DeleteAllItems();
    std::vector<ui::FeedRow> rows = ui::BuildFeedRows(m_feeds);
    for (size_t i = 0; i < rows.size(); ++i) {
        int row = m_list.InsertItem(static_cast<int>(i), rows[i].text.c_str());
        m_list.SetCheck(row, rows[i].checked);
    }
}

bool CLumoraDlg::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_ENABLED:
            EnableControls();
            return true;
        case IDC_BROWSE:
            OnChooseFolder();
            return true;
        case IDC_ADD:
            OnAdd();
            return true;
        case IDC_EDIT:
            OnEdit();
            return true;
        case IDC_DELETE:
            OnDelete();
            return true;
        case IDC_SETTINGS:
            OnSettings();
            return true;
        case IDC_LOCALCACHE:
            OnLocalCache();
            return true;
        case IDC_HELPBUTTON:
            OnHelp();
            return true;
    }
    return CModalDialog::OnCommand(id, code);
}

bool CLumoraDlg::OnNotify(const NMHDR* nm) {
    if (nm->idFrom == IDC_FEEDLIST && nm->code == NM_DBLCLK) {
        if (reinterpret_cast<const NMITEMACTIVATE*>(nm)->iItem >= 0) OnEdit();
        return true;
    }
    return false;
}

std::string CLumoraDlg::CurrentApiKey() const {
    return ui::TrimWhiteSpace(GetItemText(m_hWnd, IDC_APIKEY));
}

int CLumoraDlg::SelectedFeed() {
    int row = m_list.GetSelectedItem();
    if (ui::IsValidSelection(row, m_feeds)) return row;
    ShowMessage(m_hWnd, LoadStr(IDS_NO_SELECTION));
    return -1;
}

void CLumoraDlg::OnChooseFolder() {
    std::string initial = GetItemText(m_hWnd, IDC_FOLDER);
    if (!plat::PathExists(initial)) initial.clear();
    const std::string title = LoadStr(IDS_SELECT_FOLDER);
    SECDirSelectDlg picker(title.c_str(), initial.c_str(), nullptr);
    if (picker.DoModal() != IDOK) return;
    std::string path;
    picker.GetPath(path);
    SetItemText(m_hWnd, IDC_FOLDER, path);
}

void CLumoraDlg::OnAdd() {
    CLumoraFeedDlg editor(m_hWnd);
    editor.m_apikey = CurrentApiKey();
    if (editor.DoModal() != IDOK) return;
    ui::AppendNewFeed(m_feeds, editor.m_feed);
    RefreshFeedList();
}

void CLumoraDlg::OnEdit() {
    int row = SelectedFeed();
    if (row < 0) return;
    CLumoraFeedDlg editor(m_hWnd);
    editor.m_feed = m_feeds[row];
    editor.m_apikey = CurrentApiKey();
    if (editor.DoModal() != IDOK) return;
    ui::ReplaceEditedFeed(m_feeds, row, editor.m_feed, m_list.GetCheck(row));
    RefreshFeedList();
}

void CLumoraDlg::OnDelete() {
    int row = SelectedFeed();
    if (row < 0) return;
    m_feeds.RemoveAt(row);
    RefreshFeedList();
}

void CLumoraDlg::OnSettings() {
    CDwnlSettingsDlg settings(m_hWnd);
    settings.m_vpropTitle = m_settings.VpropTitle;
    settings.m_vpropDescr = m_settings.VpropDescr;
    settings.m_maxLocal = m_settings.MaxLocal > 0 ? static_cast<unsigned>(m_settings.MaxLocal) : 0;
    if (settings.DoModal() != IDOK) return;
    m_settings.VpropTitle = settings.m_vpropTitle;
    m_settings.VpropDescr = settings.m_vpropDescr;
    m_settings.MaxLocal = static_cast<int>(settings.m_maxLocal);  // at most 9999999
}

void CLumoraDlg::OnLocalCache() {
    CCacheDlg cache(m_hWnd, m_cache);
    cache.m_folder = GetItemText(m_hWnd, IDC_FOLDER);
    cache.DoModal();
}

void CLumoraDlg::OnHelp() {
    std::string path = plat::ModulePath();
    size_t slash = path.find_last_of('\\');
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "Lumora.chm";
    if (HtmlHelpAProc help = HtmlHelpEntry()) help(nullptr, path.c_str(), kHhDisplayTopic, 0);
}

void CLumoraDlg::OnOK() {
    m_settings.Enabled = IsChecked(m_hWnd, IDC_ENABLED) ? 1 : 0;
    m_settings.ImgFolder = GetItemText(m_hWnd, IDC_FOLDER);
    m_settings.ApiKey = CurrentApiKey();

    std::vector<bool> checks;
    for (int i = 0; i < m_list.GetItemCount(); ++i) checks.push_back(m_list.GetCheck(i));
    ui::CopyChecksToFeeds(checks, m_feeds);

    // A folder that merely exists is not enough: a file, or a folder no file
    // can be created in, would make every download fail without a word.
    const ui::FolderFacts facts = ProbeFolder(m_settings.ImgFolder);
    ui::RuleResult rule = ui::CheckUsableFolder(m_settings.ImgFolder, facts);
    if (!rule.ok()) {
        ShowMessage(m_hWnd, ui::FolderRuleText(rule, facts, &SystemErrorText));
        FocusAndSelect(m_hWnd, rule.focusControl);
        return;
    }
    // Only an accepted OK keeps the key: Cancel after a refused OK must
    // leave the stored one as it was.
    RegWriteString(1, kApiKeyRegPath, kApiKeyValue, m_settings.ApiKey.c_str());
    EndDialog(m_hWnd, IDOK);
}
