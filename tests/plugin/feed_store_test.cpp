// The feed list in the host's store: keys, their order, defaults, and what
// a load keeps of the feeds already in memory.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "support/test_host.h"

namespace {

// The per-feed keys in the order they are stored.
const char* const kFeedFields[] = {"Type",     "Flg",     "Query",  "Categories", "Purity", "Sorting",
                                   "TopRange", "Atleast", "Ratios", "Username",   "CollId", "CollName"};

class FeedStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { host = &InstallFakeHost(); }
    void TearDown() override { RemoveFakeHost(); }

    std::string Stored(const std::string& key) { return host->store["LumoraPlugIn/" + key]; }
    CLumoraFeed& AddFeed() {
        engine.ForTesting().Feeds().Add(CLumoraFeed());
        return engine.ForTesting().Feeds()[engine.ForTesting().Feeds().GetSize() - 1];
    }

    FakeHost* host = nullptr;
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0}, hosttype{0};
    CLumoraEngine engine{settings, closing, hosttype};
};

TEST_F(FeedStoreTest, SaveWritesTheCountThenEveryFeedKeyInOrder) {
    AddFeed();
    CLumoraFeed& c = AddFeed();
    c.Type = 1;
    c.Flg = 0x10001;  // stored whole, with the bit of the refresh pass
    c.Username = "alice";
    c.CollId = "42";
    c.CollName = "Best of";

    engine.SaveFeeds();

    std::vector<std::string> expected = {"LumoraPlugIn/nFeeds"};
    for (int i = 0; i < 2; ++i)
        for (const char* f : kFeedFields)
            expected.push_back("LumoraPlugIn/Feed" + std::to_string(i) + "_" + f);
    EXPECT_EQ(host->WrittenKeys(), expected);

    // Feed 0 with every default, numbers as numbers and texts as texts.
    struct {
        const char* key;
        int type;
        const char* value;
    } defaults[] = {
        {"Feed0_Type", SR_TYPE_INT, "0"},      {"Feed0_Flg", SR_TYPE_INT, "1"},
        {"Feed0_Query", SR_TYPE_TEXT, ""},     {"Feed0_Categories", SR_TYPE_TEXT, "111"},
        {"Feed0_Purity", SR_TYPE_TEXT, "100"}, {"Feed0_Sorting", SR_TYPE_INT, "0"},
        {"Feed0_TopRange", SR_TYPE_INT, "3"},  {"Feed0_Atleast", SR_TYPE_TEXT, ""},
        {"Feed0_Ratios", SR_TYPE_TEXT, ""},    {"Feed0_Username", SR_TYPE_TEXT, ""},
        {"Feed0_CollId", SR_TYPE_TEXT, ""},    {"Feed0_CollName", SR_TYPE_TEXT, ""},
    };
    for (const auto& d : defaults) {
        SCOPED_TRACE(d.key);
        bool seen = false;
        for (const auto& w : host->writes)
            if (w.key == d.key) {
                seen = true;
                EXPECT_EQ(w.rec.w[SR_TYPE], d.type);
            }
        EXPECT_TRUE(seen);
        EXPECT_EQ(Stored(d.key), d.value);
    }
    EXPECT_EQ(Stored("nFeeds"), "2");
    EXPECT_EQ(Stored("Feed1_Type"), "1");
    EXPECT_EQ(Stored("Feed1_Flg"), "65537");
    EXPECT_EQ(Stored("Feed1_CollName"), "Best of");
}

TEST_F(FeedStoreTest, AnEmptyListWritesOnlyTheCount) {
    engine.SaveFeeds();
    EXPECT_EQ(host->WrittenKeys(), std::vector<std::string>{"LumoraPlugIn/nFeeds"});
    EXPECT_EQ(Stored("nFeeds"), "0");
}

TEST_F(FeedStoreTest, LoadReadsEveryKeyInOrderWithItsDefault) {
    host->Set("LumoraPlugIn", "nFeeds", "2");
    host->Set("LumoraPlugIn", "Feed1_Query", "cats");
    host->Set("LumoraPlugIn", "Feed1_Flg", "65536");
    host->Set("LumoraPlugIn", "Feed1_Sorting", "5");

    engine.LoadFeeds();

    std::vector<std::string> expected = {"nFeeds"};
    for (int i = 0; i < 2; ++i)
        for (const char* f : kFeedFields) expected.push_back("Feed" + std::to_string(i) + "_" + f);
    std::vector<std::string> read;
    for (const auto& r : host->reads) {
        EXPECT_EQ(r.section, "LumoraPlugIn");
        read.push_back(r.key);
    }
    EXPECT_EQ(read, expected);

    ASSERT_EQ(engine.ForTesting().Feeds().GetSize(), 2);
    const CLumoraFeed& d = engine.ForTesting().Feeds()[0];
    CLumoraFeed fresh;
    EXPECT_TRUE(d.IsSameFeed(fresh));
    EXPECT_EQ(d.Flg, 1);
    EXPECT_TRUE(d.Username.empty() && d.CollId.empty() && d.CollName.empty());
    const CLumoraFeed& f = engine.ForTesting().Feeds()[1];
    EXPECT_EQ(f.Query, "cats");
    EXPECT_EQ(f.Flg, 65536);
    EXPECT_FALSE(f.IsEnabled());
    EXPECT_EQ(f.Sorting, 5);
    EXPECT_EQ(f.TopRange, 3);
    EXPECT_EQ(f.Categories, "111");
}

TEST_F(FeedStoreTest, SavedListLoadsBackUnchanged) {
    CLumoraFeed& a = AddFeed();
    a.Query = "red cars";
    a.Categories = "010";
    a.Purity = "110";
    a.Sorting = 5;
    a.TopRange = 6;
    a.Atleast = "2560x1440";
    a.Ratios = "16x9,21x9";
    CLumoraFeed& b = AddFeed();
    b.Type = 1;
    b.Flg = 0;
    b.Username = "bob";
    b.CollId = "7";
    b.CollName = "Mountains";
    engine.SaveFeeds();

    CLumoraEngine other{settings, closing, hosttype};
    other.LoadFeeds();
    ASSERT_EQ(other.ForTesting().Feeds().GetSize(), 2);
    EXPECT_TRUE(FeedsEqual(engine.ForTesting().Feeds(), other.ForTesting().Feeds()));
    EXPECT_EQ(other.ForTesting().Feeds()[1].Flg, 0);
    EXPECT_EQ(other.ForTesting().Feeds()[1].CollName, "Mountains");
}

struct CountCase {
    const char* stored;  // nullptr: no value in the store
    int feeds;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << (c.stored ? c.stored : "(none)");
}

class StoredCount : public FeedStoreTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(StoredCount, BadCountsLoadAsNoFeedsOrABoundedList) {
    engine.ForTesting().Feeds().SetSize(2);  // whatever was there before
    if (GetParam().stored) host->Set("LumoraPlugIn", "nFeeds", GetParam().stored);
    EXPECT_NO_THROW(engine.LoadFeeds());
    EXPECT_EQ(engine.ForTesting().Feeds().GetSize(), GetParam().feeds);
}

INSTANTIATE_TEST_SUITE_P(Counts, StoredCount,
                         ::testing::Values(CountCase{nullptr, 0}, CountCase{"0", 0}, CountCase{"3", 3},
                                           CountCase{"-1", 0}, CountCase{"-2147483648", 0},
                                           // A damaged count must not take the host down.
                                           CountCase{"2147483647", 10000}));

TEST_F(FeedStoreTest, LoadKeepsPoolsAndPagingOfFeedsThatStay) {
    for (int i = 0; i < 3; ++i) {
        CLumoraFeed& f = AddFeed();
        f.Page = 4 + i;
        f.Seed = "s" + std::to_string(i);
        for (int k = 0; k <= i; ++k) {
            CLumoraItem item;
            item.Id = std::to_string(i) + "-" + std::to_string(k);
            f.Items.Add(item);
        }
    }
    host->Set("LumoraPlugIn", "nFeeds", "2");
    host->Set("LumoraPlugIn", "Feed1_Query", "changed");
    engine.LoadFeeds();
    ASSERT_EQ(engine.ForTesting().Feeds().GetSize(), 2);
    EXPECT_EQ(engine.ForTesting().Feeds()[1].Query, "changed");
    EXPECT_EQ(engine.ForTesting().Feeds()[1].Page, 5);
    EXPECT_EQ(engine.ForTesting().Feeds()[1].Seed, "s1");
    EXPECT_EQ(engine.ForTesting().Feeds()[1].Items.GetSize(), 2);
    EXPECT_EQ(engine.ForTesting().Feeds()[0].Items.GetSize(), 1);

    host->Set("LumoraPlugIn", "nFeeds", "4");
    engine.LoadFeeds();
    ASSERT_EQ(engine.ForTesting().Feeds().GetSize(), 4);
    EXPECT_EQ(engine.ForTesting().Feeds()[1].Items.GetSize(), 2);
    EXPECT_EQ(engine.ForTesting().Feeds()[2].Items.GetSize(), 0)
        << "a feed beyond the old count starts empty";
    EXPECT_EQ(engine.ForTesting().Feeds()[2].Page, 0);
}

TEST_F(FeedStoreTest, ShrinkingLeavesOldKeysThatALoadNeverReads) {
    for (int i = 0; i < 5; ++i) AddFeed().Query = "q" + std::to_string(i);
    engine.SaveFeeds();
    engine.ForTesting().Feeds().SetSize(3);
    engine.SaveFeeds();
    EXPECT_EQ(Stored("nFeeds"), "3");
    EXPECT_EQ(Stored("Feed4_Query"), "q4");

    host->reads.clear();
    CLumoraEngine other{settings, closing, hosttype};
    other.LoadFeeds();
    EXPECT_EQ(other.ForTesting().Feeds().GetSize(), 3);
    for (const auto& r : host->reads) {
        EXPECT_EQ(r.key.find("Feed3_"), std::string::npos);
        EXPECT_EQ(r.key.find("Feed4_"), std::string::npos);
    }
}

TEST_F(FeedStoreTest, LoadClearsTheNotifiedFlagAndMarksAChange) {
    engine.ForTesting().CacheList().SetNotified(1);
    uint32_t before = engine.ForTesting().Generation();
    engine.LoadFeeds();
    EXPECT_EQ(engine.ForTesting().CacheList().Notified(), 0);
    EXPECT_NE(engine.ForTesting().Generation(), before);
}

}  // namespace
