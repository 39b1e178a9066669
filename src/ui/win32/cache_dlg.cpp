// The Local Cache dialog: the status rows of a folder's cache files and the
// command that deletes every cached file there.
#include <windows.h>

#include "common/strings.h"
#include "ui/dialog_logic.h"
#include "ui/win32/dialogs.h"
#include "ui/resource.h"
#include "ui/ui_strings.h"

BOOL CCacheDlg::OnInitDialog() {
    m_list.Attach(GetDlgItem(m_hWnd, IDC_CACHELIST));
    int width = m_list.GetClientWidth() / 2 - GetSystemMetrics(SM_CXVSCROLL) - 1;
    m_list.InsertColumn(0, "", width);
    m_list.InsertColumn(1, "", width);

    std::vector<std::string> names{ui::kStatusHeading}, values{""};
    m_cache.status(m_folder, names, values);
    for (size_t i = 0; i < names.size(); ++i) {
        int row = static_cast<int>(i);
        m_list.SetItemTextEx(row, 0, names[i].c_str(), -1);
        m_list.SetItemTextEx(row, 1, i < values.size() ? values[i].c_str() : "", -1);
    }
    return TRUE;
}

bool CCacheDlg::OnCommand(int id, int code) {
    if (id == IDC_CLEAN && code == BN_CLICKED) {
        OnClean();
        return true;
    }
    return CModalDialog::OnCommand(id, code);
}

void CCacheDlg::OnClean() {
    ui::CleanOutcome outcome;
    {
        CWaitCursor wait;
        outcome = ui::OutcomeOf(m_folder, m_cache.clear(m_folder), &SystemErrorText);
    }
    ShowMessage(m_hWnd, ui::CleanReport(outcome));
}
