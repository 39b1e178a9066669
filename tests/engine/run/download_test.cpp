// Download passes: the interval they ask for, eviction, round robin, the
// records they make, and what they do with answers that come too late.
#include "support/run_fixture.h"

using namespace erun;

namespace {

class DownloadTest : public EngineTest {
  public:
    void AddFeedWithPool(int key, int items, const std::string& tag = "i") {
        CLumoraFeed f = SearchFeed(key);
        for (int i = 0; i < items; ++i)
            f.Items.Add(MakeItem(tag + std::to_string(key) + "-" + std::to_string(i)));
        engine->ForTesting().Feeds().Add(f);
    }
    int Pass(uint32_t& interval) { return engine->DownloadImages(&interval); }
};

// ---- the interval table ------------------------------------------------------------
ServiceAnswer Image() {
    return KindAnswer(ServiceAnswer::kDone);
}

struct IntervalCase {
    const char* name;
    std::vector<ServiceAnswer> answers;  // what the transfers come to, one per pass
    int cachedBefore;                    // records of feed 0 already cached (MaxLocal 10)
    uint32_t startInterval;
    uint32_t expectInterval;
    int expectLastResult;
};

class DownloadInterval : public DownloadTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(DownloadInterval, FollowsTheAnswers) {
    const IntervalCase& c = GetParam();
    settings.MaxLocal = 10;
    AddFeedWithPool(0, 5);
    AddCached(c.cachedBefore, 0);
    // Transfers past the listed answers bring an image.
    size_t next = 0;
    client.onDownload = [&](const std::string&, const std::string& file) {
        const ServiceAnswer r = next < c.answers.size() ? c.answers[next] : KindAnswer(ServiceAnswer::kDone);
        ++next;
        return r.Ok() ? FakeClient::WriteBytes(file, "img") : r;
    };
    uint32_t interval = c.startInterval;
    int last = 99;
    while (next < c.answers.size()) last = Pass(interval);
    EXPECT_EQ(next, c.answers.size() + (c.expectLastResult == 1 && !c.answers.back().Ok() ? 1 : 0)) << c.name;
    EXPECT_EQ(interval, c.expectInterval) << c.name;
    EXPECT_EQ(last, c.expectLastResult) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DownloadInterval,
    ::testing::Values(
        IntervalCase{"success below the fast-pace mark", {Image()}, 0, 10000, 2000, 1},
        IntervalCase{"success reaching the fast-pace mark", {Image()}, 7, 2000, 10000, 1},  // 8 of 10
        IntervalCase{"success just below the mark", {Image()}, 6, 10000, 2000, 1},          // 7 of 10
        // A wallpaper's own failure: the pass tries the next one at once.
        IntervalCase{"403, the next one in the same pass", {StatusAnswer(403)}, 0, 10000, 2000, 1},
        IntervalCase{"404, the next one in the same pass", {StatusAnswer(404)}, 0, 10000, 2000, 1},
        IntervalCase{"not an image, the next one", {KindAnswer(ServiceAnswer::kNotImage)}, 0, 10000, 2000, 1},
        IntervalCase{"cut body, the next one", {KindAnswer(ServiceAnswer::kCutBody)}, 0, 10000, 2000, 1},
        IntervalCase{"three 404s, then an image",
                     {StatusAnswer(404), StatusAnswer(404), StatusAnswer(404)},
                     0,
                     10000,
                     2000,
                     1},
        // Every wallpaper of the pool fails: from the fourth in a row the pace slows.
        // One pass of failures keeps the pace; a second in a row stretches it
        // (LivenessTest.OnePassOfFailingWallpapersDoesNotStretchTheInterval).
        IntervalCase{
            "a pool of five 404s",
            {StatusAnswer(404), StatusAnswer(404), StatusAnswer(404), StatusAnswer(404), StatusAnswer(404)},
            0,
            10000,
            2000,
            -1},
        IntervalCase{"429", {StatusAnswer(429)}, 0, 2000, 42000, -1},
        IntervalCase{"429 then success", {StatusAnswer(429), Image()}, 0, 2000, 2000, 1},
        IntervalCase{"500 adds 2 s", {StatusAnswer(500)}, 0, 10000, 12000, -1},
        IntervalCase{"503 adds 2 s", {StatusAnswer(503)}, 0, 10000, 12000, -1},
        IntervalCase{"408 adds 2 s", {StatusAnswer(408)}, 0, 10000, 12000, -1},
        // No answer: the first pause of requests without one.
        IntervalCase{"failure without status", {KindAnswer(ServiceAnswer::kBroken)}, 0, 10000, 5000, -1},
        IntervalCase{"local file not created", {KindAnswer(ServiceAnswer::kNotSent)}, 0, 2000, 5000, -1},
        IntervalCase{"status below 400, the next one", {StatusAnswer(302)}, 0, 10000, 2000, 1}),
    [](const ::testing::TestParamInfo<IntervalCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

struct IdleCase {
    const char* name;
    std::function<void(DownloadTest*, CLumoraEngine&)> setup;
    const char* expectLine;  // empty: no cache-full line expected
};
class DownloadIdle : public DownloadTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(DownloadIdle, NoTransferGivesTwoSecondsAndZero) {
    const IdleCase& c = GetParam();
    c.setup(this, *engine);
    uint32_t interval = 30000;
    EXPECT_EQ(Pass(interval), 0) << c.name;
    EXPECT_EQ(interval, 2000u) << c.name;
    EXPECT_EQ(client.downloadCalls.load(), 0) << c.name;
    if (*c.expectLine) {
        EXPECT_TRUE(Log().Has(c.expectLine)) << c.name << "\n" << Log().Dump();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DownloadIdle,
    ::testing::Values(IdleCase{"no feeds", [](DownloadTest*, CLumoraEngine&) {}, ""},
                      IdleCase{"every feed disabled",
                               [](DownloadTest* t, CLumoraEngine& e) {
                                   t->AddFeedWithPool(0, 3);
                                   t->AddFeedWithPool(1, 3);
                                   e.ForTesting().Feeds()[0].Flg = 0;
                                   e.ForTesting().Feeds()[1].Flg = 0x10000;
                               },
                               ""},
                      IdleCase{"MaxLocal 0",
                               [](DownloadTest* t, CLumoraEngine& e) {
                                   e.ForTesting().Settings().MaxLocal = 0;
                                   t->AddFeedWithPool(0, 3);
                               },
                               "DownloadImages: cache full (0/0)"},
                      IdleCase{"cache full counts every record",
                               [](DownloadTest* t, CLumoraEngine& e) {
                                   e.ForTesting().Settings().MaxLocal = 3;
                                   t->AddFeedWithPool(0, 3);
                                   CLumoraFeed off = SearchFeed(1);
                                   off.Flg = 0;
                                   e.ForTesting().Feeds().Add(off);
                                   t->AddCached(1, 0);
                                   t->AddCached(1, 1);   // a disabled feed's file
                                   t->AddCached(1, -1);  // no feed
                               },
                               "DownloadImages: cache full (3/3)"},
                      IdleCase{"per-feed cache full",
                               [](DownloadTest* t, CLumoraEngine& e) {
                                   e.ForTesting().Settings().MaxLocal = 2;
                                   t->AddFeedWithPool(0, 3);
                                   t->AddFeedWithPool(1, 0);
                                   t->AddCached(2, 0);
                               },
                               "DownloadImages: feed 0 per-feed cache full (2/2)"},
                      IdleCase{"empty pool without last page is skipped",
                               [](DownloadTest* t, CLumoraEngine&) { t->AddFeedWithPool(0, 0); }, ""}),
    [](const ::testing::TestParamInfo<IdleCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST_F(DownloadTest, ClosingOnEntryLeavesTheIntervalAlone) {
    AddFeedWithPool(0, 2);
    closing.store(1);
    uint32_t interval = 12345;
    EXPECT_EQ(Pass(interval), 0);
    EXPECT_EQ(interval, 12345u);
    EXPECT_EQ(client.downloadCalls.load(), 0);
}

TEST_F(DownloadTest, SuccessRecordsTheFileWritesSideFileAndEmptiesThePoolSlot) {
    settings.VpropTitle = 1;
    AddFeedWithPool(0, 1);
    uint32_t interval = 2000;
    ASSERT_EQ(Pass(interval), 1) << Log().Dump();
    ASSERT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 1);
    const CFileData& rec = *engine->ForTesting().CacheList().Records().begin();
    EXPECT_EQ(rec.Id, "i0-0");
    EXPECT_EQ(rec.FeedIndex, 0);
    EXPECT_EQ(rec.Path, Join(Join(folder, "sfw"), "w-i0-0.jpg"));
    EXPECT_TRUE(plat::PathExists(rec.Path));
    EXPECT_TRUE(plat::PathExists(Join(Join(folder, "sfw"), "w-i0-0.vprop")));
    EXPECT_TRUE(FilesEndingWith(folder, ".__t").empty());
    // The transfer went to the temporary name beside the final one.
    ASSERT_EQ(client.downloads.size(), 1u);
    EXPECT_EQ(client.downloads[0].first, "http://images.test/full/w-i0-0.jpg");
    EXPECT_EQ(client.downloads[0].second, Join(Join(folder, "sfw"), "w-i0-0.__t"));
    EXPECT_TRUE(engine->ForTesting().Feeds()[0].Items.IsEmpty());
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 1);
    EXPECT_TRUE(Log().Has("m_lclfiles Add: " + rec.Path + " i0-0 (feed 0)"));
    EXPECT_TRUE(Log().Has("feed 0 items removed, size=0"));
    // The id stays known, so a refresh does not bring the item back.
    engine->ForTesting().Ids().insert("i0-0");
    EXPECT_EQ(engine->ForTesting().Ids().count("i0-0"), 1u);
}

TEST_F(DownloadTest, WithoutSideFileSettingsNoSideFileIsWritten) {
    AddFeedWithPool(0, 1);
    uint32_t interval = 2000;
    ASSERT_EQ(Pass(interval), 1);
    EXPECT_TRUE(FilesEndingWith(folder, ".vprop").empty());
}

TEST_F(DownloadTest, Answer403DropsTheItemOtherFailuresKeepIt) {
    AddFeedWithPool(0, 1);
    client.onDownload = [](const std::string&, const std::string&) { return StatusAnswer(404); };
    uint32_t interval = 2000;
    EXPECT_EQ(Pass(interval), -1);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Items.GetSize(), 1);
    clock.Pass(CFeedPools::kItemRetryDelayMs);  // its next try is due
    client.onDownload = [](const std::string&, const std::string&) { return StatusAnswer(403); };
    EXPECT_EQ(Pass(interval), -1);
    EXPECT_TRUE(engine->ForTesting().Feeds()[0].Items.IsEmpty());
    EXPECT_TRUE(Log().Has("DownloadImages: 403 Access Denied for http://images.test/full/w-i0-0.jpg"));
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
}

TEST_F(DownloadTest, FeedsTakeTurnsAndAnEmptyFeedIsPassedOver) {
    AddFeedWithPool(0, 3);
    AddFeedWithPool(1, 0);
    AddFeedWithPool(2, 3);
    uint32_t interval = 2000;
    std::vector<int> order;
    for (int k = 0; k < 5; ++k) {
        ASSERT_EQ(Pass(interval), 1);
        order.push_back(std::prev(engine->ForTesting().CacheList().Records().end())->FeedIndex);
    }
    EXPECT_EQ(order, (std::vector<int>{0, 2, 0, 2, 0}));
    EXPECT_EQ(engine->ForTesting().NextFeed(), 1);
}

TEST_F(DownloadTest, ExhaustedFeedIsRotatedAndSkipped) {
    AddFeedWithPool(0, 0);
    engine->ForTesting().Feeds()[0].Page = 4;
    engine->ForTesting().Feeds()[0].LastPage = 4;
    engine->ForTesting().Feeds()[0].Seed = "s";
    uint32_t interval = 2000;
    EXPECT_EQ(Pass(interval), 0);
    EXPECT_TRUE(Log().Has("DownloadImages: feed 0 pool exhausted, rotating"));
    EXPECT_TRUE(Log().Has("RotateFeed 0: new paging seed"));
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 0);
}

TEST_F(DownloadTest, HostIsNotifiedOnceAtTheFifthFileOnlyForHostKindOne) {
    for (int kind : {0, 1, 7}) {
        Log().Clear();
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
        engine->ForTesting().UseClient(&client);
        hosttype.store(kind);
        AddFeedWithPool(0, 8, "k" + std::to_string(kind) + "_");
        uint32_t interval = 2000;
        std::vector<size_t> notifiesAfter;
        for (int k = 0; k < 8; ++k) {
            ASSERT_EQ(Pass(interval), 1);
            notifiesAfter.push_back(Log().Notifies().size());
        }
        if (kind == 1) {
            EXPECT_EQ(notifiesAfter, (std::vector<size_t>{0, 0, 0, 0, 1, 1, 1, 1}));
            EXPECT_EQ(Log().Notifies()[0], std::make_pair(22L, 1L));
        } else {
            EXPECT_EQ(notifiesAfter.back(), 0u) << "host kind " << kind;
        }
    }
}

// ---- eviction ---------------------------------------------------------------------------
struct EvictCase {
    const char* name;
    int maxLocal;
    int feeds;      // enabled feeds, each with a pool
    int cached;     // records, spread over feed 0 (all shown files are among them)
    int displayed;  // reports on record
    bool evicts;
};
class Eviction : public DownloadTest, public ::testing::WithParamInterface<EvictCase> {};

TEST_P(Eviction, OnlyAtTheLimitWithEnoughShownFiles) {
    const EvictCase& c = GetParam();
    settings.MaxLocal = c.maxLocal;
    for (int f = 0; f < c.feeds; ++f) AddFeedWithPool(f, 2);
    for (int i = 0; i < c.cached; ++i) {
        std::string path = Join(folder, "c" + std::to_string(i) + ".jpg");
        FakeClient::WriteBytes(path, "x");
        engine->ForTesting().CacheList().Records().AddTail(CFileData(path, "c" + std::to_string(i), -1));
    }
    for (int d = 0; d < c.displayed; ++d)
        engine->ForTesting().ShownFiles().AddTail(
            CFileData(Join(folder, "c" + std::to_string(d) + ".jpg"), "", -1));
    uint32_t interval = 2000;
    const int result = Pass(interval);
    const std::string oldest = Join(folder, "c0.jpg");
    if (c.evicts) {
        EXPECT_TRUE(Log().Has("CleanDispFiles: Removed " + oldest)) << c.name << "\n" << Log().Dump();
        EXPECT_FALSE(plat::PathExists(oldest)) << c.name;
        EXPECT_EQ(engine->ForTesting().ShownFiles().GetCount(), c.displayed - 1) << c.name;
        EXPECT_EQ(result, 1) << c.name;  // room again: one download
        EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), c.cached) << c.name;
    } else {
        EXPECT_TRUE(plat::PathExists(oldest)) << c.name;
        EXPECT_EQ(engine->ForTesting().ShownFiles().GetCount(), c.displayed) << c.name;
        EXPECT_EQ(result, 0) << c.name;
        const std::string full = "DownloadImages: cache full (" + std::to_string(c.cached) + "/" +
                                 std::to_string(c.maxLocal * c.feeds) + ")";
        EXPECT_TRUE(Log().Has(full)) << c.name << "\n" << Log().Dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Eviction,
                         ::testing::Values(EvictCase{"MaxLocal 100, three shown", 100, 2, 200, 3, false},
                                           EvictCase{"MaxLocal 100, four shown", 100, 2, 200, 4, true},
                                           EvictCase{"MaxLocal 10, four shown", 10, 1, 10, 4, true},
                                           EvictCase{"MaxLocal 9, one shown", 9, 1, 9, 1, true},
                                           EvictCase{"MaxLocal 5, one shown", 5, 1, 5, 1, true},
                                           EvictCase{"MaxLocal 5, none shown", 5, 1, 5, 0, false}),
                         [](const ::testing::TestParamInfo<EvictCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST_F(DownloadTest, ShownFileOutsideTheCacheCostsOneEvictionChance) {
    settings.MaxLocal = 5;
    AddFeedWithPool(0, 2);
    AddCached(5, -1);
    engine->ForTesting().ShownFiles().AddTail(CFileData(Join(folder, "elsewhere.jpg"), "", -1));
    engine->ForTesting().ShownFiles().AddTail(
        CFileData(std::string(engine->ForTesting().CacheList().Records().begin()->Path), "", -1));
    uint32_t interval = 2000;
    EXPECT_EQ(Pass(interval), 0);
    EXPECT_TRUE(Log().Has("DownloadImages: cache full (5/5)"));
    EXPECT_EQ(engine->ForTesting().ShownFiles().GetCount(), 1);
    EXPECT_EQ(Pass(interval), 1);  // the next pass evicts the cached one
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 5);
}

// ---- 64-bit limits ---------------------------------------------------------------------
TEST_F(DownloadTest, LimitsDoNotOverflowWithHugeCacheSizes) {
    settings.MaxLocal = 9999999;
    // 60 feeds: the limit fits 32 bits, limit x 4 does not; 300 feeds: the
    // limit itself does not.
    for (int feeds : {60, 300}) {
        engine->ForTesting().Feeds().RemoveAll();
        for (int f = 0; f < feeds; ++f) AddFeedWithPool(f, 1, "n" + std::to_string(feeds) + "_");
        uint32_t interval = 30000;
        EXPECT_EQ(Pass(interval), 1) << feeds << " feeds\n" << Log().Dump();
        EXPECT_EQ(interval, 2000u) << feeds << " feeds";
        EXPECT_TRUE(Log().LinesStartingWith("DownloadImages: cache full").empty()) << feeds << " feeds";
    }
}

TEST_F(DownloadTest, CacheFullLineShowsALimitBeyondThirtyTwoBits) {
    settings.MaxLocal = 9999999;
    for (int f = 0; f < 300; ++f) {
        CLumoraFeed feed = SearchFeed(f);
        feed.Flg = 1;
        engine->ForTesting().Feeds().Add(feed);
    }
    // No room problem: nothing pooled, a pass just finds nothing to do.
    uint32_t interval = 2000;
    EXPECT_EQ(Pass(interval), 0);
    EXPECT_TRUE(Log().LinesStartingWith("DownloadImages: cache full").empty());
    settings.MaxLocal = -9999999;
    EXPECT_EQ(Pass(interval), 0);
    EXPECT_TRUE(Log().Has("DownloadImages: cache full (0/-2999999700)")) << Log().Dump();
}

// ---- the cache list is written only by idle passes ---------------------------------------
TEST_F(DownloadTest, IdlePassWritesADirtyListButNoFeedsWritesNothing) {
    const std::string list = Join(folder, "vdt_vd_files.lst");
    engine->ForTesting().CacheList().SetDirty(1);
    uint32_t interval = 2000;
    EXPECT_EQ(Pass(interval), 0);
    EXPECT_FALSE(plat::PathExists(list));
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 1);

    AddFeedWithPool(0, 1);
    EXPECT_EQ(Pass(interval), 1);
    EXPECT_FALSE(plat::PathExists(list));  // a download leaves the writing for later
    EXPECT_EQ(Pass(interval), 0);          // nothing left: idle pass writes
    EXPECT_TRUE(plat::PathExists(list));
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 0);
}

// ---- results that must not be recorded --------------------------------------------------
TEST_F(DownloadTest, FileOfAFeedListReplacedDuringTheTransferIsDropped) {
    AddFeedWithPool(0, 1);
    std::string transferred;
    client.onDownload = [&](const std::string&, const std::string& file) {
        transferred = file;
        FakeClient::WriteBytes(file, "img");
        // The host's thread: the dialog's OK with another feed list.
        CFeedArray other;
        other.Add(SearchFeed(9));
        engine->ApplyFeeds(other);
        return KindAnswer(ServiceAnswer::kDone);
    };
    uint32_t interval = 2000;
    EXPECT_EQ(Pass(interval), -1);
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
    EXPECT_FALSE(plat::PathExists(transferred));
    EXPECT_TRUE(FilesEndingWith(folder, ".jpg").empty());
    EXPECT_EQ(interval, 2000u);
}

TEST_F(DownloadTest, EmptyTransferIsNotAnImage) {
    AddFeedWithPool(0, 1);
    client.onDownload = [](const std::string&, const std::string& file) {
        return FakeClient::WriteBytes(file, "");
    };
    uint32_t interval = 2000;
    EXPECT_EQ(Pass(interval), -1);
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Items.GetSize(), 1);
    EXPECT_TRUE(FilesEndingWith(folder, ".__t").empty());
    EXPECT_TRUE(FilesEndingWith(folder, ".jpg").empty());
}

// A failed rename must not record a file that is not there.
const plat::FileOps* g_realOps = nullptr;
bool FailingMove(const std::string&, const std::string&, int* error) {
    if (error) *error = plat::kErrSharingViolation;
    return false;
}

TEST_F(DownloadTest, FailedRenameRecordsNothingAndLeavesNoTemporaryFile) {
    AddFeedWithPool(0, 1);
    g_realOps = &plat::RealFileOps();
    plat::FileOps ops = *g_realOps;
    ops.moveReplace = &FailingMove;
    plat::SetFileOpsForTest(&ops);
    uint32_t interval = 2000;
    const int result = Pass(interval);
    plat::SetFileOpsForTest(nullptr);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Items.GetSize(), 1);
    EXPECT_TRUE(FilesEndingWith(folder, ".__t").empty());
    EXPECT_FALSE(Log().LinesStartingWith("DownloadImages: can't rename ").empty());
}

}  // namespace
