// Local names from any image address, type and purity: the path lies in the
// image folder or its purity sub-folder, and nothing is left behind or made
// outside. The path rules under both styles agree with their fast gate, and
// a side file stays inside with its image.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <unistd.h>

#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "fuzz/fuzz_check.h"

namespace fs = std::filesystem;

namespace {

struct StillClock : public Clock {
    uint32_t TickCount() override { return 1000; }
    void Sleep(uint32_t) override {}
    bool Wait(WakeEvent& ev, uint32_t) override { return ev.TryTake(); }
    double LocalNow() override { return 46365.646354166664; }  // 2026-12-09 15:30:45
};

struct Box {
    fs::path root, images;
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0}, hosttype{1};
    StillClock clock;
    std::unique_ptr<CLumoraEngine> engine;
    Box() {
        root = fs::temp_directory_path() / ("lumora_fuzz_name_" + std::to_string(::getpid()));
        images = root / "img";
        std::error_code ec;
        fs::remove_all(root, ec);
        fs::create_directories(images);
        settings.ImgFolder = images.string();
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
    }
};

Box& TheBox() {
    static Box* box = new Box();  // lives for the whole run
    return *box;
}

void CheckRules(const std::string& path, const std::string& folder) {
    for (PathStyle style : {PathStyle::kPosix, PathStyle::kWindows}) {
        const bool inside = PathInsideFolder(path, folder, style);
        FUZZ_CHECK(CFolderGate(folder, style).Contains(path) == inside,
                   FuzzShow(path) + " in " + FuzzShow(folder) +
                       (style == PathStyle::kPosix ? " (posix)" : " (windows)"));
        if (inside)
            FUZZ_CHECK(PathInsideFolder(SidePathOf(path, style), folder, style),
                       "side file of " + FuzzShow(path) + " leaves " + FuzzShow(folder));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    size_t pos = 0;
    const std::string url = FuzzField(in, &pos);
    const std::string type = FuzzField(in, &pos);
    const std::string purity = FuzzField(in, &pos);
    const std::string folder = FuzzField(in, &pos);

    CheckRules(url, folder);
    CheckRules(url, "C:\\img");
    CheckRules(url, "/img");
    if (url.size() > 200 || purity.size() > 200) return 0;  // beyond what a file system takes

    Box& box = TheBox();
    CLumoraItem item;
    item.Id = "id1";
    size_t slash = url.rfind('/');
    item.Name = slash == std::string::npos ? item.Id : url.substr(slash + 1);
    item.Url = url;
    item.FileType = type;
    item.Purity = purity;
    std::string path;
    {
        MutexLock held(box.engine->StateLockForTest());  // as a download pass holds it
        BuildLocalName(item, box.engine->ForTesting().Naming(), path);
    }

    const std::string folderText = box.images.string();
    FUZZ_CHECK(PathInsideFolder(path, folderText), FuzzShow(path));
    fs::path parent = fs::path(path).parent_path();
    std::string sub = SafePurityFolder(purity);
    fs::path expected = sub.empty() ? box.images : box.images / sub;
    FUZZ_CHECK(parent == expected, FuzzShow(path) + " not in " + FuzzShow(expected.string()));

    // Nothing beside the image folder; inside it at most the purity folder,
    // and no file (the creation test removes its own).
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(box.root, ec))
        FUZZ_CHECK(e.path() == box.images, "made outside: " + FuzzShow(e.path().string()));
    for (const auto& e : fs::recursive_directory_iterator(box.images, ec))
        FUZZ_CHECK(e.is_directory(), "file left: " + FuzzShow(e.path().string()));
    for (const auto& e : fs::directory_iterator(box.images, ec)) fs::remove_all(e.path(), ec);
    return 0;
}
