// The report-view list control of the dialogs.
#include <windows.h>
#include <commctrl.h>

#include "ui/win32/dialogs.h"

int CListCtrlEx::GetSelectedItem() const {
    return static_cast<int>(SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int CListCtrlEx::SetItemTextEx(int row, int column, const char* text, int image) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    if (image != -1) {
        item.mask |= LVIF_IMAGE;
        item.iImage = image;
    }
    UINT msg = column == 0 ? LVM_INSERTITEMA : LVM_SETITEMA;
    return static_cast<int>(SendMessageA(m_hWnd, msg, 0, reinterpret_cast<LPARAM>(&item)));
}

int CListCtrlEx::InsertColumn(int index, const char* heading, int width) {
    LVCOLUMNA col = {};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = LVCFMT_LEFT;
    col.cx = width;
    col.pszText = const_cast<char*>(heading);
    col.iSubItem = index;
    return static_cast<int>(SendMessageA(m_hWnd, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&col)));
}

void CListCtrlEx::DeleteAllItems() {
    SendMessageA(m_hWnd, LVM_DELETEALLITEMS, 0, 0);
}

int CListCtrlEx::InsertItem(int row, const char* text) {
    return SetItemTextEx(row, 0, text, -1);
}

int CListCtrlEx::GetItemCount() const {
    return static_cast<int>(SendMessageA(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
}

// State image 2 is checked, 1 unchecked.
bool CListCtrlEx::GetCheck(int row) const {
    UINT state = static_cast<UINT>(SendMessageA(m_hWnd, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return ((state >> 12) - 1) == 1;
}

void CListCtrlEx::SetCheck(int row, bool checked) {
    LVITEMA item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageA(m_hWnd, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

// A mask of 0 applies the whole value, so no other extended style stays on.
void CListCtrlEx::SetExtendedStyle(DWORD style) {
    SendMessageA(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style);
}

int CListCtrlEx::GetClientWidth() const {
    RECT rc = {};
    GetClientRect(m_hWnd, &rc);
    return rc.right - rc.left;
}
