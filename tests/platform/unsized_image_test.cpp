// Image answers that announce no length (a chunked body, or one that the end
// of the connection ends): read whole when within the cap; past the cap the
// transfer ends there, the answer counts as an error and no file is left.
// Under wine this is WinINet's read path (each of its read strategies);
// natively libcurl's.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/log_capture.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "service/api.h"
#include "service/stand_in.h"

namespace {

const uint64_t kMiB = 1024 * 1024;

std::string Folder() {
    static const std::string folder = [] {
        std::string f = (std::filesystem::temp_directory_path() / "lumora_unsized_image").string();
        std::error_code ec;
        std::filesystem::remove_all(f, ec);
        std::filesystem::create_directories(f, ec);
        return f;
    }();
    return folder;
}

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

struct Case {
    const char* framing;  // how the body ends: the connection's end, or chunks
    uint64_t bytes;       // the body's size in all (0: the 2 MiB image alone)
    uint64_t cap;
    ServiceAnswer::Kind kind;
};

TEST(UnsizedImage, EndsAtTheCapWhateverTheServerAnnounced) {
    const Case cases[] = {
        {"close", 0, 3 * kMiB, ServiceAnswer::kDone},
        {"chunked", 0, 3 * kMiB, ServiceAnswer::kDone},
        // A body that would go on for 64 MiB, and one just past the cap.
        {"close", 64 * kMiB, 1 * kMiB, ServiceAnswer::kTooLarge},
        {"chunked", 64 * kMiB, 1 * kMiB, ServiceAnswer::kTooLarge},
        {"close", 0, 2 * kMiB - 1, ServiceAnswer::kTooLarge},
        {"chunked", 0, 2 * kMiB - 1, ServiceAnswer::kTooLarge},
    };
#ifdef _WIN32
    const char* modes[] = {"adaptive", "available", "block"};
#else
    const char* modes[] = {"adaptive"};  // libcurl has one way to read
#endif
    LogCapture capture;
    standin::UseForClients();
    const std::string file = Folder() + plat::kPathSep + "unsized.jpg";
    for (const char* mode : modes) {
        plat::SetEnvVar("LUMORA_WININET_READ", mode);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(mode) + ", " + c.framing + ", " + std::to_string(c.bytes) +
                         " bytes, cap " + std::to_string(c.cap));
            standin::Reset();
            std::string rule =
                std::string(R"([{"match":"/bench/","kind":"unsized","framing":")") + c.framing + "\"";
            if (c.bytes) rule += ",\"bytes\":" + std::to_string(c.bytes);
            standin::Faults(rule + "}]");
            LogCapture::Clear();
            CLumoraApi api;
            api.m_maxImageBytes = c.cap;
            const uint32_t errorsBefore = g_downloadErrors;
            const ServiceAnswer got = api.DownloadImage(CLumoraApi::BaseUrl() + "/bench/2mb.jpg", file);
            EXPECT_EQ(got.kind, c.kind);
            if (c.kind == ServiceAnswer::kDone) {
                std::error_code ec;
                EXPECT_EQ(std::filesystem::file_size(file, ec), 2 * kMiB);
                EXPECT_EQ(g_downloadErrors - errorsBefore, 0u);
            } else {
                EXPECT_EQ(FilesIn(Folder()), 0u) << "a file was left behind";
                EXPECT_EQ(g_downloadErrors - errorsBefore, 1u);
                EXPECT_EQ(LogCapture::LinesStartingWith("DownloadImage(), larger than " +
                                                        std::to_string(c.cap) + " bytes")
                              .size(),
                          1u);
            }
            plat::DeleteFileAt(file);
        }
    }
    plat::SetEnvVar("LUMORA_WININET_READ", "");
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
}

}  // namespace
