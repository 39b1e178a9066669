// Test harness of the engine's run side: a simulated clock that the real
// worker loop runs on, a scripted service client, a log capture, and a
// fixture holding an engine with its own settings and image folder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/clocks.h"
#include "support/engine_holder.h"
#include "support/test_folder.h"
#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "engine/worker.h"
#include "platform/fs.h"
#include "plugin/app.h"
#include "common/host_callback.h"
#include "support/log_capture.h"
#include "support/test_host.h"

namespace erun {

using ::SimClock;

// ---- scripted service client ---------------------------------------------------
inline CLumoraItem MakeItem(const std::string& id, const std::string& purity = "sfw") {
    CLumoraItem it;
    it.Id = id;
    it.Name = "w-" + id + ".jpg";
    it.Url = "http://images.test/full/w-" + id + ".jpg";
    it.FileType = "image/jpeg";
    it.Purity = purity;
    it.Uploader = "up" + id;
    return it;
}

// A scripted answer as the real client gives it: the status 200 where the
// answer came and only its body failed, none where nothing answered.
inline ServiceAnswer KindAnswer(ServiceAnswer::Kind kind) {
    switch (kind) {
        case ServiceAnswer::kDone:
        case ServiceAnswer::kNotImage:
        case ServiceAnswer::kCutBody:
        case ServiceAnswer::kTooLarge:
        case ServiceAnswer::kAnswerTooLarge:
        case ServiceAnswer::kUnreadable:
            return ServiceAnswer(kind, 200);
        default:
            return ServiceAnswer(kind);
    }
}
// The server's status other than 200.
inline ServiceAnswer StatusAnswer(int status) {
    return ServiceAnswer(ServiceAnswer::kHttpStatus, status);
}

struct PageRequest {
    int feedKey;  // search: index found in the query text "feedN"; collection: CollId number
    int page;
    std::string seed;
    uint64_t at;  // simulated time when asked (0 without a clock)
};

class FakeClient : public CLumoraApi {
  public:
    // Answer of a page request: return value; fill items, seed and last page.
    std::function<int(int page, CItemArray& items, std::string& seed, int& lastPage)> onPage;
    // Answer of a transfer: default writes a few bytes and answers kDone.
    std::function<ServiceAnswer(const std::string& url, const std::string& file)> onDownload;
    SimClock* clock = nullptr;
    uint32_t pageCostMs = 0;  // simulated time a page request takes
    // What a failed page request answered: by default a status that names
    // the feed wrong, so failures count toward disabling it.
    ServiceAnswer failAnswer = StatusAnswer(401);
    // The Retry-After the next answer carries; a callback sets it, each
    // request starts from none.
    uint32_t retryAfterMs = 0;

    std::vector<PageRequest> requests;
    std::vector<std::pair<std::string, std::string>> downloads;  // url, file
    std::atomic<int> pageCalls{0};
    std::atomic<int> downloadCalls{0};

    ServiceAnswer QuerySearchPage(const CLumoraFeed& feed, int page, CItemArray& items, std::string& seed,
                                  int& lastPage, int&) override {
        int key = -1;
        if (feed.Query.compare(0, 4, "feed") == 0) key = std::atoi(feed.Query.c_str() + 4);
        return Page(key, page, items, seed, lastPage);
    }
    ServiceAnswer QueryCollectionPage(const char*, const char* collId, const char*, int page,
                                      CItemArray& items, int& lastPage, int&) override {
        std::string seed;
        return Page(std::atoi(collId), page, items, seed, lastPage);
    }
    ServiceAnswer DownloadImage(const std::string& url, const std::string& file) override {
        ++downloadCalls;
        downloads.emplace_back(url, file);
        retryAfterMs = 0;
        ServiceAnswer got =
            onDownload ? onDownload(url, file) : WriteBytes(file, "\xFF\xD8\xFF\xE0 fake jpeg");
        if (got.retryAfterMs == 0) got.retryAfterMs = retryAfterMs;
        return got;
    }
    // The answer of a transfer that delivers these bytes into file.
    static ServiceAnswer WriteBytes(const std::string& file, const std::string& bytes) {
        FILE* f = plat::OpenFile(file, "wb");
        if (!f) return KindAnswer(ServiceAnswer::kBroken);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return KindAnswer(ServiceAnswer::kDone);
    }

  private:
    ServiceAnswer Page(int key, int page, CItemArray& items, std::string& seed, int& lastPage) {
        ++pageCalls;
        requests.push_back(PageRequest{key, page, seed, clock ? clock->now : 0});
        if (clock && pageCostMs) clock->Pass(pageCostMs);
        retryAfterMs = 0;
        const int ok = onPage ? onPage(page, items, seed, lastPage) : 0;
        if (ok) return KindAnswer(ServiceAnswer::kDone);
        ServiceAnswer failed = failAnswer;
        if (failed.retryAfterMs == 0) failed.retryAfterMs = retryAfterMs;
        return failed;
    }
};

// Answers: feed key k, page p → 'per' items with ids "k-p-j", last page 'last'.
inline std::function<int(int, CItemArray&, std::string&, int&)> Catalog(int per, int last,
                                                                        const std::string& tag = "c") {
    return [per, last, tag](int page, CItemArray& items, std::string&, int& lastPage) {
        for (int j = 0; j < per; ++j)
            items.Add(MakeItem(tag + std::to_string(page) + "-" + std::to_string(j)));
        lastPage = last;
        return 1;
    };
}

// ---- a folder of its own per test ------------------------------------------------
inline std::string TestFolder() {
    return ::TestFolder("lumora_erun_");
}

inline std::string Join(const std::string& folder, const std::string& name) {
    std::string s = folder;
    AddBackslash(s);
    return s + name;
}

// Every file below folder whose name ends with suffix.
inline std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string n = it->path().filename().string();
        if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(it->path().string());
    }
    return out;
}

inline CLumoraFeed SearchFeed(int key, int sorting = 0) {
    CLumoraFeed f;
    f.Query = "feed" + std::to_string(key);
    f.Sorting = sorting;
    return f;
}
inline CLumoraFeed CollectionFeed(int collId) {
    CLumoraFeed f;
    f.Type = 1;
    f.Username = "demo";
    f.CollId = std::to_string(collId);
    return f;
}

// ---- the engine under test --------------------------------------------------------
class EngineTest : public ::testing::Test, public EngineHolder {
  public:
    SimClock clock;
    FakeClient client;

    void SetUp() override {
        HostLog::Install();
        settings.Enabled = 1;
        MakeEngine("lumora_erun_", &clock, &client);
        client.clock = &clock;
    }
    void TearDown() override {
        DropEngine(false);
        RemoveTestHost();
    }
    HostLog Log() { return {}; }
    // A worker object as Start makes it, without its thread: the test runs
    // the loop itself on the simulated clock.
    std::shared_ptr<CLumoraThread> AttachWorkerObject() {
        auto t = std::make_shared<CLumoraThread>();
        t->m_engine = engine.get();
        engine->ForTesting().Thread() = t;
        return t;
    }
    void AddCached(int n, int feedIndex, const std::string& tag = "cached") {
        for (int i = 0; i < n; ++i) {
            std::string path =
                Join(folder, tag + std::to_string(feedIndex) + "_" + std::to_string(i) + ".jpg");
            FakeClient::WriteBytes(path, "x");
            engine->ForTesting().CacheList().Records().AddTail(
                CFileData(path, tag + std::to_string(feedIndex) + "-" + std::to_string(i), feedIndex));
        }
    }
};

}  // namespace erun
