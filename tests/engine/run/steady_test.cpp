// The worker with a full cache and nothing to do, over ten simulated minutes:
// how often it wakes and what it writes. A plug-in that runs for months must
// cost next to nothing while the host shows nothing new.
#include "support/run_fixture.h"

using namespace erun;

namespace {

// Every file operation that changes the disk, counted through the
// file-operations table (the real operations still run).
struct WriteCounter {
    static std::vector<std::string>& Log() {
        static std::vector<std::string> log;
        return log;
    }
    static bool Create(const std::string& p, int* e) {
        Log().push_back("mkdir " + p);
        return plat::RealFileOps().createFolder(p, e);
    }
    static bool Delete(const std::string& p, int* e) {
        Log().push_back("delete " + p);
        return plat::RealFileOps().deleteFile(p, e);
    }
    static bool Move(const std::string& a, const std::string& b, int* e) {
        Log().push_back("rename " + a + " -> " + b);
        return plat::RealFileOps().moveReplace(a, b, e);
    }
    static bool Writes(const char* mode) {
        return std::string(mode).find_first_of("wa+") != std::string::npos;
    }
    static FILE* Open(const std::string& p, const char* mode) {
        if (Writes(mode)) Log().push_back(std::string("open(") + mode + ") " + p);
        return plat::RealFileOps().open(p, mode);
    }
    static FILE* OpenChecked(const std::string& p, const char* mode, int* e) {
        if (Writes(mode)) Log().push_back(std::string("open(") + mode + ") " + p);
        return plat::RealFileOps().openChecked(p, mode, e);
    }

    plat::FileOps ops = plat::RealFileOps();
    WriteCounter() {
        Log().clear();
        ops.createFolder = &Create;
        ops.deleteFile = &Delete;
        ops.moveReplace = &Move;
        ops.open = &Open;
        ops.openChecked = &OpenChecked;
        plat::SetFileOpsForTest(&ops);
    }
    ~WriteCounter() { plat::SetFileOpsForTest(nullptr); }
};

struct Case {
    const char* name;
    int pooled;  // wallpapers found but not fetched: the feed is at its limit
};

class SteadyStateTest : public EngineTest, public ::testing::WithParamInterface<Case> {
  protected:
    void SetUp() override { EngineTest::SetUp(); }
    void TearDown() override { EngineTest::TearDown(); }
};

TEST_P(SteadyStateTest, FullCacheWithNothingShownWakesTwiceAMinuteAndWritesNothing) {
    const Case& c = GetParam();
    {
        std::shared_ptr<CLumoraThread> worker = AttachWorkerObject();
        settings.MaxLocal = 5;
        CLumoraFeed feed = SearchFeed(0);
        for (int i = 0; i < c.pooled; ++i) feed.Items.Add(MakeItem("pool" + std::to_string(i)));
        engine->ForTesting().Feeds().Add(feed);
        AddCached(5, 0);
        {
            MutexLock held(engine->StateLockForTest());
            engine->SaveFileList(ListSave::kAlways);
        }
        client.onPage = Catalog(24, 50);

        // From the end of the first minute (the start has settled) to the
        // end of the tenth.
        const uint64_t from = 60000, to = 600000;
        std::unique_ptr<WriteCounter> counter;
        clock.At(from, [&counter] { counter.reset(new WriteCounter); });
        clock.At(to, [this, worker] {
            closing.store(1);
            worker->m_wakeEvent.Set();
        });
        engine->RunComms();
        std::vector<std::string> writes = WriteCounter::Log();
        counter.reset();

        int wakes = 0;
        for (const SimClock::WaitRecord& w : clock.waits) {
            if (w.at < from || w.at >= to) continue;
            ++wakes;
            EXPECT_EQ(w.timeout, 30000u) << "wait at " << w.at;
        }
        // 540 s at one wake per 30 s (the last wait is the one the stop ends).
        EXPECT_LE(wakes, 19);
        EXPECT_GE(wakes, 17);
        EXPECT_TRUE(client.downloads.empty());
        EXPECT_EQ(engine->ForTesting().Feeds()[0].Items.GetSize(), c.pooled);
        EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 5);
        // The stop writes the list only when something changed: nothing did.
        EXPECT_TRUE(writes.empty()) << writes.size() << " writes, first: " << writes.front();
        std::printf("[ steady   ] %s: %d wakes in %llu s, %zu page requests, %zu file writes\n", c.name,
                    wakes, static_cast<unsigned long long>((to - from) / 1000), client.requests.size(),
                    writes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Pools, SteadyStateTest,
                         ::testing::Values(Case{"nothing pooled", 0}, Case{"pooled", 20}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return i.param.pooled ? "Pooled" : "Empty";
                         });

// A drive below the free-space floor: no download starts, so no shown file
// leaves either; once space is back the next pass fetches and evicts.
struct LowDisk {
    static bool& Low() {
        static bool low = false;
        return low;
    }
    static bool Space(const std::string&, uint64_t* available, uint64_t* total, int*) {
        *total = 100ull << 30;
        *available = Low() ? (1ull << 30) : (50ull << 30);  // floor: 5 GB of 100
        return true;
    }
    plat::FileOps ops = plat::RealFileOps();
    LowDisk() {
        Low() = true;
        ops.freeSpace = &Space;
        plat::SetFileOpsForTest(&ops);
    }
    ~LowDisk() { plat::SetFileOpsForTest(nullptr); }
};

class DiskFloorTest : public EngineTest {};

TEST_F(DiskFloorTest, BelowTheFloorNothingIsFetchedOrEvictedUntilSpaceReturns) {
    std::shared_ptr<CLumoraThread> worker = AttachWorkerObject();
    settings.MaxLocal = 5;
    CLumoraFeed feed = SearchFeed(0);
    for (int i = 0; i < 10; ++i) feed.Items.Add(MakeItem("pool" + std::to_string(i)));
    engine->ForTesting().Feeds().Add(feed);
    AddCached(5, 0);
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    client.onPage = Catalog(24, 50);
    const std::string shown = Join(folder, "cached0_0.jpg");
    LowDisk disk;
    clock.At(5000, [this, shown] { engine->OnFileDisplayed(shown.c_str()); });
    size_t downloadsWhileLow = 0;
    bool shownKeptWhileLow = false;
    clock.At(120000, [&] {
        downloadsWhileLow = client.downloads.size();
        shownKeptWhileLow = std::filesystem::exists(shown);
        LowDisk::Low() = false;
    });
    clock.At(160000, [this, worker] {
        closing.store(1);
        worker->m_wakeEvent.Set();
    });
    engine->RunComms();

    EXPECT_EQ(downloadsWhileLow, 0u);
    EXPECT_TRUE(shownKeptWhileLow);
    EXPECT_EQ(Log().LinesStartingWith("DownloadImages: only ").size(), 1u) << Log().Dump();
    // Space came back at 120 s: the next pass (at most one idle wait later)
    // fetched a replacement, and the shown file went after it had arrived.
    ASSERT_FALSE(client.downloads.empty()) << Log().Dump();
    EXPECT_EQ(Log().LinesStartingWith("DownloadImages: free space ").size(), 1u) << Log().Dump();
    EXPECT_FALSE(std::filesystem::exists(shown));
    EXPECT_TRUE(Log().Has("CleanDispFiles: Removed " + shown)) << Log().Dump();
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 5);
}

}  // namespace
