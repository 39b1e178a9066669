// The folder keeps changing: a feed that cannot fill its share, a cache larger
// than 500, wallpapers that always fail, outages and rate limits, a stop in
// the middle of a request, folders the user deleted, and a log that says a
// state once. Each case runs the real passes on simulated time.
#include <filesystem>

#include "support/run_fixture.h"

using namespace erun;

namespace {

// Real files without the flush to the device before each rename: these runs
// make hundreds of downloads, and power loss is not what they are about.
bool CloseWithoutDeviceFlush(FILE* f) {
    const bool flushed = std::fflush(f) == 0;
    return std::fclose(f) == 0 && flushed;
}

class LivenessTest : public EngineTest {
  public:
    std::shared_ptr<CLumoraThread> worker;
    long shows = 0;
    plat::FileOps quickOps;

    void SetUp() override {
        EngineTest::SetUp();
        worker = AttachWorkerObject();
        quickOps = plat::RealFileOps();
        quickOps.flushClose = &CloseWithoutDeviceFlush;
        plat::SetFileOpsForTest(&quickOps);
    }
    // Three records of feed 0 in the purity folder "sketchy", then two more
    // in the image folder itself; returns the purity folder (the user is
    // about to delete it).
    std::string AddRecordsInAPurityFolder() {
        const std::string sketchy = Join(folder, "sketchy");
        std::filesystem::create_directories(sketchy);
        for (int i = 0; i < 3; ++i) {
            std::string p = Join(sketchy, "gone" + std::to_string(i) + ".jpg");
            FakeClient::WriteBytes(p, "x");
            engine->ForTesting().CacheList().Records().AddTail(CFileData(p, "g" + std::to_string(i), 0));
        }
        AddCached(2, 0, "kept");
        return sketchy;
    }
    void TearDown() override {
        plat::SetFileOpsForTest(nullptr);
        EngineTest::TearDown();
    }
    // Runs the loop until `until` (simulated ms) while the host shows a
    // cached file every showEveryMs, going round the cache in order.
    void RunWithHost(uint64_t until, uint32_t showEveryMs) {
        ScheduleShow(showEveryMs, showEveryMs, until);
        clock.At(until, [this] {
            closing.store(1);
            worker->m_wakeEvent.Set();
        });
        engine->RunComms();
    }
    void ScheduleShow(uint64_t at, uint32_t every, uint64_t until) {
        if (at >= until) return;
        clock.At(at, [this, at, every, until] {
            std::vector<std::string> files;
            for (const CFileData& d : engine->ForTesting().CacheList().Records()) files.push_back(d.Path);
            if (!files.empty()) {
                const std::string p = files[static_cast<size_t>(shows++) % files.size()];
                engine->OnFileDisplayed(p.c_str());
            }
            ScheduleShow(at + every, every, until);
        });
    }
    int Lines(const std::string& prefix) { return static_cast<int>(Log().LinesStartingWith(prefix).size()); }
    int AddsOfFeed(int feed) {
        int n = 0;
        const std::string tail = "(feed " + std::to_string(feed) + ")";
        for (const std::string& l : Log().LinesStartingWith("m_lclfiles Add: "))
            if (l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0) ++n;
        return n;
    }
    // Pages by feed key: key 0 a large search, others as the case says.
    void AnswerPages(std::function<int(int key, int page, CItemArray& items, int& lastPage)> byKey) {
        client.onPage = [this, byKey](int page, CItemArray& items, std::string&, int& lastPage) {
            return byKey(client.requests.back().feedKey, page, items, lastPage);
        };
    }
};

int LargeSearch(int key, int page, CItemArray& items, int& lastPage) {
    for (int j = 0; j < 24; ++j)
        items.Add(MakeItem("L" + std::to_string(key) + "p" + std::to_string(page) + "-" + std::to_string(j)));
    lastPage = 1000;
    return 1;
}

// ---- one feed that cannot fill its share ----------------------------------------
struct ShareCase {
    const char* name;
    CLumoraFeed second;
    int secondImages;  // images the service has for the second feed
};

class SmallFeedBesideALargeOne : public LivenessTest, public ::testing::WithParamInterface<ShareCase> {};

TEST_P(SmallFeedBesideALargeOne, LargeFeedKeepsReplacingItsShownFiles) {
    const ShareCase& c = GetParam();
    settings.MaxLocal = 5;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->ForTesting().Feeds().Add(c.second);
    const int small = c.secondImages;
    AnswerPages([small](int key, int page, CItemArray& items, int& lastPage) {
        if (key == 0) return LargeSearch(key, page, items, lastPage);
        for (int j = 0; j < small; ++j) items.Add(MakeItem("s" + std::to_string(j)));
        lastPage = 1;
        return 1;
    });
    RunWithHost(30 * 60000, 5000);
    // The large feed filled its five, then went on replacing shown files:
    // the host shows one every 5 s, so far more than five arrive.
    EXPECT_GE(AddsOfFeed(0), 5 + 30) << c.name << "\n" << Log().Dump();
    EXPECT_GE(Lines("CleanDispFiles: Removed "), 30) << c.name;
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->CountFeedFiles(0), 5) << c.name;
        EXPECT_EQ(engine->CountFeedFiles(1), small < 5 ? small : 5) << c.name;
    }
    for (const CFileData& d : engine->ForTesting().CacheList().Records())
        EXPECT_TRUE(plat::PathExists(d.Path)) << d.Path;
}

CLumoraFeed NsfwSearch() {
    CLumoraFeed f = SearchFeed(1);
    f.Purity = "001";
    return f;
}

INSTANTIATE_TEST_SUITE_P(Table, SmallFeedBesideALargeOne,
                         ::testing::Values(ShareCase{"empty search", SearchFeed(1), 0},
                                           ShareCase{"collection of two", CollectionFeed(1), 2},
                                           ShareCase{"nsfw search without a key", NsfwSearch(), 0}),
                         [](const ::testing::TestParamInfo<ShareCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

// A feed at its own limit gives up its oldest shown file only once the new
// image is on disk: a failing transfer leaves the folder as it was.
struct ReplaceCase {
    const char* name;
    ServiceAnswer transfer;  // what the transfer answers (kDone: the image arrives)
    bool replaced;
};
class OwnReplacement : public LivenessTest, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(OwnReplacement, OnlyAfterTheNewImageArrived) {
    const ReplaceCase& c = GetParam();
    settings.MaxLocal = 3;
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("new1"));
    engine->ForTesting().Feeds().Add(f);
    engine->ForTesting().Feeds().Add(SearchFeed(1));  // nothing to give: the cache never fills
    AddCached(3, 0);
    const std::string shown(engine->ForTesting().CacheList().Records().begin()->Path);
    engine->OnFileDisplayed(shown.c_str());
    client.onDownload = [&c](const std::string&, const std::string& file) {
        return c.transfer.Ok() ? FakeClient::WriteBytes(file, "\xFF\xD8\xFF img") : c.transfer;
    };
    uint32_t interval = 2000;
    const int result = engine->DownloadImages(&interval);
    EXPECT_EQ(client.downloadCalls.load(), 1) << c.name;
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->CountFeedFiles(0), 3) << c.name;
    }
    EXPECT_EQ(plat::PathExists(shown), !c.replaced) << c.name;
    EXPECT_EQ(result, c.replaced ? 1 : -1) << c.name;
    EXPECT_EQ(Log().Has("CleanDispFiles: Removed " + shown), c.replaced) << c.name << "\n" << Log().Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Table, OwnReplacement,
    ::testing::Values(ReplaceCase{"arrived", KindAnswer(ServiceAnswer::kDone), true},
                      ReplaceCase{"503", StatusAnswer(503), false},
                      ReplaceCase{"no connection", KindAnswer(ServiceAnswer::kBroken), false},
                      ReplaceCase{"not an image", KindAnswer(ServiceAnswer::kNotImage), false}),
    [](const ::testing::TestParamInfo<ReplaceCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// The most recent reports stay: the host may be showing that file right now.
TEST_F(LivenessTest, OwnReplacementLeavesTheNewestShownFilesAlone) {
    settings.MaxLocal = 10;  // four reports on record before one goes
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("new1"));
    engine->ForTesting().Feeds().Add(f);
    engine->ForTesting().Feeds().Add(SearchFeed(1));
    AddCached(10, 0);
    std::vector<std::string> paths;
    for (const CFileData& d : engine->ForTesting().CacheList().Records()) paths.push_back(d.Path);
    for (int k = 0; k < 3; ++k) engine->OnFileDisplayed(paths[static_cast<size_t>(k)].c_str());
    uint32_t interval = 2000;
    EXPECT_EQ(engine->DownloadImages(&interval), 0);
    EXPECT_EQ(client.downloadCalls.load(), 0);
    engine->OnFileDisplayed(paths[3].c_str());
    EXPECT_EQ(engine->DownloadImages(&interval), 1);
    EXPECT_FALSE(plat::PathExists(paths[0]));  // the oldest report goes
    for (int k = 1; k < 10; ++k) EXPECT_TRUE(plat::PathExists(paths[static_cast<size_t>(k)])) << k;
}

// ---- wallpapers that always fail leave their pool --------------------------------
struct AttemptCase {
    const char* name;
    ServiceAnswer transfer;  // kDone: an empty file arrives
    bool dropped;            // after kMaxItemAttempts passes
};
class ItemAttempts : public LivenessTest, public ::testing::WithParamInterface<AttemptCase> {};

TEST_P(ItemAttempts, AreBounded) {
    const AttemptCase& c = GetParam();
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("bad"));
    engine->ForTesting().Feeds().Add(f);
    client.onDownload = [&c](const std::string&, const std::string& file) {
        return c.transfer.Ok() ? FakeClient::WriteBytes(file, "") : c.transfer;
    };
    uint32_t interval = 2000;
    for (int k = 0; k < CFeedPools::kMaxItemAttempts; ++k) {
        EXPECT_EQ(engine->DownloadImages(&interval), -1);
        clock.Pass(10 * 60000);  // past the item's next try and any pause
    }
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Items.IsEmpty(), c.dropped) << c.name << "\n" << Log().Dump();
    EXPECT_EQ(Log().Has("DownloadImages: http://images.test/full/w-bad.jpg dropped after 3 failed attempts"),
              c.dropped)
        << c.name;
    EXPECT_TRUE(FilesEndingWith(folder, ".__t").empty()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ItemAttempts,
    ::testing::Values(AttemptCase{"404", StatusAnswer(404), true},
                      AttemptCase{"410", StatusAnswer(410), true},
                      AttemptCase{"400", StatusAnswer(400), true},
                      AttemptCase{"not an image", KindAnswer(ServiceAnswer::kNotImage), true},
                      AttemptCase{"empty body", KindAnswer(ServiceAnswer::kDone), true},
                      AttemptCase{"cut body", KindAnswer(ServiceAnswer::kCutBody), true},
                      AttemptCase{"unusable address", KindAnswer(ServiceAnswer::kUnusableUrl), true},
                      AttemptCase{"too large", KindAnswer(ServiceAnswer::kTooLarge), true},
                      // The service's or the network's state: no wallpaper is to blame.
                      AttemptCase{"500", StatusAnswer(500), false},
                      AttemptCase{"503", StatusAnswer(503), false},
                      AttemptCase{"408", StatusAnswer(408), false},
                      AttemptCase{"no connection", KindAnswer(ServiceAnswer::kBroken), false},
                      AttemptCase{"request not sent", KindAnswer(ServiceAnswer::kNotSent), false},
                      AttemptCase{"429", StatusAnswer(429), false}),
    [](const ::testing::TestParamInfo<AttemptCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST_F(LivenessTest, FailuresNeverStretchTheIntervalBeyondItsCap) {
    CLumoraFeed f = SearchFeed(0);
    // Enough never tried for 60 passes of up to kTransfersPerPass each.
    for (int i = 0; i < 1000; ++i) f.Items.Add(MakeItem("f" + std::to_string(i)));
    engine->ForTesting().Feeds().Add(f);
    client.onDownload = [](const std::string&, const std::string&) { return StatusAnswer(404); };
    uint32_t interval = 2000, longest = 0;
    for (int k = 0; k < 60; ++k) {
        engine->DownloadImages(&interval);
        longest = std::max(longest, interval);
    }
    EXPECT_EQ(longest, CPacing::kMaxDownloadIntervalMs);
    // A 429 may ask for longer, as far as its Retry-After, within a bound.
    client.onDownload = [this](const std::string&, const std::string&) {
        client.retryAfterMs = 24 * 3600 * 1000u;
        return StatusAnswer(429);
    };
    engine->DownloadImages(&interval);
    EXPECT_EQ(interval, CPacing::kMaxRetryAfterMs);
    client.onDownload = [this](const std::string&, const std::string&) {
        client.retryAfterMs = 120000;
        return StatusAnswer(429);
    };
    engine->DownloadImages(&interval);
    EXPECT_EQ(interval, 120000u);
}

// ---- a cache larger than 500 files ------------------------------------------------
TEST_F(LivenessTest, CacheOfAThousandFillsPastFiveHundred) {
    settings.MaxLocal = 1000;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(24, 100000);
    client.pageCostMs = 0;
    // About 1,500 downloads at 2-10 s each, plus the pages: a day is ample.
    clock.At(24ull * 3600 * 1000, [this] {
        closing.store(1);
        worker->m_wakeEvent.Set();
    });
    engine->RunComms();
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->CountFeedFiles(0), 1000) << Log().Dump();
    }
}

// ---- what a failed page request counts --------------------------------------------
struct PageFailureCase {
    const char* name;
    int type;
    ServiceAnswer answer;  // what the failed request came to
    bool counts;           // counts toward disabling the feed
};
class PageFailures : public LivenessTest, public ::testing::WithParamInterface<PageFailureCase> {};

TEST_P(PageFailures, OnlyAnswersNamingTheFeedWrongDisableIt) {
    const PageFailureCase& c = GetParam();
    CLumoraFeed f = c.type == 1 ? CollectionFeed(0) : SearchFeed(0);
    f.Page = 4;
    f.LastPage = 9;
    engine->ForTesting().Feeds().Add(f);
    client.failAnswer = c.answer;
    client.onPage = [](int, CItemArray&, std::string&, int&) { return 0; };
    for (int pass = 0; pass < 15; ++pass) {
        engine->Refresh(0);
        clock.Pass(10 * 60000);  // past any pause
    }
    const CLumoraFeed& g = engine->ForTesting().Feeds()[0];
    if (c.counts) {
        EXPECT_FALSE(g.IsEnabled()) << c.name;
        EXPECT_EQ(g.Retries, 10) << c.name;
        EXPECT_EQ(client.requests.size(), 10u) << c.name;
    } else {
        EXPECT_TRUE(g.IsEnabled()) << c.name << "\n" << Log().Dump();
        EXPECT_EQ(g.Retries, 0) << c.name;
        EXPECT_EQ(g.Page, 4) << c.name;  // paging kept: the next try goes on
        EXPECT_EQ(client.requests.size(), 15u) << c.name;
        EXPECT_EQ(client.requests.back().page, 5) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PageFailures,
    ::testing::Values(
        PageFailureCase{"search no connection", 0, KindAnswer(ServiceAnswer::kBroken), false},
        PageFailureCase{"search request not sent", 0, KindAnswer(ServiceAnswer::kNotSent), false},
        PageFailureCase{"search empty answer", 0, KindAnswer(ServiceAnswer::kEmpty), false},
        PageFailureCase{"search answer not JSON", 0, KindAnswer(ServiceAnswer::kUnreadable), false},
        PageFailureCase{"search 500", 0, StatusAnswer(500), false},
        PageFailureCase{"search 503", 0, StatusAnswer(503), false},
        PageFailureCase{"search 429", 0, StatusAnswer(429), false},
        PageFailureCase{"search 404 of the endpoint", 0, StatusAnswer(404), false},
        PageFailureCase{"search 401 wrong key", 0, StatusAnswer(401), true},
        PageFailureCase{"search 403", 0, StatusAnswer(403), true},
        PageFailureCase{"search 400 bad parameters", 0, StatusAnswer(400), true},
        PageFailureCase{"collection 404", 1, StatusAnswer(404), true},
        PageFailureCase{"collection 410", 1, StatusAnswer(410), true},
        PageFailureCase{"collection 502", 1, StatusAnswer(502), false}),
    [](const ::testing::TestParamInfo<PageFailureCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// A five-minute outage: page requests back off (not every 10 s), no feed is
// disabled, and pages come again within two minutes of the service's return.
TEST_F(LivenessTest, OutageBacksOffAndRecoversWithinTwoMinutes) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->ForTesting().Feeds().Add(CollectionFeed(1));
    constexpr uint64_t back = 5 * 60000;
    client.onPage = [this](int page, CItemArray& items, std::string& seed, int& lastPage) {
        if (clock.now < back) {
            client.failAnswer = StatusAnswer(503);
            return 0;
        }
        return Catalog(24, 1000)(page, items, seed, lastPage);
    };
    clock.At(back + 3 * 60000, [this] {
        closing.store(1);
        worker->m_wakeEvent.Set();
    });
    engine->RunComms();
    int during = 0;
    uint64_t firstAfter = 0;
    for (const PageRequest& r : client.requests) {
        if (r.at < back) ++during;
        if (r.at >= back && !firstAfter) firstAfter = r.at;
    }
    // Without a pause: a request every 10 s, 30 in five minutes.
    EXPECT_LE(during, 10) << Log().Dump();
    ASSERT_NE(firstAfter, 0u);
    EXPECT_LE(firstAfter - back, 2 * 60000u);
    for (const CLumoraFeed& f : engine->ForTesting().Feeds()) {
        EXPECT_TRUE(f.IsEnabled());
        EXPECT_EQ(f.Retries, 0);
    }
    EXPECT_GT(engine->ForTesting().CacheList().Records().GetCount(), 0);
}

TEST_F(LivenessTest, RetryAfterLongerThanThePauseIsHonoured) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = [this](int page, CItemArray& items, std::string& seed, int& lastPage) {
        if (client.requests.size() == 1) {
            client.failAnswer = StatusAnswer(429);
            client.retryAfterMs = 5 * 60000;
            return 0;
        }
        return Catalog(24, 1000)(page, items, seed, lastPage);
    };
    clock.At(7 * 60000, [this] {
        closing.store(1);
        worker->m_wakeEvent.Set();
    });
    engine->RunComms();
    ASSERT_GE(client.requests.size(), 2u);
    EXPECT_GE(client.requests[1].at, 5 * 60000u);
    EXPECT_LE(client.requests[1].at, 7 * 60000u);
}

// Page passes as often as twice a second (the loop's own cadence is far
// slower; this is the bound whatever drives it): at most 45 requests in any
// minute, the full 45 within the first, and more once that minute has passed.
TEST_F(LivenessTest, PageRequestsKeepToFortyFivePerMinute) {
    settings.MaxLocal = 5000;  // the feed wants pages for a long while
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(24, 100000);
    for (int k = 0; k < 240; ++k) {  // two minutes
        engine->Refresh(0);
        clock.Pass(500);
    }
    ASSERT_FALSE(client.requests.empty());
    size_t peak = 0, inFirstMinute = 0, inLastMinute = 0;
    uint64_t peakFrom = 0;
    for (size_t a = 0; a < client.requests.size(); ++a) {
        size_t window = 0;
        for (size_t b = a;
             b < client.requests.size() && client.requests[b].at < client.requests[a].at + 60000; ++b)
            ++window;
        if (window > peak) {
            peak = window;
            peakFrom = client.requests[a].at;
        }
        if (client.requests[a].at < 60000) ++inFirstMinute;
        if (client.requests[a].at >= 60000) ++inLastMinute;
    }
    EXPECT_LE(peak, 45u) << "in the minute from " << peakFrom << " ms";
    EXPECT_EQ(inFirstMinute, 45u);
    EXPECT_EQ(inLastMinute, 45u);
    EXPECT_TRUE(engine->ForTesting().Feeds()[0].IsEnabled());
}

// The stop's cancel makes the request fail: that says nothing about the feed.
TEST_F(LivenessTest, RequestCancelledByAStopCountsNothing) {
    CLumoraFeed f = SearchFeed(0);
    f.Retries = 9;
    f.Page = 3;
    engine->ForTesting().Feeds().Add(f);
    client.failAnswer = StatusAnswer(401);  // would be the tenth failure that names the feed wrong
    client.onPage = [this](int, CItemArray&, std::string&, int&) {
        closing.store(1);
        return 0;
    };
    engine->Refresh(0);
    EXPECT_TRUE(engine->ForTesting().Feeds()[0].IsEnabled());
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Retries, 9);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 3);
    EXPECT_FALSE(Log().Has("     too many errors, disabled"));
}

// ---- records whose files are gone -----------------------------------------------------
TEST_F(LivenessTest, DeletedPurityFolderTakesItsRecordsAtTheNextPass) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    const std::string sketchy = AddRecordsInAPurityFolder();
    std::filesystem::remove_all(sketchy);
    client.onPage = Catalog(1, 1);
    engine->Refresh(0);
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 2) << Log().Dump();
    for (const CFileData& d : engine->ForTesting().CacheList().Records())
        EXPECT_TRUE(plat::PathExists(d.Path)) << d.Path;
    EXPECT_TRUE(Log().Has("HealRecords: 3 records in " + sketchy + " without their files dropped"))
        << Log().Dump();
    // The list on disk says the same.
    CLumoraEngine reader(settings, closing, hosttype);
    reader.ForTesting().Feeds().Add(SearchFeed(0));
    {
        MutexLock held(reader.StateLockForTest());
        reader.ReadLocalFileList();
    }
    EXPECT_EQ(reader.ForTesting().CacheList().Records().GetCount(), 2);
}

// An eviction that finds the file's folder gone drops the record (and the
// others of that folder) instead of keeping a ghost.
TEST_F(LivenessTest, EvictionOfAFileWhoseFolderIsGoneDropsTheRecord) {
    settings.MaxLocal = 3;
    CLumoraFeed f = SearchFeed(0);
    f.Items.Add(MakeItem("fresh"));  // goes to sfw
    engine->ForTesting().Feeds().Add(f);
    engine->ForTesting().Feeds().Add(SearchFeed(1));
    const std::string sketchy = Join(folder, "sketchy");
    std::filesystem::create_directories(sketchy);
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(Join(sketchy, "s" + std::to_string(i) + ".jpg"));
        FakeClient::WriteBytes(paths.back(), "x");
        engine->ForTesting().CacheList().Records().AddTail(
            CFileData(paths.back(), "s" + std::to_string(i), 0));
    }
    engine->OnFileDisplayed(paths[0].c_str());
    std::filesystem::remove_all(sketchy);
    uint32_t interval = 2000;
    EXPECT_EQ(engine->DownloadImages(&interval), 1) << Log().Dump();
    EXPECT_TRUE(Log().Has("CleanDispFiles: Removed " + paths[0])) << Log().Dump();
    ASSERT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 1);
    EXPECT_TRUE(plat::PathExists(std::string(engine->ForTesting().CacheList().Records().begin()->Path)));
}

// ---- the log says a state once ------------------------------------------------------------
TEST_F(LivenessTest, CacheFullIsLoggedWhenItBeginsAndWhenItEnds) {
    settings.MaxLocal = 5;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(24, 1000);
    // Ten quiet minutes with a full cache, then the host shows one file.
    clock.At(11 * 60000, [this] {
        engine->OnFileDisplayed(
            std::string(engine->ForTesting().CacheList().Records().begin()->Path).c_str());
    });
    clock.At(12 * 60000, [this] {
        closing.store(1);
        worker->m_wakeEvent.Set();
    });
    engine->RunComms();
    EXPECT_EQ(Lines("DownloadImages: feed 0 per-feed cache full (5/5)"), 1) << Log().Dump();
    EXPECT_EQ(Lines("DownloadImages: cache full (5/5)"), 1);
    EXPECT_EQ(Lines("Refresh 0: per-feed cache full (5/5)"), 1) << Log().Dump();
    EXPECT_EQ(Lines("CleanDispFiles: Removed "), 1);
}

TEST_F(LivenessTest, GlobalCacheFullIsLoggedOnceAndItsEndToo) {
    settings.MaxLocal = 3;
    CLumoraFeed f = SearchFeed(0);
    for (int i = 0; i < 10; ++i) f.Items.Add(MakeItem("p" + std::to_string(i)));
    engine->ForTesting().Feeds().Add(f);
    AddCached(3, -1);  // files of no feed fill the cache
    uint32_t interval = 2000;
    for (int k = 0; k < 20; ++k) engine->DownloadImages(&interval);
    EXPECT_EQ(Lines("DownloadImages: cache full (3/3)"), 1) << Log().Dump();
    engine->ForTesting().CacheList().Records().RemoveHead();
    engine->DownloadImages(&interval);
    EXPECT_EQ(Lines("DownloadImages: cache has room again (2/3)"), 1) << Log().Dump();
    for (int k = 0; k < 5; ++k) engine->DownloadImages(&interval);
    EXPECT_EQ(Lines("DownloadImages: cache full (3/3)"), 2) << Log().Dump();
}

// ---- the restart loop ends on a stop --------------------------------------------------------
std::atomic<int> g_listOpens{0};
const plat::FileOps* g_real = nullptr;
// Reading the cache list runs out of memory (a huge list in a 32-bit host).
void ThrowOnListRead(const std::string& path, const char* mode) {
    if (path.find("vdt_vd_files.lst") != std::string::npos && std::string(mode) == "rb") {
        // A bounded number, so that a loop that ignores the stop still ends.
        if (++g_listOpens < 50) throw std::bad_alloc();
    }
}
FILE* ThrowingOpen(const std::string& path, const char* mode) {
    ThrowOnListRead(path, mode);
    return g_real->open(path, mode);
}
FILE* ThrowingOpenChecked(const std::string& path, const char* mode, int* error) {
    ThrowOnListRead(path, mode);
    return g_real->openChecked(path, mode, error);
}

TEST_F(LivenessTest, ExceptionBeforeTheLoopDoesNotOutliveAStop) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    FakeClient::WriteBytes(Join(folder, "vdt_vd_files.lst"), "[Veduta Lumora List v3]\r\n0\r\n0\r\n");
    g_real = &plat::RealFileOps();
    plat::FileOps ops = quickOps;
    ops.open = &ThrowingOpen;
    ops.openChecked = &ThrowingOpenChecked;
    g_listOpens = 0;
    plat::SetFileOpsForTest(&ops);
    clock.At(3500, [this] {
        closing.store(1);
        worker->m_wakeEvent.Set();
    });
    worker->InitInstance();
    plat::SetFileOpsForTest(nullptr);
    // Tries at 0, 1, 2 and 3 s; the stop at 3.5 s ends the restarts.
    EXPECT_EQ(g_listOpens.load(), 4) << Log().Dump();
    EXPECT_LE(clock.now, 4000u);
}

}  // namespace

namespace {
// Clean Local Cache right after the user deleted a purity folder (before a
// pass looked at the folders): the records of that folder go with the rest,
// and a shown file whose folder is gone leaves its record too.
TEST_F(LivenessTest, CacheCleanDropsRecordsWhoseFolderIsGone) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    const std::string sketchy = AddRecordsInAPurityFolder();
    engine->ForTesting().CacheList().SetDirty(1);
    std::filesystem::remove_all(sketchy);
    const ClearCacheResult r = engine->ClearCache(folder);
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0) << Log().Dump();
    EXPECT_EQ(r.failed, 0) << r.firstFailed << " " << r.firstError;
    EXPECT_EQ(r.deleted, 5);
}

TEST_F(LivenessTest, ShownFileWhoseFolderIsGoneLeavesItsRecord) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    const std::string sketchy = Join(folder, "sketchy");
    std::filesystem::create_directories(sketchy);
    const std::string p = Join(sketchy, "gone.jpg");
    FakeClient::WriteBytes(p, "x");
    engine->ForTesting().CacheList().Records().AddTail(CFileData(p, "g", 0));
    engine->OnFileDisplayed(p.c_str());
    std::filesystem::remove_all(sketchy);
    {
        MutexLock state(engine->StateLockForTest());
        MutexLock shown(engine->ShownLockForTest());
        engine->CleanDispFiles(1);
    }
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0) << Log().Dump();
    EXPECT_TRUE(Log().Has("CleanDispFiles: Removed " + p)) << Log().Dump();
}
}  // namespace

namespace {

// ---- failing wallpapers wait behind untried ones -----------------------------------
// One wallpaper that always fails among five good ones: whatever the random
// pick, it is tried once, then every good one comes before its second try.
TEST_F(LivenessTest, FailedWallpaperIsNotPickedAheadOfUntriedOnes) {
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        engine->ForTesting().SeedPicks(seed);
        engine->ForTesting().Feeds().RemoveAll();
        engine->ForTesting().CacheList().Records().RemoveAll();
        CLumoraFeed f = SearchFeed(0);
        f.Items.Add(MakeItem("bad" + std::to_string(seed)));
        for (int i = 0; i < 5; ++i)
            f.Items.Add(MakeItem("good" + std::to_string(seed) + "_" + std::to_string(i)));
        engine->ForTesting().Feeds().Add(f);
        std::vector<std::string> tried;
        client.onDownload = [&tried](const std::string& url, const std::string& file) {
            tried.push_back(url);
            return url.find("/w-bad") != std::string::npos ? StatusAnswer(404)
                                                           : FakeClient::WriteBytes(file, "\xFF\xD8\xFF img");
        };
        uint32_t interval = 2000;
        for (int k = 0; k < 6; ++k) engine->DownloadImages(&interval);
        ASSERT_EQ(tried.size(), 6u);
        int badTries = 0;
        for (const std::string& u : tried) badTries += u.find("/w-bad") != std::string::npos;
        EXPECT_EQ(badTries, 1);
        EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 5);
    }
}

// A feed at its own limit whose pool holds only wallpapers that failed asks
// for its next page (a shown file is there to give up for a new one), and
// takes it before it tries them again; with enough untried wallpapers
// pooled it asks nothing.
TEST_F(LivenessTest, PoolOfOnlyFailedWallpapersAsksTheNextPage) {
    settings.MaxLocal = 2;
    CLumoraFeed f = SearchFeed(0);
    f.Page = 1;
    f.LastPage = 50;
    // As many as would keep the feed from asking, were they untried.
    for (int k = 0; k < CFeedPools::kLowPool; ++k) f.Items.Add(MakeItem("bad" + std::to_string(k)));
    engine->ForTesting().Feeds().Add(f);
    AddCached(2, 0);
    engine->OnFileDisplayed(std::string(engine->ForTesting().CacheList().Records().begin()->Path).c_str());
    client.onPage = Catalog(24, 50);
    client.onDownload = [](const std::string& url, const std::string& file) {
        return url.find("/w-bad") != std::string::npos ? StatusAnswer(404)
                                                       : FakeClient::WriteBytes(file, "\xFF\xD8\xFF img");
    };
    uint32_t interval = 2000;
    engine->DownloadImages(&interval);  // all fail, in one pass
    ASSERT_EQ(client.downloadCalls.load(), CFeedPools::kLowPool);
    ASSERT_EQ(engine->ForTesting().Feeds()[0].Items.GetSize(), CFeedPools::kLowPool);
    clock.Pass(10 * 60000);  // their next tries are due: the page still comes first
    EXPECT_EQ(engine->DownloadImages(&interval), kPassIdle);
    EXPECT_EQ(client.downloadCalls.load(), CFeedPools::kLowPool);
    for (int k = 0; k < CFeedPools::kLowPool; ++k)
        engine->ForTesting().Feeds()[0].Items.Add(MakeItem("untried" + std::to_string(k)));
    engine->Refresh(0);
    EXPECT_EQ(client.pageCalls.load(), 0) << Log().Dump();
    engine->ForTesting().Feeds()[0].Items.SetSize(CFeedPools::kLowPool);
    engine->Refresh(0);
    EXPECT_EQ(client.pageCalls.load(), 1) << Log().Dump();
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 2);
    EXPECT_EQ(engine->DownloadImages(&interval), kPassDownloaded);
}

// One pass that meets only bad wallpapers (the pool's last untried ones, or
// bad luck among many) leaves the next pass at the usual pace; only a second
// such pass in a row stretches the interval.
TEST_F(LivenessTest, OnePassOfFailingWallpapersDoesNotStretchTheInterval) {
    CLumoraFeed f = SearchFeed(0);
    f.Page = 1;
    f.LastPage = 50;
    for (int k = 0; k < 2 * CPacing::kTransfersPerPass; ++k) f.Items.Add(MakeItem("bad" + std::to_string(k)));
    engine->ForTesting().Feeds().Add(f);
    client.onDownload = [](const std::string&, const std::string&) { return StatusAnswer(404); };
    uint32_t interval = 10000;  // the slow pace of a nearly full cache
    EXPECT_EQ(engine->DownloadImages(&interval), kPassFailed);
    EXPECT_EQ(client.downloadCalls.load(), CPacing::kTransfersPerPass);
    EXPECT_EQ(interval, 2000u);
    EXPECT_EQ(engine->DownloadImages(&interval), kPassFailed);
    EXPECT_GT(interval, 2000u);
}

// The next page is asked once fewer than a handful of untried wallpapers are
// left after a download, not at the next timed refresh: otherwise a pass can
// find only the bad ones left and the next image waits for the page.
TEST_F(LivenessTest, LowPoolAfterADownloadAsksThePageSoon) {
    CLumoraFeed f = SearchFeed(0);
    f.Page = 1;
    f.LastPage = 50;
    for (int k = 0; k < CFeedPools::kLowPool; ++k) f.Items.Add(MakeItem("w" + std::to_string(k)));
    engine->ForTesting().Feeds().Add(f);
    client.onDownload = [](const std::string&, const std::string& file) {
        return FakeClient::WriteBytes(file, "\xFF\xD8\xFF img");
    };
    uint32_t interval = 2000;
    engine->ForTesting().RefreshSoon().store(false);
    ASSERT_EQ(engine->DownloadImages(&interval), kPassDownloaded);
    EXPECT_TRUE(engine->ForTesting().RefreshSoon().load());
    // The feed's last page: nothing to ask.
    engine->ForTesting().Feeds()[0].Page = 50;
    engine->ForTesting().RefreshSoon().store(false);
    ASSERT_EQ(engine->DownloadImages(&interval), kPassDownloaded);
    EXPECT_FALSE(engine->ForTesting().RefreshSoon().load());
}

// ---- addresses that cannot be used leave with the page that brought them ------------
class JsonPageClient : public FakeClient {
  public:
    std::string answer;
    ServiceAnswer QuerySearchPage(const CLumoraFeed&, int, CItemArray& items, std::string& seed,
                                  int& lastPage, int& total) override {
        ++pageCalls;
        ServiceAnswer read = KindAnswer(ServiceAnswer::kDone);
        if (!ParseWallpaperArray(answer, items, seed, lastPage, total))
            read.kind = ServiceAnswer::kUnreadable;
        return read;
    }
};

TEST_F(LivenessTest, UnusableAddressesAreDroppedWhenTheAnswerIsRead) {
    JsonPageClient json;
    engine->ForTesting().UseClient(&json);
    json.answer = R"({"meta":{"last_page":5,"total":120},"data":[
        {"id":"ok1","path":"https://w.example/full/ok1.jpg","file_type":"image/jpeg"},
        {"id":"ok2","path":"http://w.example:8080/full/ok2.png","file_type":"image/png"},
        {"id":"empty","path":"","file_type":"image/jpeg"},
        {"id":"nopath","file_type":"image/jpeg"},
        {"id":"ftp","path":"ftp://w.example/full/ftp.jpg","file_type":"image/jpeg"},
        {"id":"relative","path":"/full/relative.jpg","file_type":"image/jpeg"},
        {"id":"noserver","path":"http:///full/x.jpg","file_type":"image/jpeg"},
        {"id":"mail","path":"mailto:someone@w.example","file_type":"image/jpeg"}]})";
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->Refresh(0);
    std::vector<std::string> ids;
    for (const CLumoraItem& it : engine->ForTesting().Feeds()[0].Items) ids.push_back(it.Id);
    EXPECT_EQ(ids, (std::vector<std::string>{"ok1", "ok2"})) << Log().Dump();
    EXPECT_EQ(Log().Count("Refresh 0: 6 items with unusable addresses dropped"), 1);
    EXPECT_TRUE(Log().Has("Refresh 0: 2 items found, page 1/5 "));
    engine->ForTesting().UseClient(&client);
}

// ---- ten minutes without a network ------------------------------------------------------
// Before: a transfer every 2 s (300 in ten minutes) and two log lines each.
// Now at least ten times fewer of both, the state said once when it begins
// and once when it ends, and the first image within two minutes of the
// network's return.
TEST_F(LivenessTest, TenMinutesOfflineTryLessAndLogLessAndRecoverWithinTwoMinutes) {
    constexpr uint64_t offFrom = 60000, offTo = offFrom + 10 * 60000;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    auto offline = [this] { return clock.now >= offFrom && clock.now < offTo; };
    client.onPage = [&](int page, CItemArray& items, std::string& seed, int& lastPage) {
        if (offline()) {
            client.failAnswer = KindAnswer(ServiceAnswer::kEmpty);  // no answer: no status either
            return 0;
        }
        return Catalog(24, 1000)(page, items, seed, lastPage);
    };
    std::vector<uint64_t> tries, done;
    client.onDownload = [&](const std::string&, const std::string& file) {
        tries.push_back(clock.now);
        if (offline()) return KindAnswer(ServiceAnswer::kBroken);
        done.push_back(clock.now);
        return FakeClient::WriteBytes(file, "\xFF\xD8\xFF img");
    };
    size_t linesBefore = 0, linesAfter = 0;
    clock.At(offFrom, [&] { linesBefore = Log().Lines().size(); });
    clock.At(offTo, [&] { linesAfter = Log().Lines().size(); });
    RunWithHost(offTo + 4 * 60000, 5000);
    size_t during = 0;
    for (uint64_t t : tries) during += t >= offFrom && t < offTo;
    EXPECT_LE(during, 30u);
    EXPECT_GE(during, 5u);  // it kept looking
    EXPECT_LE(linesAfter - linesBefore, 60u) << Log().Dump();
    EXPECT_EQ(Log().LinesStartingWith("DownloadImages: no answer").size() +
                  Log().LinesStartingWith("Refresh: no answer").size(),
              1u);
    EXPECT_EQ(Log().LinesStartingWith("DownloadImages: answers come again").size() +
                  Log().LinesStartingWith("Refresh: answers come again").size(),
              1u);
    uint64_t firstBack = 0;
    for (uint64_t t : done)
        if (t >= offTo) {
            firstBack = t;
            break;
        }
    ASSERT_NE(firstBack, 0u);
    EXPECT_LE(firstBack - offTo, 2 * 60000u);
    for (const CLumoraFeed& f : engine->ForTesting().Feeds()) EXPECT_TRUE(f.IsEnabled());
}

// ---- the image folder away ---------------------------------------------------------------
// A folder whose drive is unplugged: said once, no page request and no
// transfer while it is away; back, the work goes on (and that is said once).
TEST_F(LivenessTest, MissingImageFolderIsLoggedOnceAndAsksNoPages) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(24, 1000);
    const std::string away = folder + "_away";
    clock.At(60000, [&] { std::filesystem::rename(folder, away); });
    int pagesAway = -1, transfersAway = -1;
    clock.At(61000, [&] {
        pagesAway = client.pageCalls.load();
        transfersAway = client.downloadCalls.load();
    });
    clock.At(31 * 60000, [&] {
        EXPECT_EQ(client.pageCalls.load(), pagesAway);
        EXPECT_EQ(client.downloadCalls.load(), transfersAway);
        std::filesystem::rename(away, folder);
    });
    RunWithHost(35 * 60000, 5000);
    EXPECT_EQ(Log().LinesStartingWith("Refresh: image folder").size() +
                  Log().LinesStartingWith("DownloadImages: image folder").size(),
              2u)
        << Log().Dump();
    EXPECT_GT(client.downloadCalls.load(), transfersAway);
    std::error_code ec;
    std::filesystem::remove_all(away, ec);
}

// ---- what a failed page request says -------------------------------------------------------
struct PageLineCase {
    ServiceAnswer answer;  // what the request came to
    uint32_t retryAfterMs;
    const char* line;
};
class PageFailureLines : public LivenessTest, public ::testing::WithParamInterface<PageLineCase> {};

TEST_P(PageFailureLines, NameWhatTheServiceAnswered) {
    const PageLineCase& c = GetParam();
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.failAnswer = c.answer;
    client.onPage = [&](int, CItemArray&, std::string&, int&) {
        client.retryAfterMs = c.retryAfterMs;
        return 0;
    };
    engine->Refresh(0);
    EXPECT_TRUE(Log().Has(c.line)) << Log().Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Table, PageFailureLines,
    ::testing::Values(
        PageLineCase{StatusAnswer(503), 0,
                     "Refresh 0: the service is not available (503), next request in 15 s"},
        PageLineCase{StatusAnswer(502), 0,
                     "Refresh 0: the service is not available (502), next request in 15 s"},
        PageLineCase{StatusAnswer(429), 90000,
                     "Refresh 0: the service asks to wait 90 s (429), next request in 90 s"},
        PageLineCase{StatusAnswer(429), 0,
                     "Refresh 0: the service asks to wait, for no given time (429), next request in 15 s"},
        PageLineCase{KindAnswer(ServiceAnswer::kUnreadable), 0,
                     "Refresh 0: the service sent an answer that cannot be read (0), next request in 15 s"},
        PageLineCase{
            KindAnswer(ServiceAnswer::kAnswerTooLarge), 0,
            "Refresh 0: the service sent an answer that cannot be read (-4), next request in 15 s"}));

}  // namespace
