// The engine object: its start state, shared queries, and the host-thread
// changes of the feed list.
#include <set>

#include "support/run_fixture.h"

using namespace erun;

namespace {

class EngineObjectTest : public EngineTest {};

TEST_F(EngineObjectTest, NewEngineIsEmpty) {
    CLumoraEngine e(settings, closing, hosttype);
    EXPECT_TRUE(e.m_feeds.IsEmpty());
    EXPECT_TRUE(e.CacheList().Records().IsEmpty());
    EXPECT_TRUE(e.m_dispfiles.IsEmpty());
    EXPECT_TRUE(e.m_ids.empty());
    EXPECT_DOUBLE_EQ(e.CacheList().LastTime().m_dt, kOleDate2000);
    EXPECT_FALSE(e.m_thread);
    EXPECT_EQ(e.m_client, &e.m_api);
    EXPECT_EQ(e.m_api.m_stop, &closing);
    EXPECT_EQ(e.m_clock, &SystemClock());
}

TEST_F(EngineObjectTest, SharedQueries) {
    engine->m_feeds.Add(SearchFeed(0));
    CLumoraFeed off = SearchFeed(1);
    off.Flg = 0x10000;
    engine->m_feeds.Add(off);
    CLumoraFeed on = SearchFeed(2);
    on.Flg = 0x10001;
    engine->m_feeds.Add(on);
    EXPECT_EQ(engine->CountEnabledFeeds(), 2);

    engine->CacheList().Records().AddTail(CFileData("a", "a", 0));
    engine->CacheList().Records().AddTail(CFileData("b", "b", -1));
    engine->CacheList().Records().AddTail(CFileData("c", "c", -1));
    engine->CacheList().Records().AddTail(CFileData("d", "d", 2));
    EXPECT_EQ(engine->CountFeedFiles(-1), 2);
    EXPECT_EQ(engine->CountFeedFiles(0), 1);
    EXPECT_EQ(engine->CountFeedFiles(1), 0);
    EXPECT_EQ(engine->CountFeedFiles(2), 1);
}

TEST_F(EngineObjectTest, RebuildIdMapTakesCachedAndPooledIdsOnce) {
    engine->CacheList().Records().AddTail(CFileData("x.jpg", "c1", 0));
    engine->CacheList().Records().AddTail(CFileData("y.jpg", "shared", 0));
    engine->CacheList().Records().AddTail(CFileData("z.jpg", "", -1));  // no id: skipped
    CLumoraFeed a = SearchFeed(0), b = SearchFeed(1);
    for (const char* id : {"a1", "a2", "shared"}) a.Items.Add(MakeItem(id));
    for (const char* id : {"b1", "b2", "b3"}) b.Items.Add(MakeItem(id));
    engine->m_feeds.Add(a);
    engine->m_feeds.Add(b);
    engine->m_ids.insert("gone");
    engine->RebuildIdMap();
    EXPECT_EQ(engine->m_ids.size(), 7u);
    EXPECT_EQ(engine->m_ids.count("gone"), 0u);
    EXPECT_EQ(engine->m_ids.count(""), 0u);
    const std::multiset<std::string> listed(engine->m_ids.begin(), engine->m_ids.end());
    EXPECT_EQ(listed, (std::multiset<std::string>{"c1", "shared", "a1", "a2", "b1", "b2", "b3"}));
}

// The dialog's OK with the same queries (a feed switched off, a label
// changed) keeps pools, files and the paging position the worker reached
// while the dialog was open.
TEST_F(EngineObjectTest, SameFeedListKeepsCacheAndProgress) {
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("p1"));
    engine->m_feeds.Add(f);
    engine->m_feeds.Add(CollectionFeed(3));
    AddCached(2, 0);
    engine->SaveFileList(ListSave::kAlways);
    CFeedArray dialog;
    dialog.Copy(engine->m_feeds);  // taken when the dialog opened
    // Meanwhile the worker moved on.
    engine->m_feeds[0].Page = 5;
    engine->m_feeds[0].LastPage = 9;
    engine->m_feeds[0].Seed = "later";
    engine->m_feeds[1].Retries = 2;
    dialog[0].Flg = 0;
    dialog[1].CollName = "renamed";
    const uint32_t generation = engine->m_generation;
    engine->ApplyFeeds(dialog);
    EXPECT_EQ(engine->m_generation, generation);
    EXPECT_FALSE(engine->m_feeds[0].IsEnabled());
    EXPECT_EQ(engine->m_feeds[1].CollName, "renamed");
    EXPECT_EQ(engine->m_feeds[0].Page, 5);
    EXPECT_EQ(engine->m_feeds[0].LastPage, 9);
    EXPECT_EQ(engine->m_feeds[0].Seed, "later");
    EXPECT_EQ(engine->m_feeds[1].Retries, 2);
    EXPECT_EQ(engine->m_feeds[0].Items.GetSize(), 1);
    EXPECT_EQ(engine->CacheList().Records().GetCount(), 2);
    for (const CFileData& d : engine->CacheList().Records()) EXPECT_TRUE(plat::PathExists(d.Path));
}

// A changed list clears the cache. Records the worker made since its last
// write of the list must be cleared too, not left behind as files nobody
// counts.
TEST_F(EngineObjectTest, ChangedFeedListClearsTheWholeCacheIncludingUnwrittenRecords) {
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("p1"));
    f.Page = 3;
    engine->m_feeds.Add(f);
    AddCached(2, 0, "written");
    engine->SaveFileList(ListSave::kAlways);
    AddCached(3, 0, "unwritten");
    engine->CacheList().SetDirty(1);
    CFeedArray dialog;
    dialog.Add(SearchFeed(7));
    const uint32_t generation = engine->m_generation;
    engine->ApplyFeeds(dialog);
    EXPECT_NE(engine->m_generation, generation);
    EXPECT_EQ(engine->m_feeds[0].Query, "feed7");
    EXPECT_EQ(engine->m_feeds[0].Page, 0);
    EXPECT_TRUE(engine->m_feeds[0].Items.IsEmpty());
    EXPECT_TRUE(engine->CacheList().Records().IsEmpty());
    EXPECT_TRUE(FilesEndingWith(folder, ".jpg").empty());
}

}  // namespace
