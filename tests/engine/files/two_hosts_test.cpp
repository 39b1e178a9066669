// Two hosts on one image folder (a slideshow and a screensaver, host kinds 0
// and 1): one engine at a time changes the folder; the other waits without
// page requests or downloads and takes over, reading the list anew, when the
// first stops or crashes. After every step the folder and the list with its
// journal on disk agree: no orphan, no ghost.
#include <gtest/gtest.h>

#include "support/disk_state.h"
#include "support/run_fixture.h"

namespace {

using namespace erun;

class Host {
  public:
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0};
    std::atomic<int32_t> hosttype{0};
    SimClock clock;
    FakeClient client;
    std::unique_ptr<CLumoraEngine> engine;

    Host(const std::string& folder, int kind, const std::string& tag) : m_tag(tag) {
        settings.Enabled = 1;
        settings.ImgFolder = folder;
        settings.MaxLocal = 3;
        hosttype.store(kind);
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
        engine->ForTesting().UseClient(&client);
        engine->ForTesting().Feeds().Add(SearchFeed(0));
        client.clock = &clock;
        client.onPage = Catalog(24, 1000, tag);
    }
    void Start() {
        MutexLock g(engine->StateLockForTest());
        engine->BeginRun();
        m_running = true;
    }
    void Stop() {
        MutexLock g(engine->StateLockForTest());
        engine->EndRun();
        m_running = false;
    }
    // A download pass of a running worker, with a wallpaper of its own in
    // the pool.
    int Pass(bool passEnd = true) {
        if (!m_running) return kPassIdle;
        engine->ForTesting().Feeds()[0].Items.Add(MakeItem(m_tag + std::to_string(m_next++)));
        uint32_t interval = 2000;
        const int result = engine->DownloadImages(&interval);
        // A refresh pass ends by writing the list when it changed.
        MutexLock g(engine->StateLockForTest());
        if (passEnd) engine->SaveFileList(ListSave::kPassEnd);
        return result;
    }
    // The host shows every image it finds in the folder, as a slideshow does.
    void ShowAll(const std::string& folder) {
        for (const auto& image : diskstate::Read(folder).images)
            engine->OnFileDisplayed(image.second.c_str());
    }

  private:
    std::string m_tag;
    int m_next = 0;
    bool m_running = false;
};

class TwoHostsTest : public ::testing::Test {
  protected:
    std::string folder;
    void SetUp() override {
        HostLog::Install();
        folder = TestFolder();
    }
    void TearDown() override {
        RemoveTestHost();
        std::error_code ec;
        if (!HasFailure()) std::filesystem::remove_all(folder, ec);
    }
    std::string Agreement() { return diskstate::Disagreement(diskstate::Read(folder)); }
    size_t Images() { return diskstate::Read(folder).images.size(); }
    // Both hosts show what is there and each engine runs a pass.
    void Rounds(Host& a, Host& b, int n) {
        for (int i = 0; i < n; ++i) {
            a.Pass();
            b.Pass();
            a.ShowAll(folder);
            b.ShowAll(folder);
            ASSERT_EQ(Agreement(), "") << "round " << i;
            ASSERT_LE(Images(), 3u) << "round " << i;
        }
    }
};

TEST_F(TwoHostsTest, OneOwnerAtATimeAndTheFolderAgreesWithItsList) {
    Host slideshow(folder, 0, "s"), saver(folder, 1, "v");
    slideshow.Start();
    saver.Start();
    EXPECT_EQ(
        HostLog().LinesStartingWith("ReadLocalFileList: " + folder + " is in use by another host").size(),
        1u);
    Rounds(slideshow, saver, 8);
    EXPECT_GT(slideshow.client.downloadCalls.load(), 3);
    EXPECT_EQ(saver.client.downloadCalls.load(), 0);
    EXPECT_EQ(Images(), 3u);

    // The waiting host's cache clean does not clean under the owner.
    const ClearCacheResult clean = saver.engine->ClearCache(folder);
    EXPECT_TRUE(clean.listUnusable);
    EXPECT_EQ(Images(), 3u);
    ASSERT_EQ(Agreement(), "");

    // The slideshow stops: the screensaver takes over from the list on disk.
    slideshow.Stop();
    Rounds(saver, slideshow, 6);
    EXPECT_GT(saver.client.downloadCalls.load(), 3);
    EXPECT_EQ(static_cast<size_t>(saver.engine->ForTesting().CacheList().Records().GetCount()), Images());

    // The slideshow starts again and waits.
    const int before = slideshow.client.downloadCalls.load();
    slideshow.Start();
    Rounds(saver, slideshow, 4);
    EXPECT_EQ(slideshow.client.downloadCalls.load(), before);

    // The screensaver ends without a word (its process crashed): the system
    // lets go of its lock, and its last downloads are in the journal only.
    saver.ShowAll(folder);
    EXPECT_EQ(saver.Pass(false), kPassDownloaded);
    ASSERT_TRUE(plat::PathExists(Join(folder, statefmt::kJournalName)));
    ASSERT_EQ(Agreement(), "");
    saver.engine.reset();
    for (int i = 0; i < 6; ++i) {
        slideshow.Pass();
        slideshow.ShowAll(folder);
        ASSERT_EQ(Agreement(), "") << "round " << i;
        ASSERT_LE(Images(), 3u);
    }
    EXPECT_GT(slideshow.client.downloadCalls.load(), before);
    EXPECT_EQ(HostLog().LinesStartingWith("ReadLocalFileList: " + folder + " is free again").size(), 2u);
    slideshow.Stop();
    EXPECT_EQ(Agreement(), "");
    EXPECT_FALSE(plat::PathExists(Join(folder, statefmt::kJournalName)));  // all in the list now
}

// The waiting engine's run loop asks the service nothing until the folder
// is free, then works as usual.
TEST_F(TwoHostsTest, WaitingRunLoopAsksNoPages) {
    Host owner(folder, 0, "s"), waiting(folder, 1, "v");
    owner.Start();
    waiting.clock.At(5 * 60000, [&] { waiting.closing.store(1); });
    waiting.engine->RunComms();
    EXPECT_EQ(waiting.client.pageCalls.load(), 0);
    EXPECT_EQ(waiting.client.downloadCalls.load(), 0);
    EXPECT_FALSE(plat::PathExists(Join(folder, "vdt_vd_paging.lst")));
    EXPECT_EQ(
        HostLog().LinesStartingWith("ReadLocalFileList: " + folder + " is in use by another host").size(),
        1u);

    owner.Stop();
    waiting.closing.store(0);
    waiting.clock.At(waiting.clock.now + 5 * 60000, [&] { waiting.closing.store(1); });
    waiting.engine->RunComms();
    EXPECT_GT(waiting.client.pageCalls.load(), 0);
    EXPECT_GT(waiting.client.downloadCalls.load(), 0);
    EXPECT_EQ(Agreement(), "");
}

}  // namespace
