// The engine object: its start state, shared queries, and the host-thread
// changes of the feed list.
#include <set>

#include "support/run_fixture.h"

using namespace erun;

namespace {

class EngineObjectTest : public EngineTest {};

TEST_F(EngineObjectTest, NewEngineIsEmpty) {
    CLumoraEngine e(settings, closing, hosttype);
    EXPECT_TRUE(e.ForTesting().Feeds().IsEmpty());
    EXPECT_TRUE(e.ForTesting().CacheList().Records().IsEmpty());
    EXPECT_TRUE(e.ForTesting().ShownFiles().IsEmpty());
    EXPECT_TRUE(e.ForTesting().Ids().empty());
    EXPECT_DOUBLE_EQ(e.ForTesting().CacheList().LastTime().m_dt, kOleDate2000);
    EXPECT_FALSE(e.ForTesting().Thread());
    EXPECT_EQ(e.ForTesting().Client(), &e.ForTesting().Api());
    EXPECT_EQ(e.ForTesting().Api().m_stop, &closing);
    EXPECT_EQ(e.ForTesting().Clock(), &SystemClock());
}

TEST_F(EngineObjectTest, SharedQueries) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    CLumoraFeed off = SearchFeed(1);
    off.Flg = 0x10000;
    engine->ForTesting().Feeds().Add(off);
    CLumoraFeed on = SearchFeed(2);
    on.Flg = 0x10001;
    engine->ForTesting().Feeds().Add(on);
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->CountEnabledFeeds(), 2);
    }

    engine->ForTesting().CacheList().Records().AddTail(CFileData("a", "a", 0));
    engine->ForTesting().CacheList().Records().AddTail(CFileData("b", "b", -1));
    engine->ForTesting().CacheList().Records().AddTail(CFileData("c", "c", -1));
    engine->ForTesting().CacheList().Records().AddTail(CFileData("d", "d", 2));
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->CountFeedFiles(-1), 2);
        EXPECT_EQ(engine->CountFeedFiles(0), 1);
        EXPECT_EQ(engine->CountFeedFiles(1), 0);
        EXPECT_EQ(engine->CountFeedFiles(2), 1);
    }
}

TEST_F(EngineObjectTest, RebuildIdMapTakesCachedAndPooledIdsOnce) {
    engine->ForTesting().CacheList().Records().AddTail(CFileData("x.jpg", "c1", 0));
    engine->ForTesting().CacheList().Records().AddTail(CFileData("y.jpg", "shared", 0));
    engine->ForTesting().CacheList().Records().AddTail(CFileData("z.jpg", "", -1));  // no id: skipped
    CLumoraFeed a = SearchFeed(0), b = SearchFeed(1);
    for (const char* id : {"a1", "a2", "shared"}) a.Items.Add(MakeItem(id));
    for (const char* id : {"b1", "b2", "b3"}) b.Items.Add(MakeItem(id));
    engine->ForTesting().Feeds().Add(a);
    engine->ForTesting().Feeds().Add(b);
    engine->ForTesting().Ids().insert("gone");
    {
        MutexLock held(engine->StateLockForTest());
        engine->RebuildIdMap();
    }
    EXPECT_EQ(engine->ForTesting().Ids().size(), 7u);
    EXPECT_EQ(engine->ForTesting().Ids().count("gone"), 0u);
    EXPECT_EQ(engine->ForTesting().Ids().count(""), 0u);
    const std::multiset<std::string> listed(engine->ForTesting().Ids().begin(),
                                            engine->ForTesting().Ids().end());
    EXPECT_EQ(listed, (std::multiset<std::string>{"c1", "shared", "a1", "a2", "b1", "b2", "b3"}));
}

// The dialog's OK with the same queries (a feed switched off, a label
// changed) keeps pools, files and the paging position the worker reached
// while the dialog was open.
TEST_F(EngineObjectTest, SameFeedListKeepsCacheAndProgress) {
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("p1"));
    engine->ForTesting().Feeds().Add(f);
    engine->ForTesting().Feeds().Add(CollectionFeed(3));
    AddCached(2, 0);
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    CFeedArray dialog;
    dialog.Copy(engine->ForTesting().Feeds());  // taken when the dialog opened
    // Meanwhile the worker moved on.
    engine->ForTesting().Feeds()[0].Page = 5;
    engine->ForTesting().Feeds()[0].LastPage = 9;
    engine->ForTesting().Feeds()[0].Seed = "later";
    engine->ForTesting().Feeds()[1].Retries = 2;
    dialog[0].Flg = 0;
    dialog[1].CollName = "renamed";
    const uint32_t generation = engine->ForTesting().Generation();
    engine->ApplyFeeds(dialog);
    EXPECT_EQ(engine->ForTesting().Generation(), generation);
    EXPECT_FALSE(engine->ForTesting().Feeds()[0].IsEnabled());
    EXPECT_EQ(engine->ForTesting().Feeds()[1].CollName, "renamed");
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 5);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].LastPage, 9);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Seed, "later");
    EXPECT_EQ(engine->ForTesting().Feeds()[1].Retries, 2);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Items.GetSize(), 1);
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 2);
    for (const CFileData& d : engine->ForTesting().CacheList().Records())
        EXPECT_TRUE(plat::PathExists(d.Path));
}

// A changed list clears the cache. Records the worker made since its last
// write of the list must be cleared too, not left behind as files nobody
// counts.
TEST_F(EngineObjectTest, ChangedFeedListClearsTheWholeCacheIncludingUnwrittenRecords) {
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("p1"));
    f.Page = 3;
    engine->ForTesting().Feeds().Add(f);
    AddCached(2, 0, "written");
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    AddCached(3, 0, "unwritten");
    engine->ForTesting().CacheList().SetDirty(1);
    CFeedArray dialog;
    dialog.Add(SearchFeed(7));
    const uint32_t generation = engine->ForTesting().Generation();
    engine->ApplyFeeds(dialog);
    EXPECT_NE(engine->ForTesting().Generation(), generation);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Query, "feed7");
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 0);
    EXPECT_TRUE(engine->ForTesting().Feeds()[0].Items.IsEmpty());
    EXPECT_TRUE(engine->ForTesting().CacheList().Records().IsEmpty());
    EXPECT_TRUE(FilesEndingWith(folder, ".jpg").empty());
}

}  // namespace
