// The service client: request parameters and their encodings, HTTP requests
// and image transfers, page requests, and the parsers of the service's answers.
#pragma once

#include <atomic>
#include <mutex>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/records.h"

class CParam {
  public:
    std::string m_name;   // sent as it is
    std::string m_value;  // encoded only in a query string
    CParam() = default;
    CParam(const std::string& name, const std::string& value) : m_name(name), m_value(value) {}
};

// Parameters in append order: requests append and never sort or de-duplicate.
class CParamList : public CArrayEx<CParam> {
  public:
    void Append(const std::string& name, const std::string& value) { Add(CParam(name, value)); }
};

// Statistics, zeroed when the worker starts and logged when it stops. Both the
// worker and the dialogs' requests count, so they are atomic.
extern std::atomic<uint32_t> g_apiCalls;
extern std::atomic<uint32_t> g_apiErrors;
extern std::atomic<uint32_t> g_downloads;
extern std::atomic<uint32_t> g_downloadErrors;

void BuildQueryString(std::string& out, const char* base, const CParamList& params);
void BuildJsonBody(std::string& out, const CParamList& params);
std::string UrlEncode(const std::string& text);

const char* GetSortingName(int sorting);
const char* GetTopRangeName(int topRange);

// Whether the first bytes of a body (up to kSniffBytes) are recognisably no
// wallpaper at all: an empty body, or a page (HTML, XML) or JSON text, as a
// proxy, a portal or a broken server sends with status 200. Anything else is
// taken for what the service announced: the naming table maps image, video
// and audio types, and newer image formats must not be refused for being new.
bool IsRecognisablyNoMedia(const void* head, size_t size);
const size_t kSniffBytes = 64;

// What a page request or an image transfer came to, returned by the call
// that made it, so that the engine decides on one value and not on fields a
// later request may overwrite.
struct ServiceAnswer {
    enum Kind {
        kDone,            // a page read, or a complete image
        kHttpStatus,      // the server answered with a status other than 200 (in status)
        kNotSent,         // an unusable API URL, no local file, a request not opened or sent, a failed write
        kBroken,          // the platform's error during the exchange: no connection, time-out
        kStopped,         // a transfer ended by the stop flag
        kNotImage,        // status 200 but the body is empty or a page: the file is deleted
        kCutBody,         // status 200 but the image broke off before its end
        kUnusableUrl,     // the address cannot be split, or is not http or https
        kTooLarge,        // the image passed the client's cap (m_maxImageBytes)
        kEmpty,           // an API answer without body text
        kAnswerTooLarge,  // an API answer past kMaxAnswerBytes: nothing kept
        kUnreadable,      // an API answer that is no page of wallpapers
    };
    Kind kind = kDone;
    // The HTTP status that came (0: none, the exchange failed before an
    // answer): tells "no answer" from "an answer that cannot be used".
    int status = 0;
    // A 429 or 503 answer's Retry-After in ms (0: none given, or not read).
    uint32_t retryAfterMs = 0;

    ServiceAnswer() = default;
    explicit ServiceAnswer(Kind k, int httpStatus = 0, uint32_t retryAfter = 0)
        : kind(k), status(httpStatus), retryAfterMs(retryAfter) {}

    bool Ok() const { return kind == kDone; }
    // The number the log lines print for it: 0, the HTTP status, or a
    // negative number per kind (an unreadable page was a request that
    // succeeded: 0). The numbers are read in logs: they never change.
    int Code() const;
};

// The largest API answer read (a page of 24 wallpapers is a few KB): a broken
// or hostile service must not fill the host's memory.
const size_t kMaxAnswerBytes = 4u << 20;

// Copy of text with the value of every "apikey=" parameter replaced by "***",
// for log lines: the key must never reach the host's log.
std::string RedactApiKey(const std::string& text);

namespace plat {
class HttpTransfer;
struct HttpRequest;
}  // namespace plat

class CLumoraApi {
  public:
    std::string m_errtext;  // last error of this client, for the user
    std::string m_apikey;   // empty = none
    // The stop flag an image transfer polls after every read (may be null).
    const std::atomic<int32_t>* m_stop = nullptr;
    // Send and receive time-out of this client's API requests (0: the
    // platform's default). The dialogs' requests set one: the user waits.
    uint32_t m_timeoutMs = 0;
    // The most bytes an image transfer writes before it ends as too large;
    // the engine lowers it to the free space above its floor.
    uint64_t m_maxImageBytes = 200ull * 1024 * 1024;

    virtual ~CLumoraApi() = default;

    // Ends the request or image transfer this client is running on another
    // thread, at once: a stop must not wait for a slow or stalled server.
    // Safe from any thread; does nothing when no transfer runs.
    void CancelTransfer();

    // The service base URL: LUMORA_SERVICE_URL when set, else the built-in one.
    static std::string BaseUrl();
    // Host name of the base URL, for the dialog's greeting.
    static std::string BaseHostName();

    ServiceAnswer QueryServerApi(const std::string& url, const CParamList& params, std::string& response,
                                 bool post, bool json, bool sendKey);

    // Virtual so engine tests can answer pages and transfers without a network.
    // A page's wallpapers are added to items only when the answer is kDone.
    virtual ServiceAnswer QuerySearchPage(const CLumoraFeed& feed, int page, CItemArray& items,
                                          std::string& seed, int& lastPage, int& total);
    virtual ServiceAnswer QueryCollectionPage(const char* user, const char* collId, const char* purity,
                                              int page, CItemArray& items, int& lastPage, int& total);
    virtual ServiceAnswer DownloadImage(const std::string& url, const std::string& file);

    int CheckFeed(const CLumoraFeed& feed, int& total);
    int ParseWallpaperArray(const std::string& response, CItemArray& items, std::string& seed, int& lastPage,
                            int& total);
    int GetUserCollections(const char* user, CCollectionArray& collections);
    // The answer to the list of a user's collections (user: for the log line).
    // 1, or 0 with m_errtext set; never throws, and a failure adds nothing.
    int ParseUserCollections(const std::string& response, const std::string& user,
                             CCollectionArray& collections);

  private:
    // The steps of QueryServerApi that use the client's state.
    ServiceAnswer ExchangeQuery(const plat::HttpRequest& req, const std::string& requestUrl,
                                const std::string& logUrl, const std::string& keyLine, std::string& response);
    ServiceAnswer SettleQueryAnswer(ServiceAnswer answer, const std::string& response);
    friend class ActiveTransfer;
    // The transfer under way, for CancelTransfer. Copying a client copies no
    // transfer and no lock.
    struct Running {
        std::mutex lock;
        plat::HttpTransfer* transfer = nullptr;
        Running() = default;
        Running(const Running&) {}
        Running& operator=(const Running&) { return *this; }
    };
    Running m_running;
};
