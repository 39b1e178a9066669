// The real worker thread: start and stop, a stop that times out, the host's
// thread working on the engine while the worker runs (also under TSan).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <random>
#include <thread>

#include "support/run_fixture.h"

using namespace erun;

namespace {

// Real waits of a millisecond and a tick count that runs fast, so the real
// loop makes many passes in little time on its own thread.
class FastClock : public Clock {
  public:
    std::atomic<uint32_t> ticks{0x7FFF0000u};
    uint32_t TickCount() override { return ticks.fetch_add(700); }
    void Sleep(uint32_t) override { std::this_thread::yield(); }
    bool Wait(WakeEvent& ev, uint32_t) override {
        ticks.fetch_add(1000);
        return ev.WaitFor(1);
    }
    double LocalNow() override { return 46082.5 + ticks.load() / 86400000.0; }
};

// A one-shot flag with a bounded wait: a test waits for the worker to reach
// a point; the bound only keeps a broken build from hanging the run.
class Latch {
  public:
    void Set() {
        std::lock_guard<std::mutex> g(m_mutex);
        m_set = true;
        m_cv.notify_all();
    }
    bool WaitSet(int seconds = 60) {
        std::unique_lock<std::mutex> l(m_mutex);
        return m_cv.wait_for(l, std::chrono::seconds(seconds), [this] { return m_set; });
    }
    bool IsSet() {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_set;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

class WorkerThreadTest : public EngineTest {
  public:
    FastClock fast;
    void SetUp() override {
        EngineTest::SetUp();
        engine->ForTesting().UseClock(&fast);
        client.clock = nullptr;
    }
    void TearDown() override {
        closing.store(1);
        if (engine && engine->ForTesting().Thread()) engine->ForTesting().Thread()->m_wakeEvent.Set();
        EngineTest::TearDown();
    }
    // Polls cond until it holds (bounded, like Latch).
    static bool Eventually(const std::function<bool()>& cond) {
        for (int i = 0; i < 60000; ++i) {
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return cond();
    }
    std::vector<std::string> DiskImages() {
        std::vector<std::string> v = FilesEndingWith(folder, ".jpg");
        std::sort(v.begin(), v.end());
        return v;
    }
};

// A start while the worker runs adds nothing; a start after a stop works
// like the first one: a new worker goes on where the first one left off.
TEST_F(WorkerThreadTest, StartRunsTheLoopStopEndsItAndAStartAfterTheStopRunsAgain) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    std::atomic<int> done{0};
    client.onPage = Catalog(20, 100);
    client.onDownload = [&](const std::string&, const std::string& file) {
        ++done;
        return FakeClient::WriteBytes(file, "img");
    };
    engine->Start();
    ASSERT_TRUE(engine->ForTesting().Thread());
    std::shared_ptr<CLumoraThread> first = engine->ForTesting().Thread();
    ASSERT_TRUE(Eventually([&] { return done.load() >= 3; }));
    engine->Start();  // still running: nothing new
    EXPECT_EQ(engine->ForTesting().Thread(), first);
    EXPECT_EQ(Log().Count("CLumoraThread::Start()"), 1);
    engine->Stop();
    EXPECT_TRUE(Log().Has("CLumoraThread Stopping thread"));
    EXPECT_TRUE(Log().Has("CLumoraThread::Stop(), result: 0")) << Log().Dump();
    EXPECT_FALSE(first->IsRunning());
    // The list on disk holds every file the run recorded.
    {
        CLumoraEngine reader(settings, closing, hosttype);
        reader.ForTesting().Feeds().Add(SearchFeed(0));
        {
            MutexLock held(reader.StateLockForTest());
            reader.ReadLocalFileList();
        }
        EXPECT_EQ(reader.ForTesting().CacheList().Records().GetCount(),
                  engine->ForTesting().CacheList().Records().GetCount());
        EXPECT_GE(reader.ForTesting().CacheList().Records().GetCount(), 3);
    }

    const int before = done.load();
    closing.store(0);  // message 9 again
    engine->Start();
    ASSERT_TRUE(engine->ForTesting().Thread());
    EXPECT_NE(engine->ForTesting().Thread(), first);
    EXPECT_EQ(Log().Count("CLumoraThread::Start()"), 2);
    EXPECT_TRUE(Eventually([&] { return done.load() >= before + 3; })) << Log().Dump();
    engine->Stop();
    EXPECT_EQ(Log().Count("CLumoraThread::Stop(), result: 0"), 2) << Log().Dump();
}

TEST_F(WorkerThreadTest, StartWithoutFeedsStartsNothing) {
    engine->Start();
    EXPECT_FALSE(engine->ForTesting().Thread());
    EXPECT_FALSE(Log().Has("CLumoraThread::Start()"));
    engine->Stop();  // no worker: nothing logged
    EXPECT_TRUE(Log().Lines().empty()) << Log().Dump();
}

// On the real clock an idle worker waits 30 s; a stop must wake it at once,
// so the stop sees the thread end well within a 20 s bound (else 258).
TEST_F(WorkerThreadTest, StopWakesTheLongWait) {
    engine->ForTesting().UseClock(&SystemClock());
    engine->ForTesting().SetStopTimeout(20000);
    settings.MaxLocal = 0;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->Start();
    ASSERT_TRUE(Eventually([&] { return Log().Has("DownloadImages: cache full (0/0)"); }));
    engine->Stop();
    EXPECT_TRUE(Log().Has("CLumoraThread::Stop(), result: 0")) << Log().Dump();
}

// A worker stuck in a transfer that ignores the stop outlives Stop; its
// object must stay alive (held by its own thread) until it ends.
TEST_F(WorkerThreadTest, WorkerOutlivingStopKeepsItsObjectUntilItEnds) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(5, 10);
    Latch inTransfer, release;
    client.onDownload = [&](const std::string&, const std::string& file) {
        inTransfer.Set();
        release.WaitSet();
        return FakeClient::WriteBytes(file, "img");
    };
    engine->ForTesting().SetStopTimeout(50);
    engine->Start();
    ASSERT_TRUE(inTransfer.WaitSet());
    engine->Stop();
    EXPECT_TRUE(Log().Has("CLumoraThread::Stop(), result: 258")) << Log().Dump();
    std::weak_ptr<CLumoraThread> weak = engine->ForTesting().Thread();
    engine->ForTesting().Thread().reset();  // the owner lets go, as at unload
    EXPECT_FALSE(weak.expired());
    release.Set();
    EXPECT_TRUE(Eventually([&] { return weak.expired(); }));
    // expired() is a relaxed read: it orders nothing. The worker's last touch
    // of the engine is its release of the engine's lock, so taking the lock
    // once orders the teardown (engine, client, latches) after all of it.
    { MutexLock settled(engine->StateLockForTest()); }
}

// A stop that timed out, and a start that comes after the worker's loop has
// seen the stop but before the worker has ended: the start finds it running
// and starts nothing, so the worker must go on by itself.
TEST_F(WorkerThreadTest, StartWhileTheWorkerIsEndingKeepsAWorkerRunning) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(20, 100);
    std::atomic<int> done{0};
    client.onDownload = [&](const std::string&, const std::string& file) {
        ++done;
        return FakeClient::WriteBytes(file, "img");
    };
    Latch ending, release;
    std::atomic<int> ends{0};
    engine->ForTesting().BeforeWorkerEnds([&] {
        if (++ends > 1) return;
        ending.Set();
        release.WaitSet();
    });
    engine->ForTesting().SetStopTimeout(50);
    engine->Start();
    ASSERT_TRUE(Eventually([&] { return done.load() >= 2; }));
    std::shared_ptr<CLumoraThread> first = engine->ForTesting().Thread();
    engine->Stop();
    ASSERT_TRUE(ending.WaitSet());
    EXPECT_TRUE(Log().Has("CLumoraThread::Stop(), result: 258")) << Log().Dump();
    closing.store(0);  // message 9 again
    engine->Start();   // the worker has not ended yet: nothing new starts
    EXPECT_EQ(engine->ForTesting().Thread(), first);
    release.Set();
    const int before = done.load();
    EXPECT_TRUE(Eventually([&] { return done.load() >= before + 2; })) << Log().Dump();
    EXPECT_TRUE(first->IsRunning());
    EXPECT_TRUE(Log().Has("CLumoraThread: started again while ending, goes on")) << Log().Dump();
    engine->ForTesting().SetStopTimeout(20000);
    engine->Stop();
    EXPECT_FALSE(first->IsRunning());
}

// A stop during a transfer: the client ends it (stop flag) and deletes its
// file; the engine records nothing and no temporary file stays.
TEST_F(WorkerThreadTest, StopDuringATransferLeavesNoTemporaryFile) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(5, 10);
    client.m_stop = &closing;
    Latch inTransfer;
    client.onDownload = [&](const std::string&, const std::string& file) {
        FILE* f = plat::OpenFile(file, "wb");
        if (!f) return KindAnswer(ServiceAnswer::kBroken);
        inTransfer.Set();
        for (;;) {  // a slow body, read in chunks, watching the stop flag
            std::fputs("chunk", f);
            std::fflush(f);
            if (client.m_stop->load()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::fclose(f);
        plat::DeleteFileAt(file);
        return KindAnswer(ServiceAnswer::kStopped);
    };
    engine->Start();
    ASSERT_TRUE(inTransfer.WaitSet());
    engine->Stop();
    EXPECT_TRUE(Log().Has("CLumoraThread::Stop(), result: 0")) << Log().Dump();
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
    EXPECT_TRUE(FilesEndingWith(folder, ".__t").empty());
    EXPECT_TRUE(DiskImages().empty());
}

// The host's thread must get through its calls while a transfer is running:
// a dialog's OK cannot wait for a download.
TEST_F(WorkerThreadTest, HostCallsDoNotWaitForATransfer) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(5, 10);
    Latch inTransfer, hostDone;
    std::atomic<bool> hostWasBlocked{false};
    std::atomic<int> transfers{0};
    client.onDownload = [&](const std::string&, const std::string& file) {
        if (++transfers == 1) {
            inTransfer.Set();
            if (!hostDone.WaitSet(30)) hostWasBlocked = true;
        }
        return FakeClient::WriteBytes(file, "img");
    };
    engine->Start();
    ASSERT_TRUE(inTransfer.WaitSet());
    CFeedArray same;
    same.Add(SearchFeed(0));
    engine->ApplyFeeds(same);
    engine->SetApiKey("NEWKEY");
    std::vector<std::string> names, values;
    engine->GetCacheStatus(folder, names, values);
    engine->OnFileDisplayed(Join(folder, "shown.jpg").c_str());
    hostDone.Set();
    ASSERT_TRUE(Eventually([&] { return transfers.load() >= 2; }));
    engine->Stop();
    EXPECT_FALSE(hostWasBlocked.load());
    // The key given while the worker ran reached its client.
    EXPECT_EQ(engine->ForTesting().Api().m_apikey, "NEWKEY");
    // The feed list was the same: the file of the running transfer counts.
    EXPECT_GE(engine->ForTesting().CacheList().Records().GetCount(), 2);
}

TEST_F(WorkerThreadTest, ApiKeyWithoutARunningWorkerIsTakenAtOnce) {
    engine->SetApiKey("K1");
    EXPECT_EQ(engine->ForTesting().Api().m_apikey, "K1");
}

// The host's thread hammers the engine while the real worker runs. Under
// ThreadSanitizer this shows any unguarded sharing; on every build the end
// state must be whole: every record's file is on disk and every image on
// disk has its record, no temporary file is left, every known file is in
// the id set.
TEST_F(WorkerThreadTest, HostHammeringWhileTheWorkerRunsKeepsTheCacheWhole) {
    settings.MaxLocal = 6;
    CFeedArray listA, listB;
    listA.Add(SearchFeed(0));
    listA.Add(CollectionFeed(5));
    listB.Add(SearchFeed(1));
    listB.Add(CollectionFeed(5));
    engine->ForTesting().Feeds().Copy(listA);
    std::atomic<int> pages{0};
    client.onPage = [&](int page, CItemArray& items, std::string&, int& lastPage) {
        const int n = ++pages;
        for (int j = 0; j < 4; ++j) items.Add(MakeItem("h" + std::to_string(n) + "-" + std::to_string(j)));
        lastPage = page + 1;
        return 1;
    };
    std::atomic<int> downloads{0};
    client.onDownload = [&](const std::string&, const std::string& file) {
        ++downloads;
        return FakeClient::WriteBytes(file, "img");
    };
    engine->Start();
    ASSERT_TRUE(Eventually([&] { return downloads.load() >= 5; }));
    std::mt19937 rng(7);
    bool onA = true;
    for (int i = 0; i < 150; ++i) {
        switch (rng() % 6) {
            case 0:  // a changed list: the cache is cleared
                onA = !onA;
                engine->ApplyFeeds(onA ? listA : listB);
                break;
            case 1:
                engine->ApplyFeeds(onA ? listA : listB);
                break;  // the same list
            case 2:
                engine->ClearCache(folder);
                break;
            case 3:
                engine->SetApiKey("key" + std::to_string(i));
                break;
            default: {
                // Reports of names the worker may have written.
                std::vector<std::string> files = DiskImages();
                if (!files.empty()) engine->OnFileDisplayed(files[rng() % files.size()].c_str());
                engine->OnFileDisplayed(Join(folder, "not-ours.jpg").c_str());
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int before = downloads.load();
    ASSERT_TRUE(Eventually([&] { return downloads.load() >= before + 3; }));
    engine->Stop();
    ASSERT_TRUE(Log().Has("CLumoraThread::Stop(), result: 0")) << Log().Dump();

    std::vector<std::string> recorded;
    for (const CFileData& d : engine->ForTesting().CacheList().Records()) {
        recorded.push_back(d.Path);
        EXPECT_EQ(engine->ForTesting().Ids().count(d.Id), 1u) << d.Id;
    }
    std::sort(recorded.begin(), recorded.end());
    std::vector<std::string> onDisk = DiskImages();
    EXPECT_EQ(recorded, onDisk);
    EXPECT_TRUE(FilesEndingWith(folder, ".__t").empty());
    for (const CLumoraFeed& f : engine->ForTesting().Feeds())
        for (const CLumoraItem& it : f.Items) EXPECT_EQ(engine->ForTesting().Ids().count(it.Id), 1u) << it.Id;
}

// A host that serialises its callbacks on its own thread: a log line or
// notification from the worker waits until the host's thread has taken it,
// which that thread does between messages. Were the worker to call with the
// engine's lock held while the host's thread waits for that lock in a
// message, neither would go on; the bounded wait counts that instead.
class SerialHost {
  public:
    static SerialHost*& Current() {
        static SerialHost* h = nullptr;
        return h;
    }
    std::thread::id hostThread = std::this_thread::get_id();
    std::atomic<bool> blocking{true};
    std::atomic<int> stuck{0};   // worker calls the host's thread never took
    std::atomic<int> handed{0};  // worker calls taken by the host's thread

    static int32_t LUMORA_STDCALL Callback(uint32_t code, HostWord, HostWord) {
        SerialHost* h = Current();
        if (!h || (code != PHC_LOG && code != PHC_NOTIFY)) return 1;
        if (std::this_thread::get_id() == h->hostThread) return 1;
        std::unique_lock<std::mutex> l(h->m_mutex);
        const uint64_t ticket = ++h->m_posted;
        if (!h->m_cv.wait_for(l, std::chrono::seconds(5),
                              [&] { return h->m_taken >= ticket || !h->blocking; }))
            ++h->stuck;
        else
            ++h->handed;
        return 1;
    }
    // The host's thread between messages: takes what the worker handed over.
    void Pump() {
        std::lock_guard<std::mutex> l(m_mutex);
        m_taken = m_posted;
        m_cv.notify_all();
    }
    void StopBlocking() {
        std::lock_guard<std::mutex> l(m_mutex);
        blocking = false;
        m_cv.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    uint64_t m_posted = 0, m_taken = 0;
};

TEST_F(WorkerThreadTest, HostThatTakesCallsOnItsOwnThreadNeverWaitsForTheWorker) {
    SerialHost host;
    SerialHost::Current() = &host;
    theApp().m_callback.store(&SerialHost::Callback);
    settings.MaxLocal = 6;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->ForTesting().Feeds().Add(CollectionFeed(3));
    std::atomic<int> pages{0};
    client.onPage = [&](int page, CItemArray& items, std::string&, int& lastPage) {
        const int n = ++pages;
        for (int j = 0; j < 5; ++j) items.Add(MakeItem("s" + std::to_string(n) + "-" + std::to_string(j)));
        lastPage = page + 1;
        return 1;
    };
    std::atomic<int> downloads{0};
    client.onDownload = [&](const std::string&, const std::string& file) {
        ++downloads;
        return FakeClient::WriteBytes(file, "img");
    };
    engine->Start();
    std::mt19937 rng(11);
    for (int i = 0; i < 600 && host.stuck.load() == 0; ++i) {
        host.Pump();
        switch (i % 5) {
            case 0: {  // message 6: the settings to save
                CLumoraSettings v = engine->GetSettings();
                EXPECT_EQ(v.MaxLocal, 6);
                break;
            }
            case 1: {  // message 5: the dialog opens and closes with OK
                CLumoraSettings v;
                CFeedArray feeds;
                engine->SnapshotForDialog(&v, &feeds);
                engine->ApplyDialog(v, feeds);
                break;
            }
            case 2:
                engine->Enable(true, 1);
                break;  // message 40
            case 3: {   // message 14
                std::vector<std::string> files = DiskImages();
                if (!files.empty()) engine->OnFileDisplayed(files[rng() % files.size()].c_str());
                break;
            }
            default:
                engine->SetApiKey("key" + std::to_string(i));
                break;
        }
        host.Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(Eventually([&] {
        host.Pump();
        return downloads.load() >= 10;
    }));
    host.StopBlocking();
    engine->Stop();
    theApp().m_callback.store(nullptr);
    SerialHost::Current() = nullptr;
    EXPECT_EQ(host.stuck.load(), 0);
    EXPECT_GT(host.handed.load(), 50);  // the worker did talk to the host meanwhile
}

// The wake event the worker waits on: a signal ends one wait (and is used up
// by it), a signal before the wait is kept for it, and a wait without one
// times out.
TEST(WakeEventTest, AutoResetSignalAndTimeout) {
    WakeEvent ev;
    EXPECT_FALSE(ev.TryTake());
    EXPECT_FALSE(ev.WaitFor(1));
    ev.Set();
    EXPECT_TRUE(ev.WaitFor(60000));  // already set: no wait
    EXPECT_FALSE(ev.TryTake());      // used up
    ev.Set();
    ev.Set();
    EXPECT_TRUE(ev.TryTake());
    EXPECT_FALSE(ev.TryTake());  // two signals, one wake
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = ev.WaitFor(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ev.Set();
    waiter.join();
    EXPECT_TRUE(woke.load());
}

}  // namespace
