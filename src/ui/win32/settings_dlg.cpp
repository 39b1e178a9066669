// The Settings dialog: property side file options and the cache size.
#include <windows.h>

#include <cstdio>

#include "ui/dialog_logic.h"
#include "ui/win32/dialogs.h"
#include "ui/resource.h"

BOOL CDwnlSettingsDlg::OnInitDialog() {
    SetChecked(m_hWnd, IDC_VPROP_TITLE, m_vpropTitle != 0);
    SetChecked(m_hWnd, IDC_VPROP_DESCR, m_vpropDescr != 0);
    char text[16];
    std::snprintf(text, sizeof text, "%u", m_maxLocal);
    SetItemText(m_hWnd, IDC_CACHESIZE, text);
    return TRUE;
}

void CDwnlSettingsDlg::OnOK() {
    std::string message;
    unsigned size = 0;
    if (ui::ParseCacheSize(GetItemText(m_hWnd, IDC_CACHESIZE), &size, &message) != 0) {
        ShowMessage(m_hWnd, message);
        FocusAndSelect(m_hWnd, IDC_CACHESIZE);
        return;
    }
    m_vpropTitle = IsChecked(m_hWnd, IDC_VPROP_TITLE) ? 1 : 0;
    m_vpropDescr = IsChecked(m_hWnd, IDC_VPROP_DESCR) ? 1 : 0;
    m_maxLocal = size;
    EndDialog(m_hWnd, IDOK);
}
