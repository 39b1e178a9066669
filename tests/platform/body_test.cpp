// Whole bodies through the platform's reads, under every read strategy, with
// a server whose pace changes during the body (so an adaptive window opens
// and closes several times), and read by callers with different buffer sizes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/http.h"
#include "service/stand_in.h"
#include "service/url.h"

namespace {

const size_t kMiB = 1024 * 1024;

// The stand-in service's /bench/NNmb.jpg, built the same way: a JPEG header,
// comment segments as filler (each with its own length), and the end marker.
std::string BenchFile(size_t mib) {
    const std::string header("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
    std::string out = header;
    size_t remaining = mib * kMiB - header.size() - 2;
    const size_t full = 0xFFFF + 2;
    while (remaining > 0) {
        size_t take = remaining < full ? remaining : full;
        size_t len = take - 2;  // the segment length counts its own two bytes
        out += '\xff';
        out += '\xfe';
        out += static_cast<char>(len >> 8);
        out += static_cast<char>(len & 0xFF);
        out.append(take - 4, '\0');
        remaining -= take;
    }
    out += "\xff\xd9";
    return out;
}

std::string ReadBody(const std::string& path, size_t piece) {
    CUrlParts parts;
    EXPECT_TRUE(SplitUrl(standin::Url() + path, parts));
    plat::HttpRequest req;
    req.agent = "lumora-tests";
    req.server = parts.server;
    req.port = parts.port;
    req.object = parts.object;
    std::unique_ptr<plat::HttpTransfer> t = plat::NewHttpTransfer();
    EXPECT_TRUE(t->Open(req));
    EXPECT_TRUE(t->Send());
    EXPECT_EQ(t->Status(), 200);
    std::string body;
    std::string buf(piece, '\0');
    for (;;) {
        size_t n = t->Read(&buf[0], piece);
        EXPECT_LE(n, piece);
        if (n == 0) break;
        body.append(buf.data(), n);
    }
    return body;
}

}  // namespace

TEST(TransferBodies, EveryReadStrategyDeliversTheWholeBodyInOrder) {
    const std::string expected = BenchFile(3);
    // The filler segments differ only in their length bytes, so a lost,
    // repeated or misplaced piece shows as a wrong size or a wrong byte.
    ASSERT_EQ(expected.size(), 3 * kMiB);
    struct Pace {
        const char* name;
        const char* rules;
    } paces[] = {
        {"steady", "[]"},
        // 192 KiB at a time with 80 ms pauses: every pause is long enough to
        // close an open window, and the data between lets it open again.
        {"bursts",
         R"([{"match":"/bench/","kind":"slow","delay_ms":1,"chunk_delay_ms":80,"chunk_bytes":196608}])"},
        // Odd-sized pieces, quickly: reads end at arbitrary offsets.
        {"odd pieces",
         R"([{"match":"/bench/","kind":"slow","delay_ms":1,"chunk_delay_ms":1,"chunk_bytes":77777}])"},
    };
#ifdef _WIN32
    const char* modes[] = {"adaptive", "available", "block"};
#else
    const char* modes[] = {"adaptive"};  // libcurl has one way to read
#endif
    // The service client's 4096-byte chunks, and a size that does not divide
    // any read of the stack.
    const size_t pieces[] = {4096, 1000};
    standin::UseForClients();
    size_t n = 0;
    for (const char* mode : modes) {
        plat::SetEnvVar("LUMORA_WININET_READ", mode);
        for (const Pace& pace : paces) {
            size_t piece = pieces[n++ % 2];
            SCOPED_TRACE(std::string(mode) + ", " + pace.name + ", pieces of " + std::to_string(piece));
            standin::Reset();
            standin::Faults(pace.rules);
            std::string body = ReadBody("/bench/3mb.jpg", piece);
            ASSERT_EQ(body.size(), expected.size());
            EXPECT_TRUE(body == expected);
        }
    }
    plat::SetEnvVar("LUMORA_WININET_READ", "");
}
