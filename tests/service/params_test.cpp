// Encoders, key redaction, URL splitting, image sniffing, the service's words
// for sorting and top range, and the random index. No network.
#include <gtest/gtest.h>
#include <json/json.h>

#include <set>
#include <vector>

#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/random.h"
#include "service/api.h"
#include "service/url.h"

namespace {

CParamList List(std::initializer_list<std::pair<const char*, const char*>> items) {
    CParamList l;
    for (const auto& p : items) l.Append(p.first, p.second);
    return l;
}

TEST(UrlEncode, KeepsUnreservedAndEncodesEveryOtherByteInUpperHex) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"abcXYZ0189", "abcXYZ0189"},
        {"-._~", "-._~"},
        {" ", "%20"},
        {"+", "%2B"},
        {"/", "%2F"},
        {",", "%2C"},
        {"\xE9", "%E9"},
        {"\xFF\x01", "%FF%01"},
        {"%", "%25"},
        {"=&?#*", "%3D%26%3F%23%2A"},
        {"+cats -dogs", "%2Bcats%20-dogs"},
        {"16x9,16x10", "16x9%2C16x10"},
        {"caf\xC3\xA9", "caf%C3%A9"},
    };
    for (const Case& c : cases) EXPECT_EQ(UrlEncode(c.in), c.out) << "input: " << c.in;
}

TEST(BuildQueryString, AppendsBaseQuestionMarkAndEncodedValuesInListOrder) {
    struct Case {
        const char* start;
        const char* base;
        CParamList params;
        const char* expected;
    } cases[] = {
        {"", "http://h/api", List({}), "http://h/api?"},
        {"", "", List({}), "?"},
        {"", nullptr, List({}), ""},
        {"", "http://h/api", List({{"q", "+cats -dogs"}}), "http://h/api?q=%2Bcats%20-dogs"},
        {"", nullptr, List({{"a", "1"}, {"b", "x y"}}), "a=1&b=x%20y"},
        // Names go out as they are; duplicates and order are kept.
        {"", nullptr, List({{"a b", "1"}, {"b", "2"}, {"a b", "3"}}), "a b=1&b=2&a b=3"},
        {"X", nullptr, List({{"page", "2"}}), "Xpage=2"},
        {"X", "/p", List({{"page", "2"}}), "X/p?page=2"},
    };
    for (Case& c : cases) {
        std::string out = c.start;
        BuildQueryString(out, c.base, c.params);
        EXPECT_EQ(out, c.expected);
    }
}

TEST(BuildJsonBody, WritesOneStringMemberPerParameter) {
    struct Case {
        CParamList params;
        const char* expected;
    } cases[] = {
        {List({}), ""},
        {List({{"a", "1"}}), "{\n\"a\":\"1\"\n}\n"},
        {List({{"a", "1"}, {"b", "x y"}}), "{\n\"a\":\"1\",\n\"b\":\"x y\"\n}\n"},
    };
    for (Case& c : cases) {
        std::string out = "previous";
        BuildJsonBody(out, c.params);
        EXPECT_EQ(out, c.expected);
    }
}

TEST(BuildJsonBody, ValuesWithQuotesBackslashesAndControlsStayValidJson) {
    CParamList params =
        List({{"q", "say \"hi\""}, {"path", "C:\\x"}, {"lines", "a\nb\tc"}, {"plain", "/ok/"}});
    std::string body;
    BuildJsonBody(body, params);
    Json::Value root;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(body, root)) << body;
    for (int i = 0; i < params.GetSize(); ++i)
        EXPECT_EQ(root[params[i].m_name].asString(), params[i].m_value);
}

// Text as the dialogs and the settings store hand it over: in the narrow
// code page (the western one under wine, UTF-8 natively).
std::string Ansi(const std::string& utf8) {
    return plat::Utf8ToAnsi(utf8, 4096);
}

TEST(OutgoingText, QueryValuesAndJsonBodiesGoOutAsUtf8) {
    struct Case {
        const char* utf8;
        const char* encoded;
    } cases[] = {
        {"Zo\xC3\xAB", "Zo%C3%AB"},
        {"caf\xC3\xA9 cr\xC3\xA8me", "caf%C3%A9%20cr%C3%A8me"},
        {"\xE2\x82\xAC"
         "5",
         "%E2%82%AC5"},  // the euro sign is 0x80 in the western code page
        {"+cats -dogs", "%2Bcats%20-dogs"},
    };
    for (const Case& c : cases) {
        const std::string text = Ansi(c.utf8);
        EXPECT_EQ(plat::AnsiToUtf8(text), c.utf8);
        CParamList params;
        params.Append("q", text);
        std::string query;
        BuildQueryString(query, "/s", params);
        EXPECT_EQ(query, std::string("/s?q=") + c.encoded);
        std::string body;
        BuildJsonBody(body, params);
        Json::Value root;
        Json::Reader reader;
        ASSERT_TRUE(reader.parse(body, root)) << body;
        EXPECT_EQ(root["q"].asString(), c.utf8) << body;
    }
#ifndef _WIN32
    // Natively the narrow code page is UTF-8: bytes that are no character of
    // it go out as U+FFFD, never as bytes the service cannot read.
    struct Broken {
        std::string in, out;
    } broken[] = {
        {"a\xE9", "a\xEF\xBF\xBD"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong "/"
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                  // a character past U+FFFF
    };
    for (const Broken& b : broken) EXPECT_EQ(plat::AnsiToUtf8(b.in), b.out);
#endif
}

TEST(ResolveLocation, ReadsTheValueAgainstTheAnsweredUrl) {
    struct Case {
        const char* base;
        const char* location;
        const char* expected;
    } cases[] = {
        {"http://h:1/a/b?x=1", "http://o/z", "http://o/z"},
        {"https://h/a/b", "//o:8/z", "https://o:8/z"},
        {"http://h:1/a/b?x=1", "/z?y", "http://h:1/z?y"},
        {"http://h:1/a/b?x=1", "c", "http://h:1/a/c"},
        {"http://h:1/a/b?x=1", "?y=2", "http://h:1/a/b?y=2"},
        {"http://h:1", "c", "http://h:1/c"},
        {"http://h:1?q", "?r", "http://h:1/?r"},
        {"http://h/a?next=http://o/", "c", "http://h/c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveLocation(c.base, c.location), c.expected) << c.base << " + " << c.location;
}

TEST(CheckRedirect, KeyStaysWithItsOriginAndTlsIsNeverLeft) {
    const std::string key = "S3cretKey";
    struct Case {
        const char* from;
        const char* to;
        const char* origin;  // null: from
        RedirectRule rule;
    } cases[] = {
        {"http://127.0.0.1:5/a", "http://127.0.0.1:5/b", nullptr, RedirectRule::kFollow},
        {"http://Host:5/a", "http://host:5/b", nullptr, RedirectRule::kFollow},
        {"https://h/a", "https://h:443/b", nullptr, RedirectRule::kFollow},
        {"http://127.0.0.1:5/a", "http://localhost:5/b", nullptr, RedirectRule::kFollowWithoutKey},
        {"http://h:5/a", "http://h:6/b", nullptr, RedirectRule::kFollowWithoutKey},
        {"http://h/a", "https://h/b", nullptr, RedirectRule::kFollowWithoutKey},
        {"https://h/a", "https://cdn/b", nullptr, RedirectRule::kFollowWithoutKey},
        {"http://cdn/a", "http://h/b", "http://h/x", RedirectRule::kFollow},
        {"https://h/a", "http://h/b", nullptr, RedirectRule::kRefuse},
        {"https://h/a", "http://other/b", nullptr, RedirectRule::kRefuse},
        {"https://cdn/a", "http://cdn/b", "https://h/x", RedirectRule::kRefuse},
        {"http://h/a", "ftp://h/b", nullptr, RedirectRule::kRefuse},
        {"http://h/a", "file:///etc/passwd", nullptr, RedirectRule::kRefuse},
        {"http://h/a", "not a url", nullptr, RedirectRule::kRefuse},
        {"http://h/a", "http://other/b?apikey=zzz", nullptr, RedirectRule::kRefuse},
        {"http://h/a", "http://other/b?k=S3cretKey", nullptr, RedirectRule::kRefuse},
        {"http://h/a", "http://h/b?apikey=S3cretKey", nullptr, RedirectRule::kFollow},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckRedirect(c.from, c.to, c.origin ? c.origin : c.from, key), c.rule)
            << c.from << " -> " << c.to;
}

TEST(RedactApiKey, MasksTheKeyInParametersHeadersAndJsonMembers) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"http://h/api/v1/search?page=1&apikey=S3cr-t_K", "http://h/api/v1/search?page=1&apikey=***"},
        {"http://h/c/demo?apikey=S3cr%2Bt&page=2", "http://h/c/demo?apikey=***&page=2"},
        {"apikey=a&x=1&APIKEY=b", "apikey=***&x=1&APIKEY=***"},
        {"X-API-Key: S3cret\r\nAccept: */*\r\n", "X-API-Key: ***\r\nAccept: */*\r\n"},
        {"{\"apikey\": \"S3cret\", \"q\":\"x\"}", "{\"apikey\": \"***\", \"q\":\"x\"}"},
        {"{\"error\":\"Unauthorized\"}", "{\"error\":\"Unauthorized\"}"},
        {"http://h/api?q=apikey&page=1", "http://h/api?q=apikey&page=1"},
        {"myapikey=keep", "myapikey=keep"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(RedactApiKey(c.in), c.out) << "input: " << c.in;
}

TEST(SplitUrl, SplitsSchemeServerPortAndObject) {
    struct Case {
        const char* url;
        int service;
        const char* server;
        int port;
        const char* object;
    } cases[] = {
        {"https://api.lumora.example/api/v1/search?x=1", kServiceHttps, "api.lumora.example", 443,
         "/api/v1/search?x=1"},
        {"http://127.0.0.1:8080/a/b", kServiceHttp, "127.0.0.1", 8080, "/a/b"},
        {"http://host", kServiceHttp, "host", 80, "/"},
        {"http://host?q=1", kServiceHttp, "host", 80, "/?q=1"},
        {"HTTP://Host:81/", kServiceHttp, "Host", 81, "/"},
        {"http://[::1]:9000/x", kServiceHttp, "::1", 9000, "/x"},
        {"http://user:pw@host/x", kServiceHttp, "host", 80, "/x"},
        {"http://host/p?a=1#frag", kServiceHttp, "host", 80, "/p?a=1"},
        {"ftp://files.example/x", kServiceFtp, "files.example", 21, "/x"},
        {"gopher://g.example/", kServiceGopher, "g.example", 70, "/"},
    };
    for (const Case& c : cases) {
        CUrlParts p;
        ASSERT_TRUE(SplitUrl(c.url, p)) << c.url;
        EXPECT_EQ(p.service, c.service) << c.url;
        EXPECT_EQ(p.server, c.server) << c.url;
        EXPECT_EQ(p.port, c.port) << c.url;
        EXPECT_EQ(p.object, c.object) << c.url;
    }
    CUrlParts unknown;
    ASSERT_TRUE(SplitUrl("foo://host/x", unknown));
    EXPECT_NE(unknown.service, kServiceHttp);
    EXPECT_NE(unknown.service, kServiceHttps);
}

TEST(SplitUrl, RejectsWhatCannotBeSplit) {
    const char* bad[] = {"",
                         "api.lumora.example/api/v1/search",
                         "http://",
                         "http:///path",
                         "http://:80/",
                         "http://host:0/",
                         "http://host:65536/",
                         "http://host:8a/",
                         "http://host:/",
                         "://host/",
                         "ht tp://host/",
                         "http://[::1/x"};
    for (const char* url : bad) {
        CUrlParts p;
        EXPECT_FALSE(SplitUrl(url, p)) << url;
    }
}

// What the download check refuses: what is recognisably no wallpaper (an
// empty body, a page, JSON). What the naming table maps (images, video,
// audio) and newer image formats pass, since no table of signatures can
// keep up with the formats a service may serve.
TEST(IsRecognisablyNoMedia, RefusesPagesJsonAndEmptyBodiesAcceptsWhatTheTableMaps) {
    struct Case {
        std::string head;
        bool refused;
    } cases[] = {
        {std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01", 12), false},
        {std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0d", 12), false},
        {"GIF89a\x01\x00\x01\x00\x80\x00", false},
        {std::string("BM\x36\x00\x0c\x00\x00\x00\x00\x00\x36\x00", 12), false},
        {std::string("RIFF\x10\x20\x30\x00WEBP", 12), false},
        {std::string("II*\x00\x08\x00\x00\x00", 8), false},
        {std::string("\x00\x00\x00\x1c"
                     "ftypavif\x00\x00\x00\x00",
                     16),
         false},  // AVIF
        {std::string("\x00\x00\x00\x18"
                     "ftypheic",
                     12),
         false},  // HEIC
        {std::string("\x00\x00\x00\x20"
                     "ftypisom",
                     12),
         false},                                              // clip.mp4
        {std::string("\x00\x00\x01\xBA\x44\x00", 6), false},  // MPEG video
        {"ID3\x04\x00\x00\x00\x00", false},                   // mp3
        {"<!DOCTYPE html><html>", true},
        {"<html><head>", true},
        {"  \r\n<html>", true},
        {"\xEF\xBB\xBF<!DOCTYPE html>", true},
        {"<?xml version=\"1.0\"?><Error>", true},
        {"{\"error\":\"x\"}", true},
        {"\n[{\"id\":1}]", true},
        {"   ", true},
        {"", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsRecognisablyNoMedia(c.head.data(), c.head.size()), c.refused) << c.head;
}

TEST(ServiceWords, SortingAndTopRangeNamesWithFallbacks) {
    const char* sortings[] = {"random", "date_added", "relevance", "views", "favorites", "toplist"};
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(GetSortingName(i), sortings[i]);
    for (int other : {-1, 6, 9, 1000}) EXPECT_STREQ(GetSortingName(other), "random") << other;

    const char* ranges[] = {"1d", "3d", "1w", "1M", "3M", "6M", "1y"};
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(GetTopRangeName(i), ranges[i]);
    for (int other : {-1, 7, 9, 1000}) EXPECT_STREQ(GetTopRangeName(other), "1M") << other;
}

TEST(BaseUrl, BuiltInHttpsAddressUnlessTheEnvironmentNamesAnother) {
    const std::string saved = plat::GetEnvVar("LUMORA_SERVICE_URL");
    struct Case {
        std::string env, url, host;
    } cases[] = {
        {"http://127.0.0.1:8123", "http://127.0.0.1:8123", "127.0.0.1"},
        {"http://localhost:9/", "http://localhost:9", "localhost"},
        {"https://stand-in.example//", "https://stand-in.example", "stand-in.example"},
    };
    for (const Case& c : cases) {
        plat::SetEnvVar("LUMORA_SERVICE_URL", c.env);
        EXPECT_EQ(CLumoraApi::BaseUrl(), c.url);
        EXPECT_EQ(CLumoraApi::BaseHostName(), c.host);
    }
    plat::SetEnvVar("LUMORA_SERVICE_URL", "");
    CUrlParts builtIn;
    ASSERT_TRUE(SplitUrl(CLumoraApi::BaseUrl(), builtIn));
    EXPECT_EQ(builtIn.service, kServiceHttps);
    EXPECT_EQ(builtIn.object, "/");  // the paths are appended to it
    EXPECT_EQ(CLumoraApi::BaseHostName(), builtIn.server);
    plat::SetEnvVar("LUMORA_SERVICE_URL", saved);
}

TEST(SystemRandom, IsAvailableAndVaries) {
    std::set<uint32_t> values;
    for (int i = 0; i < 16; ++i) {
        uint32_t v = 0;
        ASSERT_TRUE(plat::SystemRandom32(&v));
        values.insert(v);
    }
    EXPECT_GT(values.size(), 8u);
}

// Each kind of answer gives the number the log lines print: they are read
// in logs and by scripts, so they must not drift.
TEST(ServiceAnswers, EachKindGivesItsLoggedNumber) {
    using A = ServiceAnswer;
    struct Case {
        A answer;
        int code;
    } cases[] = {
        {A(A::kDone, 200), 0},
        {A(A::kHttpStatus, 404), 404},
        {A(A::kHttpStatus, 503, 7000), 503},
        {A(A::kNotSent), -1},
        {A(A::kNotSent, 200), -1},  // a failed write after the answer came
        {A(A::kBroken), -2},
        {A(A::kBroken, 200), -2},  // an API answer that broke off after some text
        {A(A::kStopped), -3},
        {A(A::kNotImage, 200), -4},
        {A(A::kCutBody, 200), -5},
        {A(A::kUnusableUrl), -6},
        {A(A::kTooLarge, 200), -7},
        {A(A::kEmpty), -3},
        {A(A::kEmpty, 200), -3},
        {A(A::kAnswerTooLarge, 200), -4},
        {A(A::kAnswerTooLarge, 404), -4},  // its status is in the log already
        {A(A::kUnreadable, 200), 0},       // the request itself succeeded
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.answer.Code(), c.code) << c.answer.kind << "/" << c.answer.status;
        EXPECT_EQ(c.answer.Ok(), c.answer.kind == A::kDone) << c.answer.kind;
    }
}

}  // namespace
