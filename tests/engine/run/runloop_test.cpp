// The worker loop on simulated time: when passes run, how long it waits, how
// a shown file wakes it, what an exception does, and how it ends.
#include "support/run_fixture.h"

using namespace erun;

namespace {

class RunLoopTest : public EngineTest {
  public:
    std::shared_ptr<CLumoraThread> worker;
    void SetUp() override {
        EngineTest::SetUp();
        worker = AttachWorkerObject();
    }
    void StopAt(uint64_t t) {
        clock.At(t, [this] {
            closing.store(1);
            worker->m_wakeEvent.Set();
        });
    }
    std::vector<uint64_t> SearchTimes() {
        std::vector<uint64_t> t;
        for (auto& r : client.requests) t.push_back(r.at);
        return t;
    }
    std::vector<uint64_t> DownloadTimes;
    void RecordDownloadTimes() {
        client.onDownload = [this](const std::string&, const std::string& file) {
            DownloadTimes.push_back(clock.now);
            return FakeClient::WriteBytes(file, "img");
        };
    }
};

TEST_F(RunLoopTest, FirstIterationRefreshesAndDownloadsThenEveryTenSeconds) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(30, 100);
    RecordDownloadTimes();
    StopAt(25500);
    engine->RunComms();
    EXPECT_EQ(SearchTimes(), (std::vector<uint64_t>{0, 10000, 20000}));
    // 2 s apart while the cache is small.
    EXPECT_EQ(DownloadTimes, (std::vector<uint64_t>{0, 2000, 4000, 6000, 8000, 10000, 12000, 14000, 16000,
                                                    18000, 20000, 22000, 24000}));
    for (auto& w : clock.waits) EXPECT_EQ(w.timeout, 1000u);
    EXPECT_EQ(clock.now, 25500u);  // the stop ended the wait at once
}

// Tick counts compare by unsigned difference: crossing 2^32 changes nothing,
// and a tick count below 10 s (just after boot) still gets a first pass.
TEST_F(RunLoopTest, CadenceSurvivesTickWrapAroundAndLowTicks) {
    for (uint32_t base : {0xFFFFFFFFu - 15000u, 0xFFFFFFFFu - 1u, 3000u, 0u}) {
        SCOPED_TRACE(base);
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
        engine->ForTesting().UseClient(&client);
        worker = AttachWorkerObject();
        closing.store(0);
        clock = SimClock();
        clock.tickBase = base;
        client.requests.clear();
        DownloadTimes.clear();
        engine->ForTesting().Feeds().Add(SearchFeed(0));
        client.onPage = Catalog(30, 100, "b" + std::to_string(base) + "_");
        RecordDownloadTimes();
        StopAt(31000);
        engine->RunComms();
        EXPECT_EQ(SearchTimes(), (std::vector<uint64_t>{0, 10000, 20000, 30000}));
        ASSERT_GE(DownloadTimes.size(), 3u);
        EXPECT_EQ(DownloadTimes[0], 0u);
        EXPECT_EQ(DownloadTimes[1], 2000u);
        EXPECT_EQ(DownloadTimes[2], 4000u);
    }
}

TEST_F(RunLoopTest, IdleLoopWaitsThirtySecondsAndAShownFileWakesADownload) {
    settings.MaxLocal = 5;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    AddCached(5, 0);
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);  // the loop starts from the list on disk
    }
    // The cache is full; nothing is pooled: the loop sleeps 30 s at a time.
    client.onPage = Catalog(3, 9);
    const std::string shown(engine->ForTesting().CacheList().Records().begin()->Path);
    clock.At(45000, [this, shown] { engine->OnFileDisplayed(shown.c_str()); });
    RecordDownloadTimes();
    StopAt(80000);
    engine->RunComms();
    ASSERT_GE(clock.waits.size(), 3u);
    EXPECT_EQ(clock.waits[0].at, 0u);
    EXPECT_EQ(clock.waits[0].timeout, 30000u);
    EXPECT_FALSE(clock.waits[0].signalled);
    EXPECT_EQ(clock.waits[1].at, 30000u);
    EXPECT_EQ(clock.waits[1].timeout, 30000u);
    EXPECT_TRUE(clock.waits[1].signalled);  // the report ended it at 45 s
    // The report woke the loop at 45 s: the full feed had a shown file to
    // give up, so it asked for a page and fetched a replacement at once; the
    // shown file left only after the new one had arrived.
    EXPECT_TRUE(Log().Has("CleanDispFiles: Removed " + shown)) << Log().Dump();
    EXPECT_EQ(SearchTimes(), (std::vector<uint64_t>{45000}));
    EXPECT_EQ(DownloadTimes, (std::vector<uint64_t>{45000}));
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 5);
    EXPECT_EQ(clock.waits[2].at, 45000u);
    EXPECT_EQ(clock.waits[2].timeout, 1000u);  // a pass that downloaded keeps the short wait
}

TEST_F(RunLoopTest, DownloadRequestRunsAPassEvenBeforeItsInterval) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(30, 100);
    RecordDownloadTimes();
    // The download at 0 sets a 2 s interval; a request at 500 ms must not wait.
    clock.At(500, [this] { worker->RequestDownload(); });
    clock.At(700, [this] {
        // Two requests before the worker wakes: one pass.
        worker->RequestDownload();
        worker->RequestDownload();
    });
    StopAt(1900);
    engine->RunComms();
    EXPECT_EQ(DownloadTimes, (std::vector<uint64_t>{0, 500, 700}));
}

TEST_F(RunLoopTest, IntervalFromThePassPacesTheNextOne) {
    settings.MaxLocal = 10;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    AddCached(9, 0);  // at the fast-pace mark after one more: 10 s apart
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    client.onPage = Catalog(30, 100);
    int n = 0;
    client.onDownload = [&](const std::string&, const std::string& file) {
        DownloadTimes.push_back(clock.now);
        return ++n == 1 ? StatusAnswer(429) : FakeClient::WriteBytes(file, "img");
    };
    StopAt(60000);
    engine->RunComms();
    // 429 at 0 asks 42 s; the success at 42 s then fills the cache.
    ASSERT_GE(DownloadTimes.size(), 2u);
    EXPECT_EQ(DownloadTimes[0], 0u);
    EXPECT_EQ(DownloadTimes[1], 42000u);
    EXPECT_EQ(DownloadTimes.size(), 2u);
}

// Shown-file reports while a failed transfer's pause runs: the pause holds
// (a 429's 42 s, a failing service's growing interval), the request is not
// lost: the pass comes when the pause ends.
TEST_F(RunLoopTest, ShownFilesDoNotCutAFailedTransfersPauseShort) {
    struct Row {
        ServiceAnswer answer;
        uint64_t pause;
    };
    for (const Row& row : {Row{StatusAnswer(429), 42000}, Row{StatusAnswer(503), 4000},
                           Row{KindAnswer(ServiceAnswer::kBroken), 5000}}) {
        SCOPED_TRACE(row.answer.Code());
        clock = SimClock();
        closing.store(0);
        DownloadTimes.clear();
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
        engine->ForTesting().UseClient(&client);
        worker = AttachWorkerObject();
        engine->ForTesting().Feeds().Add(SearchFeed(0));
        client.onPage = Catalog(30, 100, "p" + std::to_string(row.answer.Code()) + "_");
        int n = 0;
        client.onDownload = [&](const std::string&, const std::string& file) {
            DownloadTimes.push_back(clock.now);
            return ++n == 1 ? row.answer : FakeClient::WriteBytes(file, "img");
        };
        for (uint64_t t = 500; t < row.pause; t += 500) clock.At(t, [this] { worker->RequestDownload(); });
        StopAt(row.pause + 2000);
        engine->RunComms();
        // The next pass at the first wake of the loop (1 s apart) after the pause.
        ASSERT_GE(DownloadTimes.size(), 2u) << Log().Dump();
        EXPECT_EQ(DownloadTimes[0], 0u);
        EXPECT_GE(DownloadTimes[1], row.pause);
        EXPECT_LE(DownloadTimes[1], row.pause + 1000);
    }
}

// An image host that fails every transfer for its wallpaper (404), the host
// reporting a shown file every second for ten minutes: after the first
// passes the interval stretches to its cap, so the transfers stay near one
// pass a minute (without the stretch: over a thousand in ten minutes).
TEST_F(RunLoopTest, HostThatFailsEveryWallpaperIsNotHammered) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(24, 1000);
    client.onDownload = [this](const std::string&, const std::string&) {
        DownloadTimes.push_back(clock.now);
        return StatusAnswer(404);
    };
    for (uint64_t t = 1000; t < 10 * 60000; t += 1000) clock.At(t, [this] { worker->RequestDownload(); });
    StopAt(10 * 60000);
    engine->RunComms();
    const size_t perPass = CPacing::kTransfersPerPass;
    ASSERT_GE(DownloadTimes.size(), 2 * perPass) << Log().Dump();
    // In the last five minutes at most one pass a minute, and one more.
    size_t late = 0;
    for (uint64_t t : DownloadTimes) late += t >= 5 * 60000;
    EXPECT_LE(late, 6 * perPass);
    EXPECT_LE(DownloadTimes.size(), 20 * perPass);
}

// A cache found above its limit (a host ended between a new image and the
// shown file it replaced, or the user lowered the limit) comes back within
// it as files are shown, though every download fails: replacements alone
// would keep it above for good. Files not yet shown stay.
TEST_F(RunLoopTest, CacheAboveItsLimitComesBackWithinIt) {
    struct Row {
        int maxLocal, feeds, cachedPerFeed;
    };
    for (const Row& row : {Row{4, 1, 5}, Row{2, 2, 4}, Row{12, 1, 20}}) {
        SCOPED_TRACE(std::to_string(row.maxLocal) + "/" + std::to_string(row.cachedPerFeed));
        clock = SimClock();
        closing.store(0);
        settings.MaxLocal = row.maxLocal;
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
        engine->ForTesting().UseClient(&client);
        worker = AttachWorkerObject();
        for (int k = 0; k < row.feeds; ++k) {
            engine->ForTesting().Feeds().Add(SearchFeed(k));
            AddCached(row.cachedPerFeed, k, "over" + std::to_string(row.maxLocal) + "_");
        }
        {
            MutexLock held(engine->StateLockForTest());
            engine->SaveFileList(ListSave::kAlways);
        }
        client.onPage = Catalog(24, 100, "o" + std::to_string(row.maxLocal) + "_");
        client.onDownload = [](const std::string&, const std::string&) { return StatusAnswer(503); };
        // The host shows every cached file once but the last one.
        std::vector<std::string> paths;
        for (const CFileData& d : engine->ForTesting().CacheList().Records()) paths.push_back(d.Path);
        const std::string unshown = paths.back();
        paths.pop_back();
        uint64_t t = 1000;
        for (const std::string& p : paths) {
            clock.At(t, [this, p] { engine->OnFileDisplayed(p.c_str()); });
            t += 1000;
        }
        StopAt(t + 60000);
        engine->RunComms();
        EXPECT_LE(engine->ForTesting().CacheList().Records().GetCount(),
                  static_cast<int64_t>(row.maxLocal) * row.feeds)
            << Log().Dump();
        {
            MutexLock held(engine->StateLockForTest());
            for (int k = 0; k < row.feeds; ++k) EXPECT_LE(engine->CountFeedFiles(k), row.maxLocal);
        }
        EXPECT_TRUE(engine->ForTesting().CacheList().Records().Find(unshown) !=
                    engine->ForTesting().CacheList().Records().end());
        EXPECT_TRUE(plat::PathExists(unshown));
    }
}

TEST_F(RunLoopTest, ExceptionInAPassIsLoggedAndTheLoopRestartsWithoutLosingRecords) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    int calls = 0;
    client.onPage = [&](int page, CItemArray& items, std::string& seed, int& lastPage) {
        if (++calls == 2) throw CInvalidArgException("Invalid argument: array index 3 out of range (size 3)");
        // A page large enough that the pool is not low before the timed
        // refresh at 10 s (a low pool asks its page sooner).
        return Catalog(24, 50)(page, items, seed, lastPage);
    };
    RecordDownloadTimes();
    StopAt(16000);
    worker->InitInstance();
    EXPECT_TRUE(Log().Has(
        "CException (Invalid argument: array index 3 out of range (size 3)) in CLumoraThread::RunComms()"))
        << Log().Dump();
    // The loop started over once, 1 s after the exception, re-reading the list.
    ASSERT_EQ(clock.sleeps.size(), 1u);
    EXPECT_EQ(clock.sleeps[0].second, 1000u);
    const auto loaded = Log().LinesStartingWith("ReadLocalFileList: ");
    ASSERT_EQ(loaded.size(), 2u) << Log().Dump();
    // Downloads at 0, 2, 4, 6 and 8 s were recorded before the exception at
    // 10 s: the re-read list holds all five, plus what came after.
    EXPECT_EQ(loaded[1], "ReadLocalFileList: file list loaded (5 local, v3)");
    EXPECT_GE(engine->ForTesting().CacheList().Records().GetCount(), 5);
    for (const CFileData& d : engine->ForTesting().CacheList().Records())
        EXPECT_TRUE(plat::PathExists(d.Path)) << d.Path;
}

TEST_F(RunLoopTest, ExceptionOfAnyOtherKindIsUnknown) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    int calls = 0;
    client.onPage = [&](int page, CItemArray& items, std::string& seed, int& lastPage) -> int {
        if (++calls == 1) throw 42;
        if (calls == 2) throw std::runtime_error("parser type error");
        return Catalog(1, 1)(page, items, seed, lastPage);
    };
    StopAt(5000);
    worker->InitInstance();
    EXPECT_TRUE(Log().Has("Unknown Exception in CLumoraThread::RunComms()")) << Log().Dump();
    EXPECT_TRUE(Log().Has("CException (parser type error) in CLumoraThread::RunComms()")) << Log().Dump();
    EXPECT_EQ(clock.sleeps.size(), 2u);
    EXPECT_EQ(calls, 3);
}

TEST_F(RunLoopTest, StopDuringTheWaitEndsItAtOnceAndWritesTheDirtyList) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(2, 1);
    // Downloads at 0 and 2 s; the stop comes in the wait after the second,
    // before any idle pass has written the list.
    StopAt(2500);
    engine->RunComms();
    ASSERT_FALSE(clock.waits.empty());
    EXPECT_TRUE(clock.waits.back().signalled);
    EXPECT_EQ(clock.now, 2500u);
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 2);
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 0);
    // What a new run reads back is what this one had.
    CLumoraEngine reader(settings, closing, hosttype);
    reader.ForTesting().Feeds().Add(SearchFeed(0));
    {
        MutexLock held(reader.StateLockForTest());
        reader.ReadLocalFileList();
    }
    EXPECT_EQ(reader.ForTesting().CacheList().Records().GetCount(), 2);
}

TEST_F(RunLoopTest, NothingRunsWhenClosingIsSetBeforeTheLoop) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(3, 1);
    closing.store(1);
    engine->RunComms();
    EXPECT_EQ(client.pageCalls.load(), 0);
    EXPECT_EQ(client.downloadCalls.load(), 0);
}

TEST_F(RunLoopTest, StaleTemporaryFilesAreRemovedAtStart) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    std::filesystem::create_directories(Join(folder, "sfw"));
    FakeClient::WriteBytes(Join(Join(folder, "sfw"), "crashed.__t"), "partial");
    FakeClient::WriteBytes(Join(folder, "vdt_vd_files.__t"), "partial");
    closing.store(1);
    engine->RunComms();
    EXPECT_TRUE(FilesEndingWith(folder, ".__t").empty());
}

// Paging and cache survive a restart: the second run goes on from the page
// where the first one stopped and keeps its files.
TEST_F(RunLoopTest, RestartResumesFromThePagingFile) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(10, 50);
    StopAt(25000);
    engine->RunComms();
    ASSERT_EQ(client.requests.size(), 3u);
    const int files = engine->ForTesting().CacheList().Records().GetCount();
    ASSERT_GT(files, 0);

    closing.store(0);
    CLumoraEngine second(settings, closing, hosttype);
    second.ForTesting().Feeds().Add(SearchFeed(0));
    second.ForTesting().UseClock(&clock);
    second.ForTesting().UseClient(&client);
    auto w2 = std::make_shared<CLumoraThread>();
    w2->m_engine = &second;
    second.ForTesting().Thread() = w2;
    clock.At(clock.now + 500, [&] {
        closing.store(1);
        w2->m_wakeEvent.Set();
    });
    client.requests.clear();
    second.RunComms();
    ASSERT_EQ(client.requests.size(), 1u);
    EXPECT_EQ(client.requests[0].page, 4);
    EXPECT_GE(second.ForTesting().CacheList().Records().GetCount(), files);
}

}  // namespace
