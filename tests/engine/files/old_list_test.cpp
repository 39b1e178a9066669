// Images from a version 1 list (records without a feed) leave once shown,
// like any other, and the folder settles at its limit: the run loop on
// simulated time, with a host that shows the next file of a fresh scan of
// the folder every second.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/disk_state.h"
#include "support/run_fixture.h"

namespace {

using namespace erun;

class OldListTest : public EngineTest {};

TEST_F(OldListTest, ImagesWithoutAFeedLeaveOnceShownAndTheFolderSettles) {
    settings.MaxLocal = 5;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(24, 100, "n");
    std::filesystem::create_directories(Join(folder, "sfw"));
    std::string list = "[Veduta Lumora List]\r\n8\r\n0\r\n\r\n";
    std::vector<std::string> old;
    for (int i = 0; i < 8; ++i) {
        old.push_back(Join(Join(folder, "sfw"), "old" + std::to_string(i) + ".jpg"));
        FakeClient::WriteBytes(old.back(), "\xFF\xD8\xFF\xE0 old");
        list += "o" + std::to_string(i) + "\r\n" + old.back() + "\r\n";
    }
    FakeClient::WriteBytes(Join(folder, "vdt_vd_files.lst"), list);

    // The host: the image after the last one shown, in path order, from a
    // fresh scan of the folder.
    std::string last;
    std::function<void(uint64_t)> show = [&](uint64_t t) {
        std::vector<std::string> images;
        for (const auto& image : diskstate::Read(folder).images) images.push_back(image.second);
        std::sort(images.begin(), images.end());
        if (!images.empty()) {
            auto next = std::upper_bound(images.begin(), images.end(), last);
            last = next == images.end() ? images.front() : *next;
            engine->OnFileDisplayed(last.c_str());
        }
        clock.At(t + 1000, [&, t] { show(t + 1000); });
    };
    clock.At(1000, [&] { show(1000); });
    struct Seen {
        size_t images = 0;
        int oldLeft = 0;
        std::string agreement;
    } at90, at180;
    auto look = [&](Seen* s) {
        const diskstate::Folder f = diskstate::Read(folder);
        s->images = f.images.size();
        for (const std::string& p : old) s->oldLeft += f.images.count(FoldPathCase(p)) ? 1 : 0;
        s->agreement = diskstate::Disagreement(f);
    };
    clock.At(90000, [&] { look(&at90); });
    clock.At(180000, [&] {
        look(&at180);
        closing.store(1);
    });
    engine->RunComms();

    EXPECT_EQ(at90.oldLeft, 0);
    EXPECT_EQ(at90.images, 5u);
    EXPECT_EQ(at180.oldLeft, 0);
    EXPECT_EQ(at180.images, 5u);
    EXPECT_EQ(at180.agreement, "");
    EXPECT_EQ(diskstate::Disagreement(diskstate::Read(folder)), "");
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 5);
}

}  // namespace
