// API requests against the stand-in service: the exact request URLs and
// header lines, results, error texts, counters, and the page and collection
// requests with their answers.
#include <gtest/gtest.h>
#include <json/json.h>

#include <set>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "common/strings.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/http.h"
#include "service/api.h"
#include "stand_in.h"

namespace {

const char kValidKey[] = "testkey123";  // the stand-in's accepted key
// What the user reads for an answer of the wrong shape: said plainly, the
// JSON library's own words only in the log.
const char kUnreadable[] = IDS_QS_UNREADABLE_ANSWER_T;

// Text as the dialogs and the settings store hand it over: in the narrow
// code page (the western one under wine, UTF-8 natively).
std::string Ansi(const std::string& utf8) {
    return plat::Utf8ToAnsi(utf8, 4096);
}

class Requests : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::UseForClients();
        standin::Reset();
        LogCapture::Clear();
    }
    // The one request the service saw since the last reset.
    Json::Value OnlyRequest() {
        Json::Value log = standin::Log();
        EXPECT_EQ(log.size(), 1u);
        return log.size() ? log[log.size() - 1] : Json::Value();
    }
    LogCapture logs;
    CLumoraApi api;
};

struct Counters {
    uint32_t calls = g_apiCalls, errors = g_apiErrors;
    uint32_t Calls() const { return g_apiCalls - calls; }
    uint32_t Errors() const { return g_apiErrors - errors; }
};

CLumoraFeed Search(const std::string& q, const std::string& cat, const std::string& pur, int sorting,
                   int topRange, const std::string& atleast = "", const std::string& ratios = "") {
    CLumoraFeed f;
    f.Type = 0;
    f.Query = q;
    f.Categories = cat;
    f.Purity = pur;
    f.Sorting = sorting;
    f.TopRange = topRange;
    f.Atleast = atleast;
    f.Ratios = ratios;
    return f;
}

TEST_F(Requests, SearchPageUrls) {
    struct Case {
        CLumoraFeed feed;
        int page;
        std::string seed, key, target;
    } cases[] = {
        {Search("", "111", "100", 0, 3), 1, "", "",
         "/api/v1/search?categories=111&purity=100&sorting=random&page=1"},
        {Search("", "111", "100", 0, 3), 2, "Ab12cd", "",
         "/api/v1/search?categories=111&purity=100&sorting=random&seed=Ab12cd&page=2"},
        {Search("", "111", "100", 5, 6), 1, "Ab12cd", "",
         "/api/v1/search?categories=111&purity=100&sorting=toplist&topRange=1y&page=1"},
        {Search("", "010", "110", 4, 2), 3, "", "",
         "/api/v1/search?categories=010&purity=110&sorting=favorites&page=3"},
        {Search("", "111", "100", 9, 3), 1, "Ab12cd", "",
         "/api/v1/search?categories=111&purity=100&sorting=random&page=1"},
        {Search("", "111", "100", 5, 9), 1, "", "",
         "/api/v1/search?categories=111&purity=100&sorting=toplist&topRange=1M&page=1"},
        {Search("+cats -dogs", "100", "100", 1, 3, "1920x1080", "16x9,16x10"), 1, "", "",
         "/api/v1/search?q=%2Bcats%20-dogs&categories=100&purity=100&sorting=date_added&atleast=1920x1080"
         "&ratios=16x9%2C16x10&page=1"},
        // The user's text goes out as UTF-8, whatever the narrow code page.
        {Search(Ansi("a/b\xC3\xA9"), "", "", 2, 3), 1, "", "",
         "/api/v1/search?q=a%2Fb%C3%A9&sorting=relevance&page=1"},
        {Search("", "111", "111", 3, 3), 1, "", kValidKey,
         "/api/v1/search?categories=111&purity=111&sorting=views&page=1&apikey=testkey123"},
    };
    for (Case& c : cases) {
        standin::Reset();
        api.m_apikey = c.key;
        CItemArray items;
        std::string seed = c.seed;
        int lastPage = 0, total = 0;
        EXPECT_TRUE(api.QuerySearchPage(c.feed, c.page, items, seed, lastPage, total).Ok())
            << c.target << api.m_errtext;
        Json::Value req = OnlyRequest();
        EXPECT_EQ(req["method"].asString(), "GET");
        EXPECT_EQ(req["url"].asString(), c.target);
        EXPECT_EQ(standin::Header(req, "X-API-Key"), c.key) << c.target;
    }
}

TEST_F(Requests, CollectionUrls) {
    struct Case {
        std::string user, id, purity, key;
        int page;
        std::string target;
    } cases[] = {
        {"demo", "15", "", "", 1, "/api/v1/collections/demo/15?page=1"},
        {"demo", "42", "110", "", 2, "/api/v1/collections/demo/42?purity=110&page=2"},
        {"demo", "42", "111", kValidKey, 1,
         "/api/v1/collections/demo/42?purity=111&page=1&apikey=testkey123"},
        // A name that is not URL-safe is percent-encoded in the path.
        {Ansi("Zo\xC3\xAB"), "51", "", "", 1, "/api/v1/collections/Zo%C3%AB/51?page=1"},
    };
    for (Case& c : cases) {
        standin::Reset();
        api.m_apikey = c.key;
        CItemArray items;
        int lastPage = 0, total = 0;
        EXPECT_TRUE(api.QueryCollectionPage(c.user.c_str(), c.id.c_str(), c.purity.c_str(), c.page, items,
                                            lastPage, total)
                        .Ok())
            << c.target << " " << api.m_errtext;
        Json::Value req = OnlyRequest();
        EXPECT_EQ(req["url"].asString(), c.target);
        EXPECT_EQ(standin::HasHeader(req, "X-API-Key"), !c.key.empty());
        EXPECT_GT(total, 0) << c.target;
    }
    // The list of a user's collections: without a key a lone "?" ends it.
    standin::Reset();
    api.m_apikey = "";
    CCollectionArray colls;
    ASSERT_EQ(api.GetUserCollections("demo", colls), 1) << api.m_errtext;
    Json::Value req = OnlyRequest();
    EXPECT_EQ(req["url"].asString(), "/api/v1/collections/demo?");
    EXPECT_FALSE(standin::HasHeader(req, "X-API-Key"));
    standin::Reset();
    api.m_apikey = kValidKey;
    ASSERT_EQ(api.GetUserCollections("demo", colls), 1) << api.m_errtext;
    req = OnlyRequest();
    EXPECT_EQ(req["url"].asString(), "/api/v1/collections/demo?apikey=testkey123");
    EXPECT_EQ(standin::Header(req, "X-API-Key"), kValidKey);
}

TEST_F(Requests, HeaderLinesVerbsAndBodies) {
    struct Case {
        const char* name;
        bool post, json, sendKey;
        std::string key;
        CParamList params;
        std::string target, contentType, body;  // body "" = none sent
    };
    CParamList two;
    two.Append("a", "1");
    two.Append("b", "x y");
    const CParamList none;
    const std::vector<Case> cases = {
        {"get", false, false, true, "", two, "/api/v1/search?a=1&b=x%20y", "", ""},
        {"get with key", false, false, true, kValidKey, two, "/api/v1/search?a=1&b=x%20y", "", ""},
        {"key but not asked", false, false, false, kValidKey, none, "/api/v1/search?", "", ""},
        {"get json", false, true, false, "", none, "/api/v1/search?", "application/json", ""},
        {"post form", true, false, false, "", two, "/api/v1/search", "application/x-www-form-urlencoded",
         "a=1&b=x%20y"},
        {"post json", true, true, true, kValidKey, two, "/api/v1/search", "application/json",
         "{\n\"a\":\"1\",\n\"b\":\"x y\"\n}\n"},
        {"post json empty", true, true, false, "", none, "/api/v1/search", "application/json", ""},
    };
    for (const Case& c : cases) {
        standin::Reset();
        api.m_apikey = c.key;
        std::string response;
        EXPECT_EQ(api.QueryServerApi(CLumoraApi::BaseUrl() + "/api/v1/search", c.params, response, c.post,
                                     c.json, c.sendKey)
                      .Code(),
                  0)
            << c.name << ": " << api.m_errtext;
        Json::Value req = OnlyRequest();
        EXPECT_EQ(req["method"].asString(), c.post ? "POST" : "GET") << c.name;
        EXPECT_EQ(req["url"].asString(), c.target) << c.name;
        EXPECT_EQ(standin::Header(req, "Accept"), "*/*") << c.name;
        EXPECT_EQ(standin::Header(req, "User-Agent"), "Mozilla/5.0 (compatible; MSIE 10.0)") << c.name;
        EXPECT_EQ(standin::Header(req, "Content-Type"), c.contentType) << c.name;
        bool keyLine = c.sendKey && !c.key.empty();
        EXPECT_EQ(standin::HasHeader(req, "X-API-Key"), keyLine) << c.name;
        if (keyLine) {
            EXPECT_EQ(standin::Header(req, "X-API-Key"), c.key) << c.name;
        }
        EXPECT_EQ(req.get("body", "").asString(), c.body) << c.name;
        EXPECT_EQ(standin::Header(req, "Content-Length"), c.post ? std::to_string(c.body.size()) : "")
            << c.name;
    }
}

TEST_F(Requests, ResultsErrorTextsAndCounters) {
    struct Case {
        const char* name;
        std::string faults;  // rules for the search path; "" = none
        std::string key;
        int result;
        std::string errtext;
        uint32_t calls, errors;
        std::string logLine;  // a line that must be logged ("" = none checked)
    } cases[] = {
        {"ok", "", "", 0, "", 1, 0, "QueryServerApi: RetCode: 0"},
        {"wrong key", "", "wrongkey", 401, "QueryServer: HTTP Error 401", 1, 1,
         "QueryServerApi: Response: {\"error\":\"Unauthorized\"}"},
        {"403", R"([{"match":"/api/","status":403}])", "", 403, "QueryServer: HTTP Error 403", 1, 1,
         "QueryServerApi: HTTP Error 403, url=URL"},
        {"404", R"([{"match":"/api/","status":404}])", "", 404, "QueryServer: HTTP Error 404", 1, 1,
         "QueryServerApi: RetCode: 404"},
        {"429", R"([{"match":"/api/","status":429}])", "", 429, "QueryServer: HTTP Error 429", 1, 1,
         "QueryServerApi: RetCode: 429"},
        {"500", R"([{"match":"/api/","status":500}])", "", 500, "QueryServer: HTTP Error 500", 1, 1,
         "QueryServerApi: Response: {\"error\":\"Internal Server Error\"}"},
        {"500 empty", R"([{"match":"/api/","status":500,"body":""}])", "", 500, "QueryServer: HTTP Error 500",
         1, 1, "QueryServerApi: Response: "},
        {"empty 200", R"([{"match":"/api/","kind":"empty"}])", "", -3,
         "Server returned an empty or unrecognized answer", 1, 0, "QueryServerApi: RetCode: -3"},
        {"invalid json is still a body", R"([{"match":"/api/","kind":"invalid_json"}])", "", 0, "", 1, 0,
         "QueryServerApi: RetCode: 0"},
    };
    for (const Case& c : cases) {
        standin::Reset();
        if (!c.faults.empty()) standin::Faults(c.faults);
        LogCapture::Clear();
        api.m_apikey = c.key;
        api.m_errtext = "stale";
        Counters before;
        std::string response = "stale";
        CParamList params;
        params.Append("page", "1");
        std::string url = CLumoraApi::BaseUrl() + "/api/v1/search";
        int r = api.QueryServerApi(url, params, response, false, false, !c.key.empty()).Code();
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_EQ(api.m_errtext, c.errtext) << c.name;
        EXPECT_EQ(before.Calls(), c.calls) << c.name;
        EXPECT_EQ(before.Errors(), c.errors) << c.name;
        std::string line = c.logLine;
        size_t at = line.find("URL");
        if (at != std::string::npos) line.replace(at, 3, url + "?page=1");
        EXPECT_TRUE(LogCapture::Has(line)) << c.name << ": " << line;
        EXPECT_TRUE(LogCapture::Has("QueryServerApi: RetCode: " + std::to_string(c.result))) << c.name;
        if (c.result == 0) {
            EXPECT_FALSE(response.empty()) << c.name;
        }
    }
}

TEST_F(Requests, UnreachableServerIsAPlatformErrorWithoutBody) {
    // A port nobody listens on: the stand-in's own port after it is closed is
    // not ours to close, so use port 1 on loopback, which nothing serves here.
    Counters before;
    std::string response;
    CParamList params;
    int r =
        api.QueryServerApi("http://127.0.0.1:1/api/v1/search", params, response, false, false, false).Code();
    EXPECT_EQ(r, -3);
    EXPECT_EQ(api.m_errtext, "QueryServer: Generic Error " + std::to_string(plat::kHttpErrCannotConnect));
    EXPECT_EQ(LogCapture::LinesStartingWith("QueryServerApi: Error " +
                                            std::to_string(plat::kHttpErrCannotConnect) + " (")
                  .size(),
              1u);
    EXPECT_TRUE(LogCapture::Has("QueryServerApi: RetCode: -3"));
    EXPECT_EQ(before.Calls(), 0u);
    EXPECT_EQ(before.Errors(), 0u);
}

TEST_F(Requests, HttpsSpeaksTlsOnly) {
    // The stand-in speaks plain HTTP: an https request to it must fail in the
    // TLS handshake instead of going out in the clear.
    std::string https = "https" + CLumoraApi::BaseUrl().substr(4);
    ASSERT_EQ(CLumoraApi::BaseUrl().compare(0, 7, "http://"), 0);
    Counters before;
    std::string response;
    CParamList params;
    params.Append("page", "1");
    EXPECT_EQ(api.QueryServerApi(https + "/api/v1/search", params, response, false, false, false).Code(), -3);
    EXPECT_EQ(api.m_errtext.compare(0, 27, "QueryServer: Generic Error "), 0) << api.m_errtext;
    EXPECT_EQ(before.Calls(), 0u);
    EXPECT_EQ(api.DownloadImage(https + "/bench/1mb.jpg", "service_https_probe.jpg").Code(), -2);
    EXPECT_FALSE(plat::PathExists("service_https_probe.jpg"));
    EXPECT_EQ(standin::Log().size(), 0u);
}

TEST_F(Requests, UrlsThatCannotBeUsed) {
    struct Case {
        std::string url, logLine;
    } cases[] = {
        {"no-scheme/api", "QueryServerApi:, AfxParseURL failed, no-scheme/api?"},
        {"http://:80/x", "QueryServerApi:, AfxParseURL failed, http://:80/x?"},
        {"ftp://127.0.0.1/x", "QueryServerApi: Unsupported service type (1), ftp://127.0.0.1/x?"},
    };
    for (const Case& c : cases) {
        LogCapture::Clear();
        Counters before;
        std::string response = "stale";
        CParamList none;
        EXPECT_EQ(api.QueryServerApi(c.url, none, response, false, false, false).Code(), -1) << c.url;
        EXPECT_EQ(api.m_errtext, "QueryServer: Wrong URL format") << c.url;
        EXPECT_TRUE(LogCapture::Has(c.logLine)) << c.url;
        EXPECT_TRUE(LogCapture::LinesStartingWith("QueryServerApi: RetCode").empty()) << c.url;
        EXPECT_EQ(response, "");
        EXPECT_EQ(before.Calls(), 0u);
    }
    EXPECT_EQ(standin::Log().size(), 0u);
}

TEST_F(Requests, BodyCutShortIsAPlatformErrorAfterText) {
    standin::Faults(R"([{"match":"/api/","kind":"drop","bytes":100}])");
    Counters before;
    std::string response;
    CParamList params;
    int r =
        api.QueryServerApi(CLumoraApi::BaseUrl() + "/api/v1/search", params, response, false, false, false)
            .Code();
    EXPECT_EQ(r, -2);
    EXPECT_EQ(api.m_errtext.compare(0, 27, "QueryServer: Generic Error "), 0) << api.m_errtext;
    EXPECT_EQ(LogCapture::LinesStartingWith("QueryServerApi: Error ").size(), 1u);
    EXPECT_EQ(before.Calls(), 0u);
}

TEST_F(Requests, CarriageReturnsAreDroppedFromTheBody) {
    struct Case {
        std::string sent, received;
    } cases[] = {
        {"{\"a\":1}\r\n{\"b\":2}\r\n", "{\"a\":1}\n{\"b\":2}\n"},
        {"one\rtwo\r\r\nthree", "onetwo\nthree"},
        {std::string(3000, 'x') + "\r\n" + std::string(1500, 'y'),
         std::string(3000, 'x') + "\n" + std::string(1500, 'y')},
    };
    for (const Case& c : cases) {
        Json::Value rule;
        rule["match"] = "/api/";
        rule["status"] = 200;
        rule["body"] = c.sent;
        Json::Value rules(Json::arrayValue);
        rules.append(rule);
        standin::Reset();
        standin::Faults(Json::FastWriter().write(rules));
        std::string response;
        CParamList none;
        ASSERT_EQ(
            api.QueryServerApi(CLumoraApi::BaseUrl() + "/api/v1/search", none, response, false, false, false)
                .Code(),
            0);
        EXPECT_EQ(response, c.received);
    }
}

TEST_F(Requests, TheKeyNeverReachesTheLog) {
    api.m_apikey = kValidKey;
    CItemArray items;
    std::string seed;
    int lastPage = 0, total = 0;
    ASSERT_TRUE(api.QuerySearchPage(Search("", "111", "111", 0, 3), 1, items, seed, lastPage, total).Ok());
    CCollectionArray colls;
    ASSERT_EQ(api.GetUserCollections("alice", colls), 1);
    // A wrong key comes back as a 401 whose body is logged.
    api.m_apikey = "wrong-secret-key";
    EXPECT_FALSE(api.QuerySearchPage(Search("", "111", "111", 0, 3), 1, items, seed, lastPage, total).Ok());
    Json::Value log = standin::Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[0]["url"].asString().find("apikey=testkey123"),
              std::string::npos);  // the request carries it
    for (const std::string& line : LogCapture::Lines()) {
        EXPECT_EQ(line.find("testkey123"), std::string::npos) << line;
        EXPECT_EQ(line.find("wrong-secret-key"), std::string::npos) << line;
    }
    EXPECT_TRUE(LogCapture::AnyContains("apikey=***"));
}

TEST_F(Requests, SearchPageOf24AndTheSeedKeepsTheOrder) {
    CLumoraFeed feed = Search("", "111", "100", 0, 3);
    CItemArray first;
    std::string seed;
    int lastPage = 0, total = 0;
    ASSERT_TRUE(api.QuerySearchPage(feed, 1, first, seed, lastPage, total).Ok()) << api.m_errtext;
    ASSERT_EQ(first.GetSize(), 24);
    EXPECT_GT(total, 48);
    EXPECT_EQ(lastPage, (total + 23) / 24);
    EXPECT_EQ(seed.size(), 6u);
    std::set<std::string> ids;
    for (const CLumoraItem& it : first) {
        ids.insert(it.Id);
        EXPECT_EQ(it.Id.size(), 6u);
        EXPECT_EQ(it.Purity, "sfw");
        // The service's path ends in the file name; its extension matches the type.
        ASSERT_GT(it.Url.size(), it.Name.size());
        EXPECT_EQ(it.Url.substr(it.Url.size() - it.Name.size()), it.Name);
        EXPECT_EQ(it.Url.compare(0, CLumoraApi::BaseUrl().size(), CLumoraApi::BaseUrl()), 0) << it.Url;
        std::string ext = it.Name.substr(it.Name.rfind('.'));
        EXPECT_EQ(ext == ".png" ? "image/png" : "image/jpeg", it.FileType) << it.Name;
    }
    EXPECT_EQ(ids.size(), 24u);

    // Page 1 again with the seed: the same order; page 2 with it: new ids.
    CItemArray again, second;
    std::string seed2 = seed;
    ASSERT_TRUE(api.QuerySearchPage(feed, 1, again, seed2, lastPage, total).Ok());
    ASSERT_EQ(again.GetSize(), 24);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(again[i].Id, first[i].Id);
    ASSERT_TRUE(api.QuerySearchPage(feed, 2, second, seed2, lastPage, total).Ok());
    for (const CLumoraItem& it : second) EXPECT_EQ(ids.count(it.Id), 0u) << it.Id;
    EXPECT_EQ(seed2, seed);

    // Another sorting: the service's null seed empties the stored one.
    std::string stored = "keepme";
    CItemArray dated;
    ASSERT_TRUE(api.QuerySearchPage(Search("", "111", "100", 1, 3), 1, dated, stored, lastPage, total).Ok());
    EXPECT_EQ(stored, "");
}

TEST_F(Requests, MalformedAnswersAreFailedQueries) {
    struct Case {
        const char* name;
        std::string rules;
        std::string errtextStart;
    } cases[] = {
        {"wrong types", R"([{"match":"/api/","kind":"wrong_types"}])", kUnreadable},
        {"object id", R"([{"match":"/api/","kind":"wrong_types","set":{"data.3.id":{"x":1}}}])", kUnreadable},
        {"number element", R"([{"match":"/api/","kind":"wrong_types","set":{"data.5":7}}])", kUnreadable},
        {"invalid json", R"([{"match":"/api/","kind":"invalid_json"}])", "JSON parse error"},
    };
    for (const Case& c : cases) {
        standin::Reset();
        standin::Faults(c.rules);
        LogCapture::Clear();
        // Outputs hold the caller's values; a failed query leaves them all.
        CItemArray items;
        CLumoraItem prev;
        prev.Id = "prev01";
        items.Add(prev);
        std::string seed = "Ab12cd";
        int lastPage = 5, total = 99;
        EXPECT_FALSE(
            api.QuerySearchPage(Search("", "111", "100", 0, 3), 1, items, seed, lastPage, total).Ok())
            << c.name;
        EXPECT_EQ(api.m_errtext, c.errtextStart) << c.name;
        if (c.errtextStart == kUnreadable) {
            EXPECT_TRUE(LogCapture::AnyContains("unexpected answer: ")) << c.name;
        }
        ASSERT_EQ(items.GetSize(), 1) << c.name;
        EXPECT_EQ(items[0].Id, "prev01");
        EXPECT_EQ(seed, "Ab12cd") << c.name;
        EXPECT_EQ(lastPage, 5) << c.name;
        EXPECT_EQ(total, 99) << c.name;

        int checked = -1;
        CLumoraFeed feed = Search("", "111", "100", 1, 3);
        EXPECT_EQ(api.CheckFeed(feed, checked), 0) << c.name;
        EXPECT_EQ(api.m_errtext.compare(0, c.errtextStart.size(), c.errtextStart), 0) << c.name;

        CLumoraFeed coll;
        coll.Type = 1;
        coll.Username = "demo";
        coll.CollId = "42";
        coll.Purity = "";
        EXPECT_EQ(api.CheckFeed(coll, checked), 0) << c.name;
        EXPECT_EQ(checked, 0) << c.name;
    }
}

TEST_F(Requests, CheckFeed) {
    struct Case {
        const char* name;
        CLumoraFeed feed;
        std::string rules;
        int result;
        bool positiveTotal;
        size_t requests;
    };
    CLumoraFeed coll;
    coll.Type = 1;
    coll.Username = "demo";
    coll.CollId = "27";
    coll.Purity = "100";
    CLumoraFeed other = Search("", "111", "100", 0, 3);
    other.Type = 2;
    std::vector<Case> cases = {
        {"search", Search("", "111", "100", 1, 3), "", 1, true, 1},
        {"collection", coll, "", 1, true, 1},
        {"no paging block", Search("", "111", "100", 1, 3),
         R"([{"match":"/api/","status":200,"body":"{\"data\":[{\"id\":\"abc123\"}]}"}])", 1, false, 1},
        {"type 2 sends nothing", other, "", 0, false, 0},
    };
    for (Case& c : cases) {
        standin::Reset();
        if (!c.rules.empty()) standin::Faults(c.rules);
        api.m_errtext = "untouched";
        int total = -1;
        EXPECT_EQ(api.CheckFeed(c.feed, total), c.result) << c.name;
        EXPECT_EQ(total > 0, c.positiveTotal) << c.name;
        if (!c.positiveTotal) {
            EXPECT_EQ(total, 0) << c.name;
        }
        EXPECT_EQ(standin::Log().size(), c.requests) << c.name;
        if (c.requests == 0) {
            EXPECT_EQ(api.m_errtext, "untouched");
        }
    }
    // The collection "Nature" of demo holds 3 wallpapers.
    int total = 0;
    ASSERT_EQ(api.CheckFeed(coll, total), 1);
    EXPECT_EQ(total, 3);
}

TEST_F(Requests, UserCollections) {
    struct Case {
        const char* name;
        std::string user, body;  // body "" = the stand-in's real answer
        int result;
        std::vector<std::string> records;  // "id|label|count"
        std::string logLine;               // "" = no "found" line
        std::string errtext;
    } cases[] = {
        {"two",
         "demo",
         R"({"data":[{"id":15,"label":"Default","count":10},{"id":27,"label":"Nature","count":3}]})",
         1,
         {"15|Default|10", "27|Nature|3"},
         "GetUserCollections: found 2 collections for demo",
         ""},
        {"real answer",
         "demo",
         "",
         1,
         {"15|Default|10", "27|Nature|3", "42|Everything|60"},
         "GetUserCollections: found 3 collections for demo",
         ""},
        {"empty list", "empty", "", 1, {}, "GetUserCollections: found 0 collections for empty", ""},
        {"defaults",
         "demo",
         R"({"data":[{"label":"NoId"},{"id":8},null]})",
         1,
         {"0|NoId|0", "8||0", "0||0"},
         "GetUserCollections: found 3 collections for demo",
         ""},
        {"no data", "demo", R"({"meta":{"total":0}})", 1, {}, "", ""},
        {"data not a list", "demo", R"({"data":{"id":1}})", 1, {}, "", ""},
        {"unknown user", "nobody-here", "", 0, {}, "", "QueryServer: HTTP Error 404"},
        {"invalid json", "demo", R"({"data":[{"id":1)", 0, {}, "", "JSON parse error"},
        {"text count",
         "demo",
         R"({"data":[{"id":1,"label":"A","count":2},{"id":2,"count":"many"}]})",
         0,
         {},
         "",
         kUnreadable},
        {"label object", "demo", R"({"data":[{"id":1,"label":{"en":"A"}}]})", 0, {}, "", kUnreadable},
        {"element number", "demo", R"({"data":[5]})", 0, {}, "", kUnreadable},
    };
    for (const Case& c : cases) {
        standin::Reset();
        if (!c.body.empty()) {
            Json::Value rule;
            rule["match"] = "/api/v1/collections/";
            rule["status"] = 200;
            rule["body"] = c.body;
            Json::Value rules(Json::arrayValue);
            rules.append(rule);
            standin::Faults(Json::FastWriter().write(rules));
        }
        LogCapture::Clear();
        api.m_errtext = "";
        CCollectionArray colls;
        EXPECT_EQ(api.GetUserCollections(c.user.c_str(), colls), c.result) << c.name;
        std::vector<std::string> got;
        for (const CLumoraCollection& col : colls)
            got.push_back(col.Id + "|" + col.Label + "|" + std::to_string(col.Count));
        EXPECT_EQ(got, c.records) << c.name;
        if (c.logLine.empty()) {
            EXPECT_TRUE(LogCapture::LinesStartingWith("GetUserCollections: found").empty()) << c.name;
        } else {
            EXPECT_TRUE(LogCapture::Has(c.logLine)) << c.name;
        }
        EXPECT_EQ(api.m_errtext.compare(0, c.errtext.size(), c.errtext), 0)
            << c.name << ": " << api.m_errtext;
        if (c.errtext.empty()) {
            EXPECT_EQ(api.m_errtext, "") << c.name;
        }
        // Invalid JSON is reported to the user without a log line of its own.
        if (c.errtext == "JSON parse error") {
            EXPECT_FALSE(LogCapture::AnyContains("JSON parse error")) << c.name;
        }
    }
}

TEST_F(Requests, CollectionLabelsInTheNarrowCodePage) {
    CCollectionArray colls;
    ASSERT_EQ(api.GetUserCollections(Ansi("Zo\xC3\xAB").c_str(), colls), 1) << api.m_errtext;
    ASSERT_EQ(colls.GetSize(), 1);
    EXPECT_EQ(colls[0].Id, "51");
#ifdef _WIN32
    EXPECT_EQ(colls[0].Label, "Fleurs d'\xE9t\xE9");
#else
    EXPECT_EQ(colls[0].Label, "Fleurs d'\xC3\xA9t\xC3\xA9");
#endif
}

// The service's address with another host name: the same server, another origin.
std::string OtherOrigin() {
    std::string url = standin::Url();
    size_t host = url.find("127.0.0.1");
    return url.replace(host, 9, "localhost");
}

// A fault rule that answers the matching requests (once, or every time)
// with a redirect.
std::string RedirectFault(const std::string& match, const std::string& location, int status = 302,
                          bool once = true) {
    return "[{\"match\":\"" + match + "\"," + (once ? "\"count\":1," : "") +
           "\"status\":" + std::to_string(status) + ",\"headers\":{\"Location\":\"" + location + "\"}}]";
}

TEST_F(Requests, RedirectsKeepTheKeyWithItsOriginOnBothBuilds) {
    // Neither HTTP stack follows redirects on its own: left alone, both took
    // the key header along to any other host.
    const std::string base = standin::Url(), other = OtherOrigin();
    struct Case {
        const char* name;
        std::string location;
        bool post;
        int result, requests;
        const char* secondUrl;  // of the followed request
        bool keyOnSecond;
        const char* secondMethod;
    } cases[] = {
        {"same origin", base + "/api/v1/search?page=2", false, 0, 2, "/api/v1/search?page=2", true, "GET"},
        {"relative", "/api/v1/search?page=3", false, 0, 2, "/api/v1/search?page=3", true, "GET"},
        {"other origin", other + "/api/v1/search?page=2", false, 0, 2, "/api/v1/search?page=2", false, "GET"},
        {"other origin, key in the address", other + "/api/v1/search?apikey=testkey123", false, 302, 1, "",
         false, ""},
        {"after a post", base + "/api/v1/search?page=4", true, 0, 2, "/api/v1/search?page=4", true, "GET"},
        {"not http", "ftp://127.0.0.1/x", false, 302, 1, "", false, ""},
    };
    api.m_apikey = kValidKey;
    for (const Case& c : cases) {
        standin::Reset();
        standin::Faults(RedirectFault("/api/v1/search?categories", c.location, c.post ? 303 : 302));
        CParamList params;
        params.Append("categories", "111");
        std::string response;
        const std::string url = base + "/api/v1/search" + (c.post ? "?categories=111" : "");
        EXPECT_EQ(api.QueryServerApi(url, params, response, c.post, false, true).Code(), c.result) << c.name;
        Json::Value log = standin::Log();
        ASSERT_EQ(log.size(), static_cast<unsigned>(c.requests)) << c.name;
        EXPECT_EQ(standin::Header(log[0], "X-API-Key"), kValidKey) << c.name;
        if (c.requests == 2) {
            EXPECT_EQ(log[1]["url"].asString(), c.secondUrl) << c.name;
            EXPECT_EQ(standin::HasHeader(log[1], "X-API-Key"), c.keyOnSecond) << c.name;
            EXPECT_EQ(log[1]["method"].asString(), c.secondMethod) << c.name;
            EXPECT_FALSE(log[1].isMember("body")) << c.name;
            EXPECT_TRUE(LogCapture::AnyContains("QueryServerApi: redirected (")) << c.name;
        } else {
            EXPECT_EQ(api.m_errtext, "QueryServer: HTTP Error " + std::to_string(c.result)) << c.name;
            EXPECT_TRUE(LogCapture::AnyContains("QueryServerApi: redirect refused (")) << c.name;
        }
        // The key never shows in the log, not even in a redirect's address.
        EXPECT_FALSE(LogCapture::AnyContains(kValidKey)) << c.name;
    }
}

TEST_F(Requests, RedirectsEndAfterFiveHops) {
    const std::string loop = standin::Url() + "/api/v1/search?loop=1";
    standin::Faults(RedirectFault("/api/v1/search", loop, 302, false));
    CParamList params;
    std::string response;
    EXPECT_EQ(
        api.QueryServerApi(standin::Url() + "/api/v1/search", params, response, false, false, false).Code(),
        302);
    EXPECT_EQ(standin::Log().size(), 6u);
    EXPECT_EQ(LogCapture::LinesStartingWith("QueryServerApi: redirected (302)").size(), 5u)
        << LogCapture::Dump();
}

TEST_F(Requests, LastResultAndRetryAfterTellTheCallerWhatHappened) {
    // The engine tells "the feed is wrong" from "the service is not well"
    // by these, and waits as long as a 429 or 503 asks.
    // The status tells "no answer at all" (0) from an answer that cannot
    // be read (an empty 200).
    using A = ServiceAnswer;
    struct Case {
        std::string rules;
        A::Kind kind;
        uint32_t retryAfterMs;
        int status;
    } cases[] = {
        {"", A::kDone, 0, 200},
        {R"([{"match":"/api/","count":1,"status":429,"headers":{"Retry-After":"7"}}])", A::kHttpStatus, 7000,
         429},
        {R"([{"match":"/api/","count":1,"status":503,"headers":{"Retry-After":"120"}}])", A::kHttpStatus,
         120000, 503},
        {R"([{"match":"/api/","count":1,"status":429,"headers":{"Retry-After":"Wed, 21 Oct 2026 07:28:00 GMT"}}])",
         A::kHttpStatus, 0, 429},  // the date form is not read
        {R"([{"match":"/api/","count":1,"status":503,"headers":{"Retry-After":"99999999"}}])", A::kHttpStatus,
         86400000, 503},
        {R"([{"match":"/api/","count":1,"status":404,"headers":{"Retry-After":"5"}}])", A::kHttpStatus, 0,
         404},  // only 429, 503
        {R"([{"match":"/api/","count":1,"kind":"empty"}])", A::kEmpty, 0, 200},
        // The answer came and broke off: the status stays, so the engine
        // does not take it for a service that did not answer at all.
        {R"([{"match":"/api/","count":1,"kind":"drop","bytes":100}])", A::kBroken, 0, 200},
        {R"([{"match":"/api/","count":1,"kind":"drop","bytes":0}])", A::kEmpty, 0, 200},
        {R"([{"match":"/api/","count":1,"status":503,"kind":"drop","bytes":10,"headers":{"Retry-After":"3"}}])",
         A::kBroken, 3000, 503},
    };
    for (const Case& c : cases) {
        standin::Reset();
        if (!c.rules.empty()) standin::Faults(c.rules);
        CParamList params;
        std::string response;
        const ServiceAnswer got =
            api.QueryServerApi(standin::Url() + "/api/v1/search", params, response, false, false, false);
        EXPECT_EQ(got.kind, c.kind) << c.rules;
        EXPECT_EQ(got.retryAfterMs, c.retryAfterMs) << c.rules;
        EXPECT_EQ(got.status, c.status) << c.rules;
    }
    // Nothing listens on port 1: no answer, no status.
    CParamList params;
    std::string response;
    const ServiceAnswer got =
        api.QueryServerApi("http://127.0.0.1:1/api/v1/search", params, response, false, false, false);
    EXPECT_EQ(got.kind, ServiceAnswer::kEmpty);
    EXPECT_EQ(got.Code(), -3);
    EXPECT_EQ(got.status, 0);
}

// An answer past the cap is ended there and nothing of it is kept: a broken
// or hostile service cannot fill the host's memory, and a cut answer is not
// read as a short page. Just below the cap is read whole.
TEST_F(Requests, AnswerBeyondTheCapIsEndedAndNothingOfItKept) {
    struct Case {
        size_t size;
        ServiceAnswer::Kind kind;
    } cases[] = {{kMaxAnswerBytes - 100, ServiceAnswer::kDone},
                 {kMaxAnswerBytes + 100, ServiceAnswer::kAnswerTooLarge}};
    for (const Case& c : cases) {
        Json::Value rule;
        rule["match"] = "/api/";
        rule["status"] = 200;
        rule["body"] = std::string(c.size, 'x');
        Json::Value rules(Json::arrayValue);
        rules.append(rule);
        standin::Reset();
        standin::Faults(Json::FastWriter().write(rules));
        LogCapture::Clear();
        Counters before;
        std::string response;
        CParamList none;
        const ServiceAnswer got =
            api.QueryServerApi(CLumoraApi::BaseUrl() + "/api/v1/search", none, response, false, false, false);
        const bool read = c.kind == ServiceAnswer::kDone;
        EXPECT_EQ(got.kind, c.kind) << c.size;
        EXPECT_EQ(response.size(), read ? c.size : 0u) << c.size;
        EXPECT_EQ(
            LogCapture::LinesStartingWith("QueryServerApi: answer larger than 4194304 bytes, ended").size(),
            read ? 0u : 1u);
        EXPECT_TRUE(LogCapture::Has(read ? "QueryServerApi: RetCode: 0" : "QueryServerApi: RetCode: -4"))
            << c.size;
        EXPECT_EQ(got.status, 200);
        EXPECT_EQ(before.Calls(), 1u);
    }
    // A page request answered so fails as one that cannot be read.
    Json::Value rule;
    rule["match"] = "/api/";
    rule["status"] = 200;
    rule["body"] = "{\"data\":[" + std::string(kMaxAnswerBytes, ' ') + "]}";
    Json::Value rules(Json::arrayValue);
    rules.append(rule);
    standin::Reset();
    standin::Faults(Json::FastWriter().write(rules));
    CItemArray items;
    std::string seed;
    int last = 0, total = 0;
    const ServiceAnswer page = api.QuerySearchPage(CLumoraFeed(), 1, items, seed, last, total);
    EXPECT_EQ(page.kind, ServiceAnswer::kAnswerTooLarge);
    EXPECT_EQ(page.Code(), -4);
    EXPECT_TRUE(items.IsEmpty());
}

}  // namespace
