// The feed editor: one search or collection feed, with a test query (Check)
// and the list of a user's public collections (Load).
#include <windows.h>

#include <exception>

#include "common/host_callback.h"
#include "common/strings.h"
#include "ui/dialog_logic.h"
#include "ui/win32/dialogs.h"
#include "ui/resource.h"

namespace {

const int kCategoryBoxes[3] = {IDC_GENERAL, IDC_ANIME, IDC_PEOPLE};
const int kPurityBoxes[3] = {IDC_SFW, IDC_SKETCHY, IDC_NSFW};
const char* const kSortings[] = {"Random", "Date Added", "Relevance", "Views", "Favorites", "Top List"};
const char* const kTopRanges[] = {"1 Day", "3 Days", "1 Week", "1 Month", "3 Months", "6 Months", "1 Year"};

int ComboSelection(HWND dlg, int id) {
    return static_cast<int>(SendDlgItemMessageA(dlg, id, CB_GETCURSEL, 0, 0));
}

void FillCombo(HWND dlg, int id, const char* const* texts, int count, int selection) {
    for (int i = 0; i < count; ++i)
        SendDlgItemMessageA(dlg, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[i]));
    SendDlgItemMessageA(dlg, id, CB_SETCURSEL, selection, 0);
}

void AddComboItem(HWND dlg, int id, const std::string& text) {
    SendDlgItemMessageA(dlg, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace

BOOL CLumoraFeedDlg::OnInitDialog() {
    const ui::FeedFields f = ui::FieldsFromFeed(m_feed);
    CheckRadioButton(m_hWnd, IDC_SEARCH, IDC_COLLECTION, IDC_SEARCH + ui::EditorFeedType(f.type));
    SetItemText(m_hWnd, IDC_QUERY, f.query);
    for (int k = 0; k < 3; ++k) {
        SetChecked(m_hWnd, kCategoryBoxes[k], f.categories[k] != 0);
        SetChecked(m_hWnd, kPurityBoxes[k], f.purity[k] != 0);
    }
    SetItemText(m_hWnd, IDC_ATLEAST, f.atleast);
    SetItemText(m_hWnd, IDC_RATIOS, f.ratios);
    SetItemText(m_hWnd, IDC_USERNAME, f.username);

    m_api.m_apikey = m_apikey;
    m_api.m_timeoutMs = ui::kRequestTimeoutMs;
    m_collOwner = ui::CollectionOwner(m_feed);
    FillCombo(m_hWnd, IDC_SORTING, kSortings, 6, f.sorting);
    FillCombo(m_hWnd, IDC_TOPRANGE, kTopRanges, 7, f.topRange);

    if (m_feed.Type == 1 && !m_feed.CollId.empty()) {
        CLumoraCollection current;
        current.Id = m_feed.CollId;
        current.Label = m_feed.CollName;
        m_collections.Add(current);
        AddComboItem(m_hWnd, IDC_COLLLIST, ui::CurrentCollectionItem(m_feed));
        SendDlgItemMessageA(m_hWnd, IDC_COLLLIST, CB_SETCURSEL, 0, 0);
    }
    if (m_apikey.empty()) EnableWindow(GetDlgItem(m_hWnd, IDC_NSFW), FALSE);
    EnableControls();
    return TRUE;
}

void CLumoraFeedDlg::EnableControls() {
    for (const ui::ControlState& c : ui::FeedEditorEnables(IsChecked(m_hWnd, IDC_SEARCH), !m_apikey.empty(),
                                                           ComboSelection(m_hWnd, IDC_SORTING)))
        EnableWindow(GetDlgItem(m_hWnd, c.id), c.enabled);
}

bool CLumoraFeedDlg::OnCommand(int id, int code) {
    if ((id == IDC_SEARCH || id == IDC_COLLECTION) && code == BN_CLICKED) {
        EnableControls();
        return true;
    }
    if (id == IDC_SORTING && code == CBN_SELCHANGE) {
        EnableControls();
        return true;
    }
    if (id == IDC_CHECK && code == BN_CLICKED) {
        OnCheck();
        return true;
    }
    if (id == IDC_LOAD && code == BN_CLICKED) {
        OnLoad();
        return true;
    }
    return CModalDialog::OnCommand(id, code);
}

bool CLumoraFeedDlg::ReadBackAndValidate() {
    ui::FeedFields f;
    f.type = IsChecked(m_hWnd, IDC_SEARCH) ? 0 : IsChecked(m_hWnd, IDC_COLLECTION) ? 1 : -1;
    f.query = GetItemText(m_hWnd, IDC_QUERY);
    for (int k = 0; k < 3; ++k) {
        f.categories[k] = IsChecked(m_hWnd, kCategoryBoxes[k]) ? 1 : 0;
        f.purity[k] = IsChecked(m_hWnd, kPurityBoxes[k]) ? 1 : 0;
    }
    f.sorting = ComboSelection(m_hWnd, IDC_SORTING);
    f.topRange = ComboSelection(m_hWnd, IDC_TOPRANGE);
    f.atleast = GetItemText(m_hWnd, IDC_ATLEAST);
    f.ratios = GetItemText(m_hWnd, IDC_RATIOS);
    f.username = GetItemText(m_hWnd, IDC_USERNAME);

    ui::StoreFields(f, m_feed);
    const bool dropped = m_collOwner.Store(ComboSelection(m_hWnd, IDC_COLLLIST), m_collections, m_feed);
    ui::RuleResult rule = ui::ValidateFeed(f, m_feed, dropped);
    if (rule.ok()) return true;
    ShowMessage(m_hWnd, LoadStr(rule.messageId));
    if (rule.focusControl) FocusAndSelect(m_hWnd, rule.focusControl);
    return false;
}

void CLumoraFeedDlg::OnOK() {
    if (ReadBackAndValidate()) EndDialog(m_hWnd, IDOK);
}

void CLumoraFeedDlg::ShowFailure(ui::RequestEnd end) {
    ShowMessage(m_hWnd, ui::RequestFailureText(end, m_api.m_errtext, ui::kRequestDeadlineMs / 1000));
}

void CLumoraFeedDlg::OnCheck() {
    if (!ReadBackAndValidate()) return;
    // The request works on copies: the dialog's own values stay the dialog's.
    const CLumoraFeed feed = m_feed;
    int total = 0, ok = 0;
    ui::RequestEnd end = RunServiceRequest(
        m_hWnd, m_api, [&] { return m_api.CheckFeed(feed, total); }, &ok);
    if (end == ui::RequestEnd::Finished && ok) {
        ShowMessage(m_hWnd, ui::CheckOkText(total));
    } else {
        ShowFailure(end);
    }
}

void CLumoraFeedDlg::OnLoad() {
    const std::string user = ui::TrimWhiteSpace(GetItemText(m_hWnd, IDC_USERNAME));
    if (user.empty()) {
        ShowMessage(m_hWnd, LoadStr(IDS_NEED_USERNAME_FIRST));
        return;
    }
    m_collections.RemoveAll();
    SendDlgItemMessageA(m_hWnd, IDC_COLLLIST, CB_RESETCONTENT, 0, 0);
    // The combo box now holds this user's collections (none until they come).
    m_collOwner.Listed(user);
    CCollectionArray found;
    int ok = 0;
    ui::RequestEnd end = RunServiceRequest(
        m_hWnd, m_api, [&] { return m_api.GetUserCollections(user.c_str(), found); }, &ok);
    if (end != ui::RequestEnd::Finished || !ok) {
        // Whatever a request that failed, threw or was given up half-way
        // appended stays out: the list and the combo box hold the same entries.
        ShowFailure(end);
        return;
    }
    m_collections = found;
    for (const CLumoraCollection& c : m_collections)
        AddComboItem(m_hWnd, IDC_COLLLIST, ui::LoadedCollectionItem(c));
    if (m_collections.GetSize() > 0)
        SendDlgItemMessageA(m_hWnd, IDC_COLLLIST, CB_SETCURSEL, 0, 0);
    else
        ShowMessage(m_hWnd, LoadStr(IDS_NO_COLLECTIONS));
}
