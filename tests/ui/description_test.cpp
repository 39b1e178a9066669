// The one-line feed texts of the feed list.
#include <gtest/gtest.h>

#include "common/records.h"

namespace {

struct SearchCase {
    const char* query;
    const char* categories;
    const char* purity;
    int sorting;
    int topRange;
    const char* atleast;
    const char* ratios;
    const char* expected;
};

CLumoraFeed Search(const SearchCase& c) {
    CLumoraFeed f;
    f.Type = 0;
    f.Query = c.query;
    f.Categories = c.categories;
    f.Purity = c.purity;
    f.Sorting = c.sorting;
    f.TopRange = c.topRange;
    f.Atleast = c.atleast;
    f.Ratios = c.ratios;
    return f;
}

TEST(GetDescription, DefaultFeedReadsAllCategoriesSfwRandom) {
    EXPECT_EQ(CLumoraFeed().GetDescription(), "Search: (all) - Gen+Anime+People, SFW, Random");
}

TEST(GetDescription, SearchFeeds) {
    const SearchCase cases[] = {
        {"", "110", "100", 5, 3, "1920x1080", "", "Search: (all) - Gen+Anime, SFW, Top 1M, 1920x1080"},
        {"mountains", "001", "011", 1, 3, "", "16x9",
         "Search: mountains - People, Sketchy+NSFW, Date Added, 16x9"},
        {"a b", "111", "111", 2, 0, "1280x720", "21x9",
         "Search: a b - Gen+Anime+People, SFW+Sketchy+NSFW, Relevance, 1280x720, 21x9"},
        {"", "010", "001", 3, 0, "", "", "Search: (all) - Anime, NSFW, Views"},
        {"", "100", "010", 4, 0, "", "", "Search: (all) - Gen, Sketchy, Favorites"},
        // Every top-list range, and one outside the table.
        {"", "100", "100", 5, 0, "", "", "Search: (all) - Gen, SFW, Top 1D"},
        {"", "100", "100", 5, 1, "", "", "Search: (all) - Gen, SFW, Top 3D"},
        {"", "100", "100", 5, 2, "", "", "Search: (all) - Gen, SFW, Top 1W"},
        {"", "100", "100", 5, 4, "", "", "Search: (all) - Gen, SFW, Top 3M"},
        {"", "100", "100", 5, 5, "", "", "Search: (all) - Gen, SFW, Top 6M"},
        {"", "100", "100", 5, 6, "", "", "Search: (all) - Gen, SFW, Top 1Y"},
        {"", "100", "100", 5, 9, "", "", "Search: (all) - Gen, SFW, Top "},
        {"", "100", "100", 5, -1, "", "", "Search: (all) - Gen, SFW, Top "},
        // The range only shows with the top list.
        {"", "100", "100", 0, 6, "", "", "Search: (all) - Gen, SFW, Random"},
        // A sorting outside the table adds no piece, and no piece at all drops " - ".
        {"", "100", "100", 6, 3, "", "", "Search: (all) - Gen, SFW"},
        {"cats", "000", "000", -1, 3, "", "", "Search: cats"},
        {"", "000", "000", 7, 3, "", "4x3", "Search: (all) - 4x3"},
        // Short or odd flag fields: only a '1' at a position counts.
        {"", "1", "", 0, 3, "", "", "Search: (all) - Gen, Random"},
        {"", "", "01", 0, 3, "", "", "Search: (all) - Sketchy, Random"},
        {"", "2x1", "1111", 0, 3, "", "", "Search: (all) - People, SFW+Sketchy+NSFW, Random"},
        // Text is shown as stored, never used as a format.
        {"100%s %d", "100", "100", 0, 3, "", "", "Search: 100%s %d - Gen, SFW, Random"},
    };
    for (const SearchCase& c : cases) EXPECT_EQ(Search(c).GetDescription(), c.expected) << c.expected;
}

TEST(GetDescription, CollectionFeedsShowUserAndLabelOrId) {
    struct {
        const char* user;
        const char* id;
        const char* label;
        const char* expected;
    } cases[] = {
        {"demo", "27", "Nature", "Collection: demo/Nature"},
        {"demo", "27", "", "Collection: demo/27"},
        {"", "", "", "Collection: /"},
        {"zo\xeb", "51", "Fleurs d'\xe9t\xe9", "Collection: zo\xeb/Fleurs d'\xe9t\xe9"},
    };
    for (const auto& c : cases) {
        CLumoraFeed f;
        f.Type = 1;
        f.Username = c.user;
        f.CollId = c.id;
        f.CollName = c.label;
        f.Query = "ignored";
        EXPECT_EQ(f.GetDescription(), c.expected);
    }
}

TEST(GetDescription, UnknownTypesAreEmpty) {
    for (int type : {2, -1, 7}) {
        CLumoraFeed f;
        f.Type = type;
        f.Username = "demo";
        f.CollId = "27";
        EXPECT_EQ(f.GetDescription(), "") << type;
    }
}

}  // namespace
