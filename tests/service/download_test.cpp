// Image transfers against the stand-in service: complete files, every kind
// of failure (no file may stay behind), the stop flag, and the counters.
#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "platform/fs.h"
#include "service/api.h"
#include "stand_in.h"
#include "support/read_file.h"

namespace {

const char kFolder[] = "service_download_tmp";

std::string Local(const std::string& name) {
    return std::string(kFolder) + plat::kPathSep + name;
}

long FileSize(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return n;
}

std::string FileBytes(const std::string& path) {
    return ReadFileBytes(path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

struct Counters {
    uint32_t ok = g_downloads, errors = g_downloadErrors;
    uint32_t Ok() const { return g_downloads - ok; }
    uint32_t Errors() const { return g_downloadErrors - errors; }
};

class Downloads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        standin::UseForClients();
        plat::CreateFolder(kFolder);
        // Addresses of one JPEG and one PNG from a real answer.
        standin::Reset();
        CLumoraApi api;
        CLumoraFeed feed;
        feed.Sorting = 1;
        for (int page = 1; page <= 3 && (jpeg.empty() || png.empty()); ++page) {
            CItemArray items;
            std::string seed;
            int last = 0, total = 0;
            ASSERT_TRUE(api.QuerySearchPage(feed, page, items, seed, last, total).Ok()) << api.m_errtext;
            for (const CLumoraItem& it : items) {
                if (it.FileType == "image/png" && png.empty()) png = it.Url;
                if (it.FileType == "image/jpeg" && jpeg.empty()) jpeg = it.Url;
            }
        }
        ASSERT_FALSE(jpeg.empty());
        ASSERT_FALSE(png.empty());
    }
    void SetUp() override {
        standin::Reset();
        LogCapture::Clear();
        plat::DeleteFileAt(Local("x.jpg"));
    }
    void TearDown() override { plat::SetFileOpsForTest(nullptr); }

    // The bytes the service serves at url, fetched without the client.
    static std::string Served(const std::string& url) {
        std::string path = url.substr(CLumoraApi::BaseUrl().size());
        std::string bytes = standin::Exchange("GET", path, "");
        standin::Reset();
        return bytes;
    }

    LogCapture logs;
    CLumoraApi api;
    static std::string jpeg, png;
};
std::string Downloads::jpeg, Downloads::png;

TEST_F(Downloads, CompleteImagesAreWrittenWhole) {
    struct Case {
        std::string url;
        std::string rules;
    } cases[] = {
        {jpeg, ""},
        {png, ""},
        {jpeg, R"([{"match":"/full/","kind":"slow","delay_ms":150,"chunk_delay_ms":5,"chunk_bytes":300}])"},
        {CLumoraApi::BaseUrl() + "/bench/3mb.jpg", ""},
    };
    for (const Case& c : cases) {
        std::string expected = Served(c.url);
        ASSERT_GT(expected.size(), 100u);
        if (!c.rules.empty()) standin::Faults(c.rules);
        // An older, longer file of the same name is replaced, not overwritten in part.
        WriteFile(Local("x.jpg"), std::string(expected.size() + 5000, 'z'));
        LogCapture::Clear();
        Counters before;
        ASSERT_EQ(api.DownloadImage(c.url, Local("x.jpg")).Code(), 0) << c.url;
        EXPECT_TRUE(FileBytes(Local("x.jpg")) == expected) << c.url;
        EXPECT_EQ(before.Ok(), 1u);
        EXPECT_EQ(before.Errors(), 0u);
        EXPECT_TRUE(LogCapture::Has("DownloadImage(), " + c.url + " -> " + Local("x.jpg")));
        EXPECT_TRUE(LogCapture::Has("DownloadImage(), completed size=" + std::to_string(expected.size())))
            << c.url;
    }
}

TEST_F(Downloads, RedirectsAreFollowedByTheSameRuleAsApiRequests) {
    // An image may live on another host; the transfer carries no key, so
    // another origin is fine. A redirect out of TLS is refused (unit tests
    // of CheckRedirect, and the TLS test natively).
    std::string url = standin::Url(), other = url;
    other.replace(other.find("127.0.0.1"), 9, "localhost");
    const std::string path = jpeg.substr(CLumoraApi::BaseUrl().size());
    struct Case {
        std::string location;
        int result, requests;
    } cases[] = {
        {other + path, 0, 2},
        {path, 0, 2},
        {"gopher://127.0.0.1/x", 302, 1},
    };
    const std::string expected = Served(jpeg);
    for (const Case& c : cases) {
        standin::Reset();
        standin::Faults("[{\"match\":\"/moved/\",\"count\":1,\"status\":302,\"headers\":{\"Location\":\"" +
                        c.location + "\"}}]");
        Counters before;
        EXPECT_EQ(api.DownloadImage(url + "/moved/x.jpg", Local("x.jpg")).Code(), c.result) << c.location;
        EXPECT_EQ(standin::Log().size(), static_cast<unsigned>(c.requests)) << c.location;
        if (c.result == 0) {
            EXPECT_TRUE(FileBytes(Local("x.jpg")) == expected) << c.location;
            EXPECT_EQ(before.Ok(), 1u);
        } else {
            EXPECT_FALSE(plat::PathExists(Local("x.jpg"))) << c.location;
            EXPECT_EQ(before.Errors(), 1u);
        }
    }
}

TEST_F(Downloads, RequestsRightAfterAServerClosedLate) {
    // The server sends the last piece, waits, then closes: a client that
    // keeps such a connection for its next request must not fail that request.
    standin::Faults(
        R"([{"match":"/full/","kind":"slow","delay_ms":1,"chunk_delay_ms":30,"chunk_bytes":100000}])");
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(api.DownloadImage(jpeg, Local("x.jpg")).Code(), 0) << i;
        std::string response;
        CParamList params;
        params.Append("page", "1");
        EXPECT_EQ(api.QueryServerApi(CLumoraApi::BaseUrl() + "/api/v1/search", params, response, false, false,
                                     false)
                      .Code(),
                  0)
            << i << ": " << api.m_errtext;
        EXPECT_EQ(api.DownloadImage(png, Local("x.jpg")).Code(), 0) << i;
    }
}

TEST_F(Downloads, ImageRequestHeaders) {
    api.m_apikey = "testkey123";  // never sent with image requests
    ASSERT_EQ(api.DownloadImage(png, Local("x.jpg")).Code(), 0);
    Json::Value log = standin::Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["method"].asString(), "GET");
    EXPECT_EQ(CLumoraApi::BaseUrl() + log[0]["url"].asString(), png);
    EXPECT_EQ(standin::Header(log[0], "Accept"), "text/*");
    EXPECT_EQ(standin::Header(log[0], "User-Agent"), "Mozilla/4.0 (compatible; MSIE 8.0)");
    EXPECT_FALSE(standin::HasHeader(log[0], "X-API-Key"));
    EXPECT_EQ(log[0]["url"].asString().find("apikey"), std::string::npos);
}

TEST_F(Downloads, FailuresLeaveNoFile) {
    using A = ServiceAnswer;
    struct Case {
        const char* name;
        std::string rules;
        ServiceAnswer::Kind kind;
        int status;
        uint32_t ok, errors;
        std::string logStart;
    } cases[] = {
        {"403", R"([{"match":"/full/","status":403}])", A::kHttpStatus, 403, 0, 1,
         "DownloadImage(), HTTP Error 403, url="},
        {"404", R"([{"match":"/full/","status":404}])", A::kHttpStatus, 404, 0, 1,
         "DownloadImage(), HTTP Error 404, url="},
        {"429", R"([{"match":"/full/","status":429}])", A::kHttpStatus, 429, 0, 1,
         "DownloadImage(), HTTP Error 429, url="},
        {"500", R"([{"match":"/full/","status":500}])", A::kHttpStatus, 500, 0, 1,
         "DownloadImage(), HTTP Error 500, url="},
        // The image's answer came and then broke off: a cut body, an error.
        {"dropped mid-body", R"([{"match":"/full/","kind":"drop","bytes":100}])", A::kCutBody, 200, 0, 1,
         "DownloadImage(), Error "},
        {"shorter than announced", R"([{"match":"/full/","kind":"short_image"}])", A::kCutBody, 200, 0, 1,
         "DownloadImage(), Error "},
        {"html page with 200", R"([{"match":"/full/","kind":"html200"}])", A::kNotImage, 200, 0, 1,
         "DownloadImage(), not an image"},
        {"empty 200", R"([{"match":"/full/","kind":"empty"}])", A::kNotImage, 200, 0, 1,
         "DownloadImage(), not an image"},
        {"json error with 200", R"([{"match":"/full/","status":200,"body":"{\"error\":\"gone\"}"}])",
         A::kNotImage, 200, 0, 1, "DownloadImage(), not an image"},
    };
    for (const Case& c : cases) {
        standin::Reset();
        standin::Faults(c.rules);
        LogCapture::Clear();
        Counters before;
        const ServiceAnswer got = api.DownloadImage(jpeg, Local("x.jpg"));
        EXPECT_EQ(got.kind, c.kind) << c.name;
        EXPECT_EQ(got.status, c.status) << c.name;
        EXPECT_FALSE(plat::PathExists(Local("x.jpg"))) << c.name;
        EXPECT_EQ(before.Ok(), c.ok) << c.name;
        EXPECT_EQ(before.Errors(), c.errors) << c.name;
        EXPECT_EQ(LogCapture::LinesStartingWith(c.logStart).size(), 1u) << c.name;
        EXPECT_TRUE(LogCapture::LinesStartingWith("DownloadImage(), completed").empty()) << c.name;
    }
}

TEST_F(Downloads, RequestsThatCannotStart) {
    // An address that cannot be fetched is the item's own fault; a file
    // that cannot be made, or no answer, is not. A request that went out and
    // failed counts as a download error.
    using A = ServiceAnswer;
    struct Case {
        std::string url, file;
        A::Kind kind;
        std::string logLine;
        size_t requests;
        uint32_t errors;
    } cases[] = {
        {"not a url", Local("x.jpg"), A::kUnusableUrl, "DownloadImage(), AfxParseURL failed, not a url", 0,
         0},
        {"ftp://127.0.0.1/a.jpg", Local("x.jpg"), A::kUnusableUrl,
         "DownloadImage(), Unsupported service type (1), ftp://127.0.0.1/a.jpg", 0, 0},
        {jpeg, Local(std::string("missing-folder") + plat::kPathSep + "x.jpg"), A::kNotSent,
         "DownloadImage(), cannot create the local file " +
             Local(std::string("missing-folder") + plat::kPathSep + "x.jpg"),
         0, 0},
        // Nothing listens on port 1: a platform error once the file exists.
        {"http://127.0.0.1:1/full/ab/x.jpg", Local("x.jpg"), A::kBroken, "", 0, 1},
    };
    for (const Case& c : cases) {
        standin::Reset();
        LogCapture::Clear();
        Counters before;
        const ServiceAnswer got = api.DownloadImage(c.url, c.file);
        EXPECT_EQ(got.kind, c.kind) << c.url;
        EXPECT_FALSE(plat::PathExists(c.file)) << c.url;
        if (!c.logLine.empty()) {
            EXPECT_TRUE(LogCapture::Has(c.logLine)) << c.logLine;
        }
        EXPECT_EQ(standin::Log().size(), c.requests) << c.url;
        EXPECT_EQ(before.Ok(), 0u) << c.url;
        EXPECT_EQ(before.Errors(), c.errors) << c.url;
        EXPECT_EQ(got.status, 0) << c.url;
    }
    EXPECT_EQ(LogCapture::LinesStartingWith("DownloadImage(), Error ").size(), 1u);
}

// A file that takes no data: opened for reading only.
FILE* OpenReadOnly(const std::string&, const char*) {
    WriteFile(Local("readonly.bin"), "r");
    return std::fopen(Local("readonly.bin").c_str(), "rb");
}

TEST_F(Downloads, AFailedDiskWriteIsAFailure) {
    plat::FileOps ops = plat::RealFileOps();
    ops.open = &OpenReadOnly;
    plat::SetFileOpsForTest(&ops);
    Counters before;
    EXPECT_EQ(api.DownloadImage(jpeg, Local("x.jpg")).Code(), -1);
    plat::SetFileOpsForTest(nullptr);
    EXPECT_FALSE(plat::PathExists(Local("x.jpg")));
    EXPECT_EQ(FileBytes(Local("readonly.bin")), "r");
    EXPECT_EQ(LogCapture::LinesStartingWith("DownloadImage(), write failed").size(), 1u);
    EXPECT_EQ(before.Ok(), 0u);
    plat::DeleteFileAt(Local("readonly.bin"));
}

TEST_F(Downloads, StopFlagDuringTheTransfer) {
    // 1 MiB in 16 KiB pieces, 20 ms apart: long enough to stop in the middle.
    standin::Faults(
        R"([{"match":"/bench/","kind":"slow","delay_ms":1,"chunk_delay_ms":20,"chunk_bytes":16384}])");
    std::atomic<int32_t> stop{0};
    api.m_stop = &stop;
    std::atomic<bool> sawData{false};
    std::thread stopper([&] {
        // Bounded: gives up waiting after about 20 s and stops anyway.
        for (int i = 0; i < 4000 && FileSize(Local("x.jpg")) <= 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sawData = FileSize(Local("x.jpg")) > 0;
        stop.store(1);
    });
    Counters before;
    int r = api.DownloadImage(CLumoraApi::BaseUrl() + "/bench/1mb.jpg", Local("x.jpg")).Code();
    stopper.join();
    EXPECT_TRUE(sawData.load());
    EXPECT_EQ(r, -3);
    EXPECT_FALSE(plat::PathExists(Local("x.jpg")));
    EXPECT_EQ(before.Ok(), 1u);
    EXPECT_EQ(before.Errors(), 0u);
    EXPECT_TRUE(LogCapture::LinesStartingWith("DownloadImage(), completed").empty());
}

// A server that sends a few bytes and then nothing for minutes: the stop
// must not wait for it. The stopping thread raises the flag and cancels the
// transfer, as the engine's Stop does.
TEST_F(Downloads, CancelEndsAStalledTransfer) {
#ifdef _WIN32
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "wine's WinINet does not end a blocked read when its handles are closed";
#endif
    standin::Faults(R"([{"match":"/full/","kind":"slow","chunk_bytes":16,"chunk_delay_ms":300000}])");
    std::atomic<int32_t> stop{0};
    api.m_stop = &stop;
    std::thread stopper([&] {
        // Once the request has reached the server, the transfer is waiting.
        for (int i = 0; i < 400 && standin::Log().size() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.store(1);
        api.CancelTransfer();
    });
    Counters before;
    int r = api.DownloadImage(jpeg, Local("x.jpg")).Code();
    stopper.join();
    EXPECT_EQ(r, -3);
    EXPECT_FALSE(plat::PathExists(Local("x.jpg")));
    EXPECT_EQ(before.Ok(), 1u);
    EXPECT_FALSE(LogCapture::LinesStartingWith("DownloadImage(), stopped").empty());
}

TEST_F(Downloads, StopFlagBeforeTheFirstChunk) {
    std::atomic<int32_t> stop{1};
    api.m_stop = &stop;
    Counters before;
    EXPECT_EQ(api.DownloadImage(jpeg, Local("x.jpg")).Code(), -3);
    EXPECT_FALSE(plat::PathExists(Local("x.jpg")));
    // Nothing was received: no download, and no error either.
    EXPECT_EQ(before.Ok(), 0u);
    EXPECT_EQ(before.Errors(), 0u);
    // Without a stop flag the same transfer completes.
    api.m_stop = nullptr;
    EXPECT_EQ(api.DownloadImage(jpeg, Local("x.jpg")).Code(), 0);
    EXPECT_TRUE(plat::PathExists(Local("x.jpg")));
}

TEST_F(Downloads, AnswerOfATransferCarriesItsRetryAfter) {
    standin::Faults(R"([{"match":"/full/","count":1,"status":429,"headers":{"Retry-After":"5"}}])");
    ServiceAnswer got = api.DownloadImage(jpeg, Local("x.jpg"));
    EXPECT_EQ(got.kind, ServiceAnswer::kHttpStatus);
    EXPECT_EQ(got.status, 429);
    EXPECT_EQ(got.Code(), 429);
    EXPECT_EQ(got.retryAfterMs, 5000u);
    got = api.DownloadImage(jpeg, Local("x.jpg"));
    EXPECT_EQ(got.kind, ServiceAnswer::kDone);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.retryAfterMs, 0u);
    got = api.DownloadImage("ftp://127.0.0.1/x.jpg", Local("x.jpg"));
    EXPECT_EQ(got.kind, ServiceAnswer::kUnusableUrl);
    EXPECT_EQ(got.Code(), -6);
    EXPECT_EQ(got.status, 0);
}

// An image past the cap (200 MB, or the free space above the floor as the
// engine sets it) ends the transfer: no file stays, it counts as an error.
// A cap the announced length stays within lets the image through.
TEST_F(Downloads, ImageBeyondTheCapEndsTheTransfer) {
    using A = ServiceAnswer;
    struct Case {
        uint64_t cap;
        A::Kind kind;
    } cases[] = {
        {3u << 20, A::kDone}, {2u << 20, A::kDone}, {(2u << 20) - 1, A::kTooLarge}, {4096, A::kTooLarge}};
    const std::string url = CLumoraApi::BaseUrl() + "/bench/2mb.jpg";
    for (const Case& c : cases) {
        standin::Reset();
        LogCapture::Clear();
        api.m_maxImageBytes = c.cap;
        Counters before;
        const ServiceAnswer got = api.DownloadImage(url, Local("big.jpg"));
        const bool done = c.kind == A::kDone;
        EXPECT_EQ(got.kind, c.kind) << c.cap;
        EXPECT_EQ(got.status, 200) << c.cap;
        EXPECT_EQ(plat::PathExists(Local("big.jpg")), done) << c.cap;
        EXPECT_EQ(before.Errors(), done ? 0u : 1u) << c.cap;
        EXPECT_EQ(
            LogCapture::LinesStartingWith("DownloadImage(), larger than " + std::to_string(c.cap) + " bytes")
                .size(),
            done ? 0u : 1u)
            << c.cap;
        plat::DeleteFileAt(Local("big.jpg"));
    }
    api.m_maxImageBytes = 200u << 20;
}

// What the naming table maps passes the check whatever its signature (a
// video, a newer image format); a page or JSON with status 200 does not.
TEST_F(Downloads, BodiesOfTheAnnouncedKindPassPagesDoNot) {
    using A = ServiceAnswer;
    struct Case {
        const char* name;
        std::string body;
        A::Kind kind;
    } cases[] = {
        {"mp4",
         std::string("\x00\x00\x00\x20"
                     "ftypisom\x00\x00\x02\x00",
                     16) +
             std::string(200, 'v'),
         A::kDone},
        {"avif",
         std::string("\x00\x00\x00\x1c"
                     "ftypavif",
                     12) +
             std::string(200, 'a'),
         A::kDone},
        {"xml error", "<?xml version=\"1.0\"?><Error><Code>NoSuchKey</Code></Error>", A::kNotImage},
        {"json list", "[]", A::kNotImage},
    };
    for (const Case& c : cases) {
        Json::Value rule;
        rule["match"] = "/full/";
        rule["status"] = 200;
        rule["body"] = c.body;
        Json::Value rules(Json::arrayValue);
        rules.append(rule);
        standin::Reset();
        standin::Faults(Json::FastWriter().write(rules));
        EXPECT_EQ(api.DownloadImage(jpeg, Local("m.bin")).kind, c.kind) << c.name;
        EXPECT_EQ(plat::PathExists(Local("m.bin")), c.kind == A::kDone) << c.name;
        if (c.kind == A::kDone) {
            EXPECT_EQ(FileBytes(Local("m.bin")), c.body) << c.name;
        }
        plat::DeleteFileAt(Local("m.bin"));
    }
}

}  // namespace
