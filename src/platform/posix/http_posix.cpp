// HTTP exchanges on libcurl. The multi interface turns curl's push of body
// data into the pull the service client expects: the write callback parks
// data in a small buffer and pauses the transfer when the reader falls
// behind, so an image is streamed and never held whole.
#include <curl/curl.h>

#include <strings.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/http.h"

namespace plat {

const int kHttpErrCannotConnect = CURLE_COULDNT_CONNECT;

namespace {

// Data parked between the network and the reader before the transfer pauses.
const size_t kMaxParked = 256 * 1024;
// curl's own receive buffer; the same size the curl tool uses.
const long kReceiveBuffer = 100 * 1024;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class CurlTransfer : public HttpTransfer {
  public:
    CurlTransfer() { m_error[0] = '\0'; }
    ~CurlTransfer() override {
        if (m_multi && m_easy) curl_multi_remove_handle(m_multi, m_easy);
        if (m_easy) curl_easy_cleanup(m_easy);
        std::lock_guard<std::mutex> g(m_multiLock);
        if (m_multi) curl_multi_cleanup(m_multi);
        m_multi = nullptr;
        if (m_headers) curl_slist_free_all(m_headers);
    }

    bool Open(const HttpRequest& r) override {
        GlobalInit();
        m_easy = curl_easy_init();
        {
            std::lock_guard<std::mutex> g(m_multiLock);
            m_multi = curl_multi_init();
        }
        if (!m_easy || !m_multi) return false;

        std::string host = r.server.find(':') != std::string::npos ? "[" + r.server + "]" : r.server;
        m_url =
            std::string(r.secure ? "https://" : "http://") + host + ":" + std::to_string(r.port) + r.object;
        m_body = r.body;
        // Both header modes come to the same here: curl sets no header of
        // these names before ours, and a line of ours replaces curl's own.
        size_t pos = 0;
        while (pos < r.headers.size()) {
            size_t end = r.headers.find("\r\n", pos);
            if (end == std::string::npos) end = r.headers.size();
            if (end > pos) m_headers = curl_slist_append(m_headers, r.headers.substr(pos, end - pos).c_str());
            pos = end + 2;
        }

        CURL* e = m_easy;
        bool ok = curl_easy_setopt(e, CURLOPT_URL, m_url.c_str()) == CURLE_OK;
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_error);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_USERAGENT, r.agent.c_str());
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, r.timeoutMs ? static_cast<long>(r.timeoutMs) : 60000L);
        // curl has no per-read time-out; a time-out bounds the whole exchange.
        if (r.timeoutMs) curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(r.timeoutMs));
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // Redirects are the service client's to follow (it keeps the key
        // within its origin and never goes from https to http).
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        // Certificate errors are never ignored.
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        // Test runs may trust a CA of their own instead of the system's.
        if (const char* ca = std::getenv("LUMORA_CA_FILE"))
            if (*ca) {
                curl_easy_setopt(e, CURLOPT_CAINFO, ca);
                curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
            }
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headers);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnWrite);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        if (r.verb == "POST") {
            curl_easy_setopt(e, CURLOPT_POST, 1L);
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, m_body.c_str());
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_body.size()));
        } else if (r.verb != "GET") {
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
        }
        return ok;
    }

    bool Send() override {
        if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) return false;
        m_added = true;
        Pump([this] { return m_headDone; });
        if (!m_headDone) ThrowIfFailed();
        return true;
    }

    int Status() override {
        long code = 0;
        if (curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code < 100 || code > 999)
            throw HttpError(CURLE_WEIRD_SERVER_REPLY, "The status of the answer could not be read");
        return static_cast<int>(code);
    }

    std::string Location() override { return Header("Location"); }

    std::string Header(const char* name) override {
        const size_t n = std::strlen(name);
        for (const std::string& line : m_headerLines)
            if (line.size() > n && line[n] == ':' && strncasecmp(line.c_str(), name, n) == 0) {
                size_t b = line.find_first_not_of(" \t", n + 1), e = line.find_last_not_of(" \t\r\n");
                return b == std::string::npos || e < b ? std::string() : line.substr(b, e - b + 1);
            }
        return std::string();
    }

    size_t Read(void* buffer, size_t size) override {
        if (size == 0) return 0;
        if (m_parkedPos == m_parked.size()) {
            m_parked.clear();
            m_parkedPos = 0;
            if (m_paused) {
                m_paused = false;
                // Unpausing may deliver the held data right away.
                curl_easy_pause(m_easy, CURLPAUSE_CONT);
            }
            Pump([this] { return m_parkedPos < m_parked.size() || m_paused; });
            if (m_parkedPos == m_parked.size()) {
                ThrowIfFailed();
                return 0;
            }
        }
        size_t n = m_parked.size() - m_parkedPos;
        if (n > size) n = size;
        std::memcpy(buffer, m_parked.data() + m_parkedPos, n);
        m_parkedPos += n;
        return n;
    }

    void Cancel() override {
        m_cancelled.store(true);
        // Ends a curl_multi_poll of the transfer's thread at once.
        std::lock_guard<std::mutex> g(m_multiLock);
        if (m_multi) curl_multi_wakeup(m_multi);
    }

  private:
    static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
        CurlTransfer* t = static_cast<CurlTransfer*>(self);
        size_t n = size * count;
        t->m_headDone = true;
        if (t->m_parked.size() - t->m_parkedPos + n > kMaxParked && t->m_parkedPos < t->m_parked.size()) {
            t->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (t->m_parkedPos == t->m_parked.size()) {
            t->m_parked.clear();
            t->m_parkedPos = 0;
        }
        t->m_parked.append(data, n);
        return n;
    }

    // The head of the answer ends with an empty line; interim answers (1xx)
    // come before it.
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        CurlTransfer* t = static_cast<CurlTransfer*>(self);
        size_t n = size * count;
        std::string line(data, n);
        if (line.compare(0, 5, "HTTP/") == 0) {
            t->m_headerLines.clear();  // a new answer: an interim one's headers are not its own
        } else if (line == "\r\n" || line == "\n") {
            long code = 0;
            curl_easy_getinfo(t->m_easy, CURLINFO_RESPONSE_CODE, &code);
            if (code >= 200) t->m_headDone = true;
        } else {
            t->m_headerLines.push_back(line);
        }
        return n;
    }

    template <class Pred>
    void Pump(Pred ready) {
        while (!ready() && !m_done) {
            if (m_cancelled.load()) throw HttpError(CURLE_ABORTED_BY_CALLBACK, "The transfer was cancelled");
            int running = 0;
            CURLMcode mc = curl_multi_perform(m_multi, &running);
            if (mc != CURLM_OK) throw HttpError(CURLE_FAILED_INIT, curl_multi_strerror(mc));
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_easy) {
                    m_done = true;
                    m_result = msg->data.result;
                }
            }
            if (ready() || m_done) break;
            curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
        }
        if (m_cancelled.load()) throw HttpError(CURLE_ABORTED_BY_CALLBACK, "The transfer was cancelled");
    }

    void ThrowIfFailed() {
        if (!m_done || m_result == CURLE_OK) return;
        std::string text = curl_easy_strerror(m_result);
        if (m_error[0]) text += std::string(": ") + m_error;
        throw HttpError(m_result, text);
    }

    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr;
    curl_slist* m_headers = nullptr;
    std::string m_url, m_body;
    std::string m_parked;
    std::vector<std::string> m_headerLines;  // of the answer being read
    size_t m_parkedPos = 0;
    bool m_added = false, m_headDone = false, m_paused = false, m_done = false;
    CURLcode m_result = CURLE_OK;
    char m_error[CURL_ERROR_SIZE];
    std::atomic<bool> m_cancelled{false};
    std::mutex m_multiLock;  // m_multi's creation and end against Cancel
};

}  // namespace

std::unique_ptr<HttpTransfer> NewHttpTransfer() {
    return std::unique_ptr<HttpTransfer>(new CurlTransfer());
}

}  // namespace plat
