// The feed editor's mapping between controls and a feed, its rules and its
// enabled states.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/strings.h"
#include "ui/dialog_logic.h"
#include "ui/resource.h"

namespace {

std::string Boxes(const int b[3]) {
    return std::to_string(b[0]) + std::to_string(b[1]) + std::to_string(b[2]);
}

TEST(FlagFields, ReadingAThreeCharacterField) {
    struct {
        const char* field;
        const char* boxes;
    } cases[] = {
        {"111", "111"}, {"100", "100"},  {"010", "010"}, {"000", "000"}, {"1", "100"},  {"01", "010"},
        {"", "000"},    {"0011", "001"}, {"x1y", "010"}, {"2", "000"},   {"11", "110"}, {" 11", "011"},
    };
    for (const auto& c : cases) {
        int b[3] = {7, 7, 7};
        ui::ReadFlagField(c.field, b);
        EXPECT_EQ(Boxes(b), c.boxes) << '"' << c.field << '"';
    }
}

TEST(FlagFields, EveryCombinationFormatsAndReadsBack) {
    for (int bits = 0; bits < 8; ++bits) {
        const int b[3] = {(bits >> 2) & 1, (bits >> 1) & 1, bits & 1};
        const std::string text = ui::FormatFlagField(b);
        EXPECT_EQ(text, Boxes(b));
        int back[3] = {};
        ui::ReadFlagField(text, back);
        EXPECT_EQ(Boxes(back), Boxes(b));
    }
}

TEST(FeedFields, OpeningAndStoringKeepsTheFeed) {
    CLumoraFeed f;
    f.Type = 0;
    f.Query = "sea  ";
    f.Categories = "101";
    f.Purity = "011";
    f.Sorting = 5;
    f.TopRange = 6;
    f.Atleast = " 1920x1080";
    f.Ratios = "16x9,21x9";
    f.Username = "demo";
    f.CollId = "27";
    f.CollName = "Nature";
    f.Flg = 0x10000;
    f.Seed = "abc";
    f.Page = 4;

    ui::FeedFields fields = ui::FieldsFromFeed(f);
    EXPECT_EQ(Boxes(fields.categories), "101");
    EXPECT_EQ(Boxes(fields.purity), "011");
    EXPECT_EQ(fields.sorting, 5);
    EXPECT_EQ(fields.topRange, 6);

    CLumoraFeed stored;
    stored.CollId = "99";
    stored.CollName = "Other";
    stored.Flg = 0;
    stored.Seed = "keep";
    ui::StoreFields(fields, stored);
    EXPECT_EQ(stored.Query, "sea  ");
    EXPECT_EQ(stored.Categories, "101");
    EXPECT_EQ(stored.Purity, "011");
    EXPECT_EQ(stored.Sorting, 5);
    EXPECT_EQ(stored.TopRange, 6);
    EXPECT_EQ(stored.Atleast, " 1920x1080");
    EXPECT_EQ(stored.Ratios, "16x9,21x9");
    EXPECT_EQ(stored.Username, "demo");
    EXPECT_EQ(stored.CollId, "99");
    EXPECT_EQ(stored.CollName, "Other");
    EXPECT_EQ(stored.Flg, 0);
    EXPECT_EQ(stored.Seed, "keep");
}

TEST(FeedFields, ShortFlagFieldsAreSavedAsThreeCharacters) {
    CLumoraFeed f;
    f.Categories = "1";
    f.Purity = "";
    CLumoraFeed stored;
    ui::StoreFields(ui::FieldsFromFeed(f), stored);
    EXPECT_EQ(stored.Categories, "100");
    EXPECT_EQ(stored.Purity, "000");
}

TEST(FeedFields, CollectionChoice) {
    CCollectionArray colls;
    CLumoraCollection a, b;
    a.Id = "15";
    a.Label = "Default";
    b.Id = "27";
    b.Label = "Nature";
    colls.Add(a);
    colls.Add(b);
    struct {
        int type;
        int selected;
        const char* id;
        const char* label;
    } cases[] = {
        {1, 0, "15", "Default"}, {1, 1, "27", "Nature"}, {1, -1, "old", "Old"},
        {1, 2, "old", "Old"},    {0, 1, "old", "Old"},   {-1, 0, "old", "Old"},
    };
    for (const auto& c : cases) {
        CLumoraFeed f;
        f.Type = c.type;
        f.CollId = "old";
        f.CollName = "Old";
        ui::StoreCollectionChoice(c.selected, colls, f);
        EXPECT_EQ(f.CollId, c.id) << c.type << "/" << c.selected;
        EXPECT_EQ(f.CollName, c.label) << c.type << "/" << c.selected;
    }
}

TEST(FeedRules, FirstFailingRuleDecides) {
    struct {
        int type;
        const char* categories;
        const char* purity;
        const char* username;
        const char* collId;
        unsigned message;
        int focus;
    } cases[] = {
        {0, "111", "100", "", "", 0, 0},
        {0, "000", "100", "", "", IDS_NEED_CATEGORY, 0},
        {0, "000", "000", "", "", IDS_NEED_CATEGORY, 0},
        {0, "001", "000", "", "", IDS_NEED_PURITY, 0},
        {0, "010", "001", "", "", 0, 0},
        {1, "000", "000", "", "", IDS_NEED_USERNAME, IDC_USERNAME},
        {1, "000", "000", "", "27", IDS_NEED_USERNAME, IDC_USERNAME},
        // Blanks are no user name: Load trims them, and would find none.
        {1, "111", "100", "   ", "", IDS_NEED_USERNAME, IDC_USERNAME},
        {1, "111", "100", "demo", "", IDS_NEED_COLLECTION, IDC_USERNAME},
        {1, "000", "000", "demo", "27", 0, 0},
        {-1, "000", "000", "", "", 0, 0},
    };
    for (const auto& c : cases) {
        CLumoraFeed f;
        f.Type = c.type;
        f.Categories = c.categories;
        f.Purity = c.purity;
        f.Username = c.username;
        f.CollId = c.collId;
        ui::RuleResult r = ui::ValidateFeed(ui::FieldsFromFeed(f), f);
        EXPECT_EQ(r.messageId, c.message) << c.type << " " << c.categories << " " << c.purity << " '"
                                          << c.username << "' '" << c.collId << "'";
        EXPECT_EQ(r.focusControl, c.focus);
        EXPECT_EQ(r.ok(), c.message == 0);
    }
}

std::set<int> EnabledIds(bool search, bool key, int sorting) {
    std::set<int> on;
    for (const ui::ControlState& c : ui::FeedEditorEnables(search, key, sorting))
        if (c.enabled) on.insert(c.id);
    return on;
}

TEST(FeedEditorEnables, FollowTypeKeyAndSorting) {
    const std::set<int> searchPart = {IDC_QUERY,   IDC_GENERAL, IDC_ANIME,   IDC_PEOPLE, IDC_SFW,
                                      IDC_SKETCHY, IDC_SORTING, IDC_ATLEAST, IDC_RATIOS};
    const std::set<int> collectionPart = {IDC_USERNAME, IDC_COLLLIST, IDC_LOAD};
    auto with = [](std::set<int> s, std::initializer_list<int> more) {
        s.insert(more);
        return s;
    };
    EXPECT_EQ(EnabledIds(true, true, 0), with(searchPart, {IDC_NSFW}));
    EXPECT_EQ(EnabledIds(true, true, 5), with(searchPart, {IDC_NSFW, IDC_TOPRANGE}));
    EXPECT_EQ(EnabledIds(true, false, 5), with(searchPart, {IDC_TOPRANGE}));
    EXPECT_EQ(EnabledIds(true, false, -1), searchPart);
    EXPECT_EQ(EnabledIds(false, true, 5), collectionPart);
    EXPECT_EQ(EnabledIds(false, false, 0), collectionPart);
    // Every control of both parts is set each time, so none keeps a stale state.
    EXPECT_EQ(ui::FeedEditorEnables(true, true, 5).size(), searchPart.size() + 2 + collectionPart.size());
}

TEST(CollectionItems, Texts) {
    CLumoraFeed f;
    f.CollId = "27";
    f.CollName = "Nature";
    EXPECT_EQ(ui::CurrentCollectionItem(f), "Nature (27)");
    CLumoraCollection c;
    c.Label = "Default";
    c.Count = 10;
    EXPECT_EQ(ui::LoadedCollectionItem(c), "Default (10 wallpapers)");
    c.Count = 0;
    c.Label = "";
    EXPECT_EQ(ui::LoadedCollectionItem(c), " (0 wallpapers)");
}

}  // namespace
