// Page requests of a feed, the feed editor's test query, and the service's
// words for the feed's choices.
#include <exception>

#include "platform/env.h"
#include "common/host_callback.h"
#include "service/api.h"
#include "service/client_util.h"
#include "service/url.h"

namespace {

const char kDefaultBaseUrl[] = "https://api.lumora.example";

const char* const kSortings[] = {"random", "date_added", "relevance", "views", "favorites", "toplist"};
const char* const kTopRanges[] = {"1d", "3d", "1w", "1M", "3M", "6M", "1y"};

std::string Decimal(int n) {
    return std::to_string(n);
}

}  // namespace

std::string CLumoraApi::BaseUrl() {
    std::string url = plat::GetEnvVar("LUMORA_SERVICE_URL");
    if (url.empty()) return kDefaultBaseUrl;
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

std::string CLumoraApi::BaseHostName() {
    CUrlParts parts;
    if (SplitUrl(BaseUrl(), parts)) return parts.server;
    CUrlParts def;
    SplitUrl(kDefaultBaseUrl, def);
    return def.server;
}

const char* GetSortingName(int sorting) {
    if (sorting < 0 || sorting >= static_cast<int>(sizeof kSortings / sizeof kSortings[0])) return "random";
    return kSortings[sorting];
}

const char* GetTopRangeName(int topRange) {
    if (topRange < 0 || topRange >= static_cast<int>(sizeof kTopRanges / sizeof kTopRanges[0])) return "1M";
    return kTopRanges[topRange];
}

namespace {

// The answer of a page whose request succeeded: kDone, or kUnreadable when
// its text is no page of wallpapers.
ServiceAnswer ParsePageSafely(CLumoraApi& api, const char* caller, const ServiceAnswer& got,
                              const std::string& response, CItemArray& items, std::string& seed,
                              int& lastPage, int& total) {
    ServiceAnswer unreadable = got;
    unreadable.kind = ServiceAnswer::kUnreadable;
    // A malformed answer is a failed query like any other: the caller's
    // outputs stay as they were and m_errtext says why.
    const int oldSize = items.GetSize();
    const std::string oldSeed = seed;
    const int oldLast = lastPage, oldTotal = total;
    try {
        return api.ParseWallpaperArray(response, items, seed, lastPage, total) ? got : unreadable;
    } catch (const std::exception& e) {
        items.SetSize(oldSize);
        seed = oldSeed;
        lastPage = oldLast;
        total = oldTotal;
        api.m_errtext = LoadStr(IDS_QS_UNREADABLE_ANSWER);  // the detail goes to the log
        LogMessage("%s: unexpected answer: %s", caller, e.what());
        return unreadable;
    }
}

}  // namespace

ServiceAnswer CLumoraApi::QuerySearchPage(const CLumoraFeed& feed, int page, CItemArray& items,
                                          std::string& seed, int& lastPage, int& total) {
    CParamList params;
    if (!feed.Query.empty()) params.Append("q", feed.Query);
    if (!feed.Categories.empty()) params.Append("categories", feed.Categories);
    if (!feed.Purity.empty()) params.Append("purity", feed.Purity);
    params.Append("sorting", GetSortingName(feed.Sorting));
    if (feed.Sorting == 0 && !seed.empty()) params.Append("seed", seed);
    if (feed.Sorting == 5) params.Append("topRange", GetTopRangeName(feed.TopRange));
    if (!feed.Atleast.empty()) params.Append("atleast", feed.Atleast);
    if (!feed.Ratios.empty()) params.Append("ratios", feed.Ratios);
    params.Append("page", Decimal(page));
    if (!m_apikey.empty()) params.Append("apikey", m_apikey);

    std::string response;
    const ServiceAnswer got =
        QueryServerApi(BaseUrl() + "/api/v1/search", params, response, false, false, !m_apikey.empty());
    if (!got.Ok()) return got;
    return ParsePageSafely(*this, "QuerySearchPage", got, response, items, seed, lastPage, total);
}

ServiceAnswer CLumoraApi::QueryCollectionPage(const char* user, const char* collId, const char* purity,
                                              int page, CItemArray& items, int& lastPage, int& total) {
    // Names are percent-encoded: a space or "?" in one would otherwise break
    // the request line or end the path.
    std::string url = BaseUrl() + "/api/v1/collections/" + PathSegment(user ? user : "") + "/" +
                      PathSegment(collId ? collId : "");
    CParamList params;
    if (purity && *purity) params.Append("purity", purity);
    params.Append("page", Decimal(page));
    if (!m_apikey.empty()) params.Append("apikey", m_apikey);

    std::string response;
    const ServiceAnswer got = QueryServerApi(url, params, response, false, false, !m_apikey.empty());
    if (!got.Ok()) return got;
    std::string seed;  // a collection's order never changes: its seed is dropped
    return ParsePageSafely(*this, "QueryCollectionPage", got, response, items, seed, lastPage, total);
}

int CLumoraApi::CheckFeed(const CLumoraFeed& feed, int& total) {
    total = 0;
    int lastPage = 0;
    CItemArray items;
    std::string seed;
    if (feed.Type == 0) return QuerySearchPage(feed, 1, items, seed, lastPage, total).Ok() ? 1 : 0;
    if (feed.Type == 1)
        return QueryCollectionPage(feed.Username.c_str(), feed.CollId.c_str(), feed.Purity.c_str(), 1, items,
                                   lastPage, total)
                       .Ok()
                   ? 1
                   : 0;
    return 0;
}
