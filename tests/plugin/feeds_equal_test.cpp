// Whether an edited feed list asks the service for the same things: only
// then are the downloaded images kept.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "common/records.h"

namespace {

// Feed 0: search sorted by date; feed 1: a collection; feed 2: a top list.
CFeedArray BaseList() {
    CFeedArray list;
    CLumoraFeed search;
    search.Query = "Nature";
    search.Sorting = 1;
    list.Add(search);
    CLumoraFeed coll;
    coll.Type = 1;
    coll.Username = "alice";
    coll.CollId = "42";
    coll.CollName = "Best";
    list.Add(coll);
    CLumoraFeed top;
    top.Sorting = 5;
    top.TopRange = 2;
    top.Purity = "110";
    list.Add(top);
    return list;
}

struct EqualCase {
    const char* name;
    std::function<void(CFeedArray&)> edit;  // applied to a copy of the base list
    bool equal;
};

void PrintTo(const EqualCase& c, std::ostream* os) {
    *os << c.name;
}

const EqualCase kCases[] = {
    {"unchanged", [](CFeedArray&) {}, true},
    {"feed disabled", [](CFeedArray& l) { l[0].Flg &= ~CLumoraFeed::kEnabled; }, true},
    {"queried bit set", [](CFeedArray& l) { l[2].Flg |= CLumoraFeed::kQueried; }, true},
    {"collection renamed", [](CFeedArray& l) { l[1].CollName = "Renamed"; }, true},
    {"run state and pool differ",
     [](CFeedArray& l) {
         l[0].Seed = "xyz";
         l[0].Page = 9;
         l[0].LastPage = 12;
         l[0].Retries = 3;
         l[0].Items.Add(CLumoraItem());
     },
     true},
    {"search fields of a collection feed",
     [](CFeedArray& l) {
         l[1].Query = "other";
         l[1].Sorting = 3;
     },
     true},
    {"query letter case", [](CFeedArray& l) { l[0].Query = "nature"; }, false},
    {"categories", [](CFeedArray& l) { l[0].Categories = "110"; }, false},
    {"purity", [](CFeedArray& l) { l[2].Purity = "100"; }, false},
    {"minimum resolution", [](CFeedArray& l) { l[0].Atleast = "1920x1080"; }, false},
    {"ratios", [](CFeedArray& l) { l[0].Ratios = "16x9"; }, false},
    {"sorting", [](CFeedArray& l) { l[0].Sorting = 2; }, false},
    {"top range of a date-sorted feed", [](CFeedArray& l) { l[0].TopRange = 4; }, false},
    {"top range of a top list", [](CFeedArray& l) { l[2].TopRange = 0; }, false},
    {"collection owner", [](CFeedArray& l) { l[1].Username = "Alice"; }, false},
    {"collection id", [](CFeedArray& l) { l[1].CollId = "43"; }, false},
    {"type", [](CFeedArray& l) { l[0].Type = 1; }, false},
    {"two feeds swapped",
     [](CFeedArray& l) {
         CLumoraFeed a = l[0];
         l[0] = l[2];
         l[2] = a;
     },
     false},
    {"one feed fewer", [](CFeedArray& l) { l.RemoveAt(2); }, false},
    {"one feed more", [](CFeedArray& l) { l.Add(CLumoraFeed()); }, false},
    {"list emptied", [](CFeedArray& l) { l.RemoveAll(); }, false},
};

class FeedsEqualTable : public ::testing::TestWithParam<EqualCase> {};

TEST_P(FeedsEqualTable, ComparesOnlyWhatTheServiceIsAskedFor) {
    const EqualCase& c = GetParam();
    CFeedArray oldList = BaseList();
    CFeedArray newList = BaseList();
    c.edit(newList);
    EXPECT_EQ(FeedsEqual(oldList, newList), c.equal);
    EXPECT_EQ(FeedsEqual(newList, oldList), c.equal) << "not symmetric";
}

INSTANTIATE_TEST_SUITE_P(Edits, FeedsEqualTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<EqualCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(FeedsEqual, EmptyListsAreEqual) {
    EXPECT_TRUE(FeedsEqual(CFeedArray(), CFeedArray()));
}

TEST(FeedsEqual, FeedsOfAnUnknownTypeNeverMatchEvenThemselves) {
    CFeedArray a;
    CLumoraFeed odd;
    odd.Type = 2;
    a.Add(odd);
    CFeedArray b = a;
    EXPECT_FALSE(odd.IsSameFeed(odd));
    EXPECT_FALSE(FeedsEqual(a, b));
}

}  // namespace
