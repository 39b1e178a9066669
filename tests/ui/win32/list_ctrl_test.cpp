// The list control helpers of the dialogs on a real report-view list.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "ui/win32/dialogs.h"

namespace {

class ListCtrl : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        m_hwnd = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_SINGLESEL, 0, 0, 300, 200,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(m_hwnd != nullptr);
        m_list.Attach(m_hwnd);
        m_list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        m_list.InsertColumn(0, "Name", 100);
        m_list.InsertColumn(1, "Value", 100);
    }
    void TearDown() override { DestroyWindow(m_hwnd); }

    std::string Text(int row, int col) {
        char buf[256] = {0};
        LVITEMA item = {};
        item.iSubItem = col;
        item.pszText = buf;
        item.cchTextMax = sizeof buf;
        SendMessageA(m_hwnd, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        return buf;
    }
    void Select(int row) {
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        SendMessageA(m_hwnd, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }

    HWND m_hwnd = nullptr;
    CListCtrlEx m_list;
};

TEST_F(ListCtrl, SelectedItemIsTheFirstSelectedRowOrMinusOne) {
    EXPECT_EQ(m_list.GetSelectedItem(), -1);  // empty list
    for (int i = 0; i < 3; ++i) m_list.InsertItem(i, "row");
    EXPECT_EQ(m_list.GetSelectedItem(), -1);  // rows, none selected
    Select(2);
    EXPECT_EQ(m_list.GetSelectedItem(), 2);
    Select(0);  // single selection: row 2 is no longer selected
    EXPECT_EQ(m_list.GetSelectedItem(), 0);
}

TEST_F(ListCtrl, SetItemTextExInsertsWithColumnZeroAndSetsOtherColumns) {
    EXPECT_EQ(m_list.SetItemTextEx(0, 0, "first", -1), 0);
    EXPECT_EQ(m_list.SetItemTextEx(1, 0, "second", -1), 1);
    EXPECT_EQ(m_list.SetItemTextEx(0, 0, "new first", -1), 0);  // inserts before
    EXPECT_EQ(m_list.GetItemCount(), 3);
    EXPECT_NE(m_list.SetItemTextEx(1, 1, "value", -1), 0);
    EXPECT_EQ(Text(0, 0), "new first");
    EXPECT_EQ(Text(1, 0), "first");
    EXPECT_EQ(Text(1, 1), "value");
    EXPECT_EQ(Text(2, 0), "second");
    // A row that does not exist is not created by a later column.
    EXPECT_EQ(m_list.SetItemTextEx(7, 1, "nowhere", -1), 0);
    EXPECT_EQ(m_list.GetItemCount(), 3);
}

TEST_F(ListCtrl, CheckBoxesRoundTrip) {
    for (int i = 0; i < 3; ++i) m_list.InsertItem(i, "row");
    const bool wanted[] = {true, false, true};
    for (int i = 0; i < 3; ++i) m_list.SetCheck(i, wanted[i]);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(m_list.GetCheck(i), wanted[i]) << i;
    m_list.SetCheck(0, false);
    EXPECT_FALSE(m_list.GetCheck(0));
    m_list.DeleteAllItems();
    EXPECT_EQ(m_list.GetItemCount(), 0);
}

}  // namespace
