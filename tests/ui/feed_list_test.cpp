// Edits of the main dialog's feed list: rows, check boxes, add, edit.
#include <gtest/gtest.h>

#include "ui/dialog_logic.h"
#include "ui/resource.h"

namespace {

CLumoraFeed WithFlg(int flg, const char* query = "") {
    CLumoraFeed f;
    f.Flg = flg;
    f.Query = query;
    return f;
}

TEST(FeedRows, TextAndCheckBoxFromEnabledBit) {
    CFeedArray feeds;
    feeds.Add(WithFlg(1, "a"));
    feeds.Add(WithFlg(0, "b"));
    feeds.Add(WithFlg(0x10001, "c"));
    feeds.Add(WithFlg(0x10000, "d"));
    std::vector<ui::FeedRow> rows = ui::BuildFeedRows(feeds);
    ASSERT_EQ(rows.size(), 4u);
    const bool checked[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i].text, feeds[i].GetDescription());
        EXPECT_EQ(rows[i].checked, checked[i]) << i;
    }
    EXPECT_TRUE(ui::BuildFeedRows(CFeedArray()).empty());
}

TEST(FeedList, AddAppendsAnEnabledFeedLast) {
    CFeedArray feeds;
    feeds.Add(WithFlg(1, "first"));
    EXPECT_EQ(ui::AppendNewFeed(feeds, WithFlg(0x10000, "new")), 1);
    ASSERT_EQ(feeds.GetSize(), 2);
    EXPECT_EQ(feeds[1].Query, "new");
    EXPECT_EQ(feeds[1].Flg, 0x10001);  // other bits are kept
}

TEST(FeedList, EditTakesTheRowCheckBoxAndKeepsThePool) {
    for (bool checked : {true, false}) {
        CFeedArray feeds;
        feeds.Add(WithFlg(1, "old"));
        feeds[0].Items.Add(CLumoraItem());
        feeds[0].Items.Add(CLumoraItem());
        CLumoraFeed edited = WithFlg(checked ? 0x10000 : 0x10001, "new");
        ui::ReplaceEditedFeed(feeds, 0, edited, checked);
        EXPECT_EQ(feeds[0].Query, "new");
        EXPECT_EQ(feeds[0].Flg, checked ? 0x10001 : 0x10000);
        EXPECT_EQ(feeds[0].Items.GetSize(), 2);
    }
}

TEST(FeedList, ChecksGoIntoBitZeroOnly) {
    CFeedArray feeds;
    feeds.Add(WithFlg(0));
    feeds.Add(WithFlg(0x10001));
    feeds.Add(WithFlg(1));
    feeds.Add(WithFlg(0x10000));
    ui::CopyChecksToFeeds({true, false, true}, feeds);
    EXPECT_EQ(feeds[0].Flg, 1);
    EXPECT_EQ(feeds[1].Flg, 0x10000);
    EXPECT_EQ(feeds[2].Flg, 1);
    EXPECT_EQ(feeds[3].Flg, 0x10000);                                  // no row for it: unchanged
    ui::CopyChecksToFeeds({false, false, false, false, true}, feeds);  // a row too many is ignored
    for (int i = 0; i < feeds.GetSize(); ++i) EXPECT_FALSE(feeds[i].IsEnabled()) << i;
}

TEST(FeedList, SelectionMustNameAFeed) {
    CFeedArray feeds;
    feeds.Add(CLumoraFeed());
    feeds.Add(CLumoraFeed());
    struct {
        int row;
        bool valid;
    } cases[] = {{-1, false}, {0, true}, {1, true}, {2, false}, {-7, false}};
    for (const auto& c : cases) EXPECT_EQ(ui::IsValidSelection(c.row, feeds), c.valid) << c.row;
    EXPECT_FALSE(ui::IsValidSelection(0, CFeedArray()));
}

TEST(MainDialogEnables, EnabledBoxControlsTheSettingControlsOnly) {
    for (bool on : {true, false}) {
        std::vector<ui::ControlState> states = ui::MainDialogEnables(on);
        std::vector<int> ids;
        for (const ui::ControlState& s : states) {
            ids.push_back(s.id);
            EXPECT_EQ(s.enabled, on) << s.id;
        }
        EXPECT_EQ(ids, (std::vector<int>{IDC_FOLDER_LABEL, IDC_FOLDER, IDC_BROWSE, IDC_FEEDLIST, IDC_SETTINGS,
                                         IDC_ADD, IDC_EDIT, IDC_DELETE, IDC_APIKEY}));
    }
}

}  // namespace
