// Encoders, key redaction, URL splitting, image sniffing, the service's words
// for sorting and top range, and the random index. No network.
#include <gtest/gtest.h>
#include <json/json.h>

#include <set>

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
    CParamList params = List({{"q", "say \"hi\""}, {"path", "C:\\x"}, {"lines", "a\nb\tc"}, {"plain", "/ok/"}});
    std::string body;
    BuildJsonBody(body, params);
    Json::Value root;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(body, root)) << body;
    for (int i = 0; i < params.GetSize(); ++i) EXPECT_EQ(root[params[i].m_name].asString(), params[i].m_value);
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

TEST(LooksLikeImage, KnowsImageSignaturesAndRejectsPagesAndEmptyBodies) {
    struct Case {
        std::string head;
        bool image;
    } cases[] = {
        {std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01", 12), true},
        {std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0d", 12), true},
        {"GIF89a\x01\x00\x01\x00\x80\x00", true},
        {"GIF87a", true},
        {std::string("BM\x36\x00\x0c\x00\x00\x00\x00\x00\x36\x00", 12), true},
        {std::string("RIFF\x10\x20\x30\x00WEBP", 12), true},
        {std::string("II*\x00\x08\x00\x00\x00", 8), true},
        {std::string("MM\x00*\x00\x00\x00\x08", 8), true},
        {std::string("RIFF\x10\x20\x30\x00WAVE", 12), false},
        {"RIFF", false},
        {"<!DOCTYPE ht", false},
        {"<html><head>", false},
        {"{\"error\":\"x\"", false},
        {"\xFF\xD8", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(LooksLikeImage(c.head.data(), c.head.size()), c.image) << c.head;
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

TEST(GetRandomIndex, StaysBelowNAndReachesEveryIndex) {
    for (int i = 0; i < 200; ++i) EXPECT_EQ(GetRandomIndex(1), 0u);
    EXPECT_EQ(GetRandomIndex(0), 0u);  // never divides by zero
    std::set<unsigned> seen;
    for (int i = 0; i < 2000; ++i) {
        unsigned v = GetRandomIndex(7);
        ASSERT_LT(v, 7u);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 7u);
}

TEST(GetRandomIndex, SystemSourceIsAvailableAndVaries) {
    std::set<uint32_t> values;
    for (int i = 0; i < 16; ++i) {
        uint32_t v = 0;
        ASSERT_TRUE(plat::SystemRandom32(&v));
        values.insert(v);
    }
    EXPECT_GT(values.size(), 8u);
}

}  // namespace
