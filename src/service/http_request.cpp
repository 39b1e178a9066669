// The lowest layer of the service client: one API request with its body as
// text, and one image transfer into a local file.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/fs.h"
#include "platform/http.h"
#include "common/host_callback.h"
#include "common/strings.h"
#include "service/api.h"
#include "service/client_util.h"
#include "service/url.h"

// Makes the transfer under way known to CancelTransfer. Declared after the
// transfer, so it is unregistered before the transfer goes away.
class ActiveTransfer {
  public:
    explicit ActiveTransfer(CLumoraApi& api) : m_api(api) {}
    ~ActiveTransfer() { Track(nullptr); }
    void Track(plat::HttpTransfer* t) {
        std::lock_guard<std::mutex> g(m_api.m_running.lock);
        m_api.m_running.transfer = t;
    }

  private:
    CLumoraApi& m_api;
};

void CLumoraApi::CancelTransfer() {
    std::lock_guard<std::mutex> g(m_running.lock);
    if (m_running.transfer) m_running.transfer->Cancel();
}

namespace {

const char kApiAgent[] = "Mozilla/4.0 (compatible; MSIE 8.0)";
const char kApiHeaders[] = "Accept: */*\r\nUser-Agent: Mozilla/5.0 (compatible; MSIE 10.0)\r\n";
const char kImageAgent[] = "Veduta FeedReader";
const char kImageHeaders[] = "Accept: text/*\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 8.0)\r\n";
const size_t kTextPiece = 1022;
const size_t kImageChunk = 4096;
const size_t kMaxErrorText = 1023;  // of a platform error's message

std::string ErrorMessage(const plat::HttpError& e) {
    std::string text = e.what();
    if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
    return text;
}

}  // namespace

bool IsRecognisablyNoMedia(const void* head, size_t n) {
    const unsigned char* p = static_cast<const unsigned char*>(head);
    size_t i = 0;
    if (n >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) i = 3;  // a UTF-8 mark before a page
    while (i < n && (p[i] == ' ' || p[i] == '\t' || p[i] == '\r' || p[i] == '\n')) ++i;
    if (i == n) return true;  // empty, or blanks only
    // "<": an HTML or XML page; "{" or "[": JSON. No image, video or audio
    // format the naming table maps begins with one of them.
    return p[i] == '<' || p[i] == '{' || p[i] == '[';
}

namespace {

const int kMaxRedirects = 5;

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

enum class Exchanged { kOpenFailed, kSendFailed, kAnswered };

// Opens and sends the request and follows its redirects; t then holds the
// final answer and status its status. No HTTP stack follows redirects on its
// own: this one rule holds on both builds. The key line (keyLine, may be
// empty) goes only to the origin of the first URL, nothing goes from https
// to http, and a redirect that is refused leaves its 3xx answer as the
// answer. HttpError passes through.
Exchanged Exchange(CLumoraApi& api, const char* who, plat::HttpRequest req, const std::string& url,
                   const std::string& keyLine, std::unique_ptr<plat::HttpTransfer>& t,
                   ActiveTransfer& running, int& status) {
    const std::string baseHeaders = req.headers;
    std::string current = url;
    bool withKey = true;
    for (int hop = 0;; ++hop) {
        req.headers = baseHeaders + (withKey ? keyLine : std::string());
        std::unique_ptr<plat::HttpTransfer> next = plat::NewHttpTransfer();
        running.Track(next.get());
        t = std::move(next);
        // A stop that came before this transfer was known to CancelTransfer
        // shows in the flag: don't start one that would only be cancelled.
        if (IsStopSet(api.m_stop)) t->Cancel();  // sticks: Open then fails
        if (!t->Open(req)) return Exchanged::kOpenFailed;
        if (!t->Send()) return Exchanged::kSendFailed;
        status = t->Status();
        if (!IsRedirect(status)) return Exchanged::kAnswered;
        const std::string location = t->Location();
        if (location.empty()) return Exchanged::kAnswered;
        const std::string target = ResolveLocation(current, location);
        RedirectRule rule =
            hop >= kMaxRedirects ? RedirectRule::kRefuse : CheckRedirect(current, target, url, api.m_apikey);
        CUrlParts parts;
        if (rule == RedirectRule::kRefuse || !SplitUrl(target, parts)) {
            LogMessage("%s: redirect refused (%d), %s -> %s", who, status,
                       ForLog(current, api.m_apikey).c_str(), ForLog(target, api.m_apikey).c_str());
            return Exchanged::kAnswered;
        }
        LogMessage("%s: redirected (%d) to %s", who, status, ForLog(target, api.m_apikey).c_str());
        withKey = withKey && rule == RedirectRule::kFollow;
        req.secure = parts.service == kServiceHttps;
        req.server = parts.server;
        req.port = parts.port;
        req.object = parts.object;
        if (status == 303 || ((status == 301 || status == 302) && req.verb == "POST")) {
            req.verb = "GET";  // as browsers do: the body stays behind
            req.body.clear();
        }
        current = target;
    }
}

}  // namespace

namespace {
// The wait a 429 or 503 answer asks for: Retry-After in seconds (a date
// form is not read), in ms, at most a day.
uint32_t RetryAfterMs(plat::HttpTransfer& t, int status) {
    if (status != 429 && status != 503) return 0;
    const std::string text = t.Header("Retry-After");
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    unsigned long seconds = std::strtoul(text.c_str(), nullptr, 10);
    return static_cast<uint32_t>(std::min(seconds, 86400UL) * 1000UL);
}
}  // namespace

int ServiceAnswer::Code() const {
    switch (kind) {
        case kDone:
        case kUnreadable:
            return 0;
        case kHttpStatus:
            return status;
        case kNotSent:
            return -1;
        case kBroken:
            return -2;
        case kStopped:
        case kEmpty:
            return -3;
        case kNotImage:
        case kAnswerTooLarge:
            return -4;
        case kCutBody:
            return -5;
        case kUnusableUrl:
            return -6;
        case kTooLarge:
            return -7;
    }
    return 0;
}

namespace {

// The request URL (for GET with the parameters as its query string) and the
// body (for POST: a JSON object or a form).
void ComposeRequest(const std::string& url, const CParamList& params, bool post, bool json,
                    std::string& requestUrl, std::string& body) {
    if (!post) {
        BuildQueryString(requestUrl, url.c_str(), params);
        return;
    }
    requestUrl = url;
    if (json)
        BuildJsonBody(body, params);
    else
        BuildQueryString(body, nullptr, params);
}

// Splits the URL into its parts; only http and https are spoken.
bool SplitApiUrl(const std::string& requestUrl, const std::string& logUrl, CUrlParts& parts,
                 std::string& errtext) {
    if (!SplitUrl(requestUrl, parts)) {
        LogMessage("QueryServerApi:, AfxParseURL failed, %s", logUrl.c_str());
        errtext = LoadStr(IDS_QS_WRONG_URL);
        return false;
    }
    if (parts.service != kServiceHttp && parts.service != kServiceHttps) {
        LogMessage("QueryServerApi: Unsupported service type (%d), %s", parts.service, logUrl.c_str());
        errtext = LoadStr(IDS_QS_WRONG_URL);
        return false;
    }
    return true;
}

// The request with the API's agent, verb, header lines and body.
plat::HttpRequest ApiRequest(const CUrlParts& parts, bool post, bool json, const std::string& body,
                             uint32_t timeoutMs) {
    plat::HttpRequest req;
    req.agent = kApiAgent;
    req.secure = parts.service == kServiceHttps;
    req.server = parts.server;
    req.port = parts.port;
    req.object = parts.object;
    req.verb = post ? "POST" : "GET";
    req.headers = kApiHeaders;
    if (json)
        req.headers += "Content-Type: application/json\r\n";
    else if (post)
        req.headers += "Content-Type: application/x-www-form-urlencoded\r\n";
    req.body = body;
    req.timeoutMs = timeoutMs;
    return req;
}

// The body arrives as text without its carriage returns. False when it
// passed kMaxAnswerBytes: reading ends there.
bool ReadTextBody(plat::HttpTransfer& t, std::string& response) {
    char piece[kTextPiece];
    size_t n, total = 0;
    while ((n = t.Read(piece, sizeof piece)) > 0) {
        total += n;
        if (total > kMaxAnswerBytes) return false;
        for (size_t i = 0; i < n; ++i)
            if (piece[i] != '\r') response += piece[i];
    }
    return true;
}

}  // namespace

ServiceAnswer CLumoraApi::QueryServerApi(const std::string& url, const CParamList& params,
                                         std::string& response, bool post, bool json, bool sendKey) {
    response.clear();
    m_errtext.clear();
    std::string requestUrl, body;
    ComposeRequest(url, params, post, json, requestUrl, body);
    const std::string logUrl = ForLog(requestUrl, m_apikey);
    CUrlParts parts;
    if (!SplitApiUrl(requestUrl, logUrl, parts, m_errtext)) return ServiceAnswer(ServiceAnswer::kNotSent);
    const plat::HttpRequest req = ApiRequest(parts, post, json, body, m_timeoutMs);
    const std::string keyLine = sendKey && !m_apikey.empty() ? "X-API-Key: " + m_apikey + "\r\n" : "";
    return SettleQueryAnswer(ExchangeQuery(req, requestUrl, logUrl, keyLine, response), response);
}

// Sends the request and reads the answer: the status (not 200 is kept as the
// answer, and the body is read all the same) and the body text. A platform
// error keeps the status that came before it: the server did answer then.
ServiceAnswer CLumoraApi::ExchangeQuery(const plat::HttpRequest& req, const std::string& requestUrl,
                                        const std::string& logUrl, const std::string& keyLine,
                                        std::string& response) {
    ServiceAnswer answer;
    try {
        std::unique_ptr<plat::HttpTransfer> t;
        ActiveTransfer running(*this);
        int status = 0;
        Exchanged step = Exchange(*this, "QueryServerApi", req, requestUrl, keyLine, t, running, status);
        if (step == Exchanged::kOpenFailed) {
            m_errtext = LoadStr(IDS_QS_OPEN_FAILED);
            LogMessage("QueryServerApi: OpenRequest failed, %s", logUrl.c_str());
            return ServiceAnswer(ServiceAnswer::kNotSent);
        }
        if (step == Exchanged::kSendFailed) {
            m_errtext = LoadStr(IDS_QS_SEND_FAILED);
            LogMessage("QueryServerApi: SendRequest failed, %s", logUrl.c_str());
            return ServiceAnswer(ServiceAnswer::kNotSent);
        }
        answer.retryAfterMs = RetryAfterMs(*t, status);
        answer.status = status;
        if (status != 200) {
            LogMessage("QueryServerApi: HTTP Error %d, url=%s", status, logUrl.c_str());
            m_errtext = FormatStr(IDS_QS_HTTP_ERROR, status);
            ++g_apiErrors;
            answer.kind = ServiceAnswer::kHttpStatus;
        }
        if (!ReadTextBody(*t, response)) {
            // Nothing of it is kept: a cut answer would be read as a short page.
            LogMessage("QueryServerApi: answer larger than %u bytes, ended, url=%s",
                       static_cast<unsigned>(kMaxAnswerBytes), logUrl.c_str());
            response.clear();
            m_errtext = LoadStr(IDS_QS_EMPTY_ANSWER);
            answer.kind = ServiceAnswer::kAnswerTooLarge;
        }
        ++g_apiCalls;
    } catch (const plat::HttpError& e) {
        LogMessage("QueryServerApi: Error %d (%s)", e.Code(), ErrorMessage(e).c_str());
        m_errtext = FormatStr(IDS_QS_GENERIC_ERROR, e.Code());
        answer.kind = ServiceAnswer::kBroken;
    } catch (...) {
        LogMessage("QueryServerApi: Unknown exception");
        m_errtext = LoadStr(IDS_QS_UNKNOWN_EXC);
        answer.kind = ServiceAnswer::kBroken;
    }
    return answer;
}

// A status keeps the body in the log; an answer without body text (after a
// platform error too) is kEmpty.
ServiceAnswer CLumoraApi::SettleQueryAnswer(ServiceAnswer answer, const std::string& response) {
    if (answer.kind == ServiceAnswer::kNotSent) return answer;  // nothing was exchanged: no RetCode line
    if (answer.kind == ServiceAnswer::kAnswerTooLarge) {
        // The status (200 or not) is in the log already; the answer is not.
    } else if (answer.kind == ServiceAnswer::kHttpStatus) {
        LogMessage("QueryServerApi: Response: %s", ForLog(response, m_apikey).c_str());
    } else if (response.empty()) {
        if (m_errtext.empty()) m_errtext = LoadStr(IDS_QS_EMPTY_ANSWER);
        answer.kind = ServiceAnswer::kEmpty;
    }
    LogMessage("QueryServerApi: RetCode: %d", answer.Code());
    return answer;
}

ServiceAnswer CLumoraApi::DownloadImage(const std::string& url, const std::string& file) {
    using A = ServiceAnswer;
    const std::string logUrl = ForLog(url, m_apikey);
    LogMessage("DownloadImage(), %s -> %s", logUrl.c_str(), file.c_str());

    CUrlParts parts;
    if (!SplitUrl(url, parts)) {
        LogMessage("DownloadImage(), AfxParseURL failed, %s", logUrl.c_str());
        return A(A::kUnusableUrl);
    }
    if (parts.service != kServiceHttp && parts.service != kServiceHttps) {
        LogMessage("DownloadImage(), Unsupported service type (%d), %s", parts.service, logUrl.c_str());
        return A(A::kUnusableUrl);
    }

    FILE* out = plat::OpenFile(file, "wb");
    if (!out) {
        LogMessage("DownloadImage(), cannot create the local file %s", file.c_str());
        return A(A::kNotSent);
    }
    // Chunks are 4096 bytes; the disk is written in larger blocks.
    std::setvbuf(out, nullptr, _IOFBF, 64 * 1024);
    // Every path but a complete image ends here: no partial or foreign file
    // may stay behind for the host to show.
    auto discard = [&]() {
        if (out) std::fclose(out);
        out = nullptr;
        plat::DeleteFileAt(file);
    };

    plat::HttpRequest req;
    req.agent = kImageAgent;
    req.secure = parts.service == kServiceHttps;
    req.server = parts.server;
    req.port = parts.port;
    req.object = parts.object;
    req.verb = "GET";
    req.headers = kImageHeaders;
    req.headersIfNew = true;

    A answer;               // the status and Retry-After once they came
    bool answered = false;  // status 200 came: a failure from here on is the body's
    uint64_t total = 0;
    try {
        std::unique_ptr<plat::HttpTransfer> t;
        ActiveTransfer running(*this);
        int status = 0;
        Exchanged step = Exchange(*this, "DownloadImage()", req, url, std::string(), t, running, status);
        if (step == Exchanged::kOpenFailed) {
            LogMessage("DownloadImage(), OpenRequest failed, %s", logUrl.c_str());
            discard();
            if (!IsStopSet(m_stop)) ++g_downloadErrors;
            return A(A::kNotSent);
        }
        if (step == Exchanged::kSendFailed) {
            LogMessage("DownloadImage(), SendRequest failed, %s", logUrl.c_str());
            discard();
            ++g_downloadErrors;
            return A(A::kNotSent);
        }
        answer.retryAfterMs = RetryAfterMs(*t, status);
        answer.status = status;
        if (status != 200) {
            LogMessage("DownloadImage(), HTTP Error %d, url=%s", status, logUrl.c_str());
            discard();
            ++g_downloadErrors;
            answer.kind = A::kHttpStatus;
            return answer;
        }
        answered = true;

        // A length announced beyond the cap ends the transfer before a byte.
        const std::string announced = t->Header("Content-Length");
        const bool tooLargeAnnounced = !announced.empty() && announced.size() <= 19 &&
                                       announced.find_first_not_of("0123456789") == std::string::npos &&
                                       std::strtoull(announced.c_str(), nullptr, 10) > m_maxImageBytes;

        unsigned char chunk[kImageChunk];
        unsigned char head[kSniffBytes];
        size_t headLen = 0;
        bool stopped = false, writeFailed = false, foreign = false, tooLarge = tooLargeAnnounced;
        while (!tooLarge) {
            size_t n = t->Read(chunk, sizeof chunk);
            if (n == 0) break;
            if (IsStopSet(m_stop)) {
                stopped = true;
                break;
            }
            if (headLen < kSniffBytes) {
                size_t take = std::min(kSniffBytes - headLen, n);
                std::memcpy(head + headLen, chunk, take);
                headLen += take;
                // Give up on a page as soon as it shows.
                if (headLen == kSniffBytes && IsRecognisablyNoMedia(head, headLen)) {
                    foreign = true;
                    break;
                }
            }
            // The cap holds whatever the server announced (or did not).
            if (n > m_maxImageBytes - std::min(total, m_maxImageBytes)) {
                tooLarge = true;
                break;
            }
            if (!plat::WriteAll(out, chunk, n)) {
                writeFailed = true;
                break;
            }
            total += n;
        }
        if (!stopped && !writeFailed && !foreign && !tooLarge && IsRecognisablyNoMedia(head, headLen))
            foreign = true;
        if (!writeFailed && !stopped && !foreign && !tooLarge) {
            writeFailed = !plat::CloseFile(out);  // a full disk may show only here
            out = nullptr;
        }

        if (stopped) {
            LogMessage("DownloadImage(), stopped after %llu bytes, %s",
                       static_cast<unsigned long long>(total), file.c_str());
            discard();
            answer.kind = A::kStopped;
            // A stop before the first byte downloaded nothing.
            if (total > 0) ++g_downloads;
        } else if (tooLarge) {
            LogMessage("DownloadImage(), larger than %llu bytes, ended, url=%s",
                       static_cast<unsigned long long>(m_maxImageBytes), logUrl.c_str());
            discard();
            answer.kind = A::kTooLarge;
            ++g_downloadErrors;
        } else if (writeFailed) {
            LogMessage("DownloadImage(), write failed after %llu bytes, %s",
                       static_cast<unsigned long long>(total), file.c_str());
            discard();
            answer.kind = A::kNotSent;
            ++g_downloadErrors;
        } else if (foreign) {
            LogMessage("DownloadImage(), not an image (%s), url=%s",
                       headLen == 0 ? "empty body" : "a page or JSON text", logUrl.c_str());
            discard();
            answer.kind = A::kNotImage;
            ++g_downloadErrors;
        } else {
            LogMessage("DownloadImage(), completed size=%d", static_cast<int>(total));
            ++g_downloads;
        }
        return answer;
    } catch (const plat::HttpError& e) {
        if (IsStopSet(m_stop)) {
            // Cancelled by the stop: an interrupted transfer, not a failure of
            // the server; before the first byte, no download at all.
            LogMessage("DownloadImage(), stopped, %s", file.c_str());
            discard();
            if (total > 0) ++g_downloads;
            answer.kind = A::kStopped;
            return answer;
        }
        LogMessage("DownloadImage(), Error %d (%s)", e.Code(), ErrorMessage(e).c_str());
        discard();
        ++g_downloadErrors;
        // After status 200 the server did answer for this image: its body
        // broke off. Before it, nothing answered at all.
        answer.kind = answered ? A::kCutBody : A::kBroken;
        return answer;
    } catch (...) {
        discard();
        LogMessage("DownloadImage(), Unknown exception");
        ++g_downloadErrors;
        answer.kind = answered ? A::kCutBody : A::kBroken;
        return answer;
    }
}
