// HTTP exchanges on WinINet: one session, connection and request per
// exchange, all closed by the destructor.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/env.h"
#include "platform/http.h"
#include "platform/read_window.h"

namespace plat {

const int kHttpErrCannotConnect = ERROR_INTERNET_CANNOT_CONNECT;

namespace {

// 0x84000000, plus: redirects are the service client's to follow (WinINet
// would take the key header along to any other host).
const DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_DONT_CACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;
const DWORD kConnectTimeoutMs = 60000;

// The system's text for a WinINet or system error code.
std::string ErrorText(DWORD code) {
    char buf[1024];
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        GetModuleHandleA("wininet.dll"), code, 0, buf, sizeof buf, nullptr);
    while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ' || buf[n - 1] == '.')) --n;
    return std::string(buf, n);
}

[[noreturn]] void ThrowLastError() {
    DWORD code = GetLastError();  // before anything else can change it
    throw HttpError(static_cast<int>(code), ErrorText(code));
}

class WinInetTransfer : public HttpTransfer {
  public:
    ~WinInetTransfer() override { CloseAll(); }

    // Closing the handles is how a blocking WinINet call of another thread is
    // ended: that call then fails, and every later one finds no handle.
    void Cancel() override {
        m_cancelled.store(true);
        CloseAll();
    }

    bool Open(const HttpRequest& r) override {
        m_req = r;
        m_session = InternetOpenA(r.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!m_session) ThrowLastError();
        DWORD timeout = r.timeoutMs ? r.timeoutMs : kConnectTimeoutMs;
        InternetSetOptionA(m_session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
        m_connection = InternetConnectA(m_session, r.server.c_str(), r.port, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, 0);
        if (!m_connection) ThrowLastError();
        bool opened = OpenRequest();
        // A cancel while the handles were being made may have missed some.
        ThrowIfCancelled();
        return opened;
    }

    bool Send() override {
        if (!SendRequest()) {
            DWORD code = GetLastError();
            // WinINet reuses a kept-alive connection of an earlier session to
            // the same server; when the server closed it just then, the send
            // fails without the request having reached anyone. A GET is safe
            // to send once more, on a fresh request.
            bool staleConnection =
                code == ERROR_INTERNET_CONNECTION_ABORTED || code == ERROR_INTERNET_CONNECTION_RESET;
            if (!staleConnection || m_req.verb != "GET")
                throw HttpError(static_cast<int>(code), ErrorText(code));
            if (HINTERNET stale = m_request.exchange(nullptr)) InternetCloseHandle(stale);
            if (!OpenRequest()) ThrowLastError();
            if (!SendRequest()) ThrowLastError();
        }
        // The announced length, to tell a body cut short from a finished one.
        char text[32];
        DWORD size = sizeof text, index = 0;
        if (HttpQueryInfoA(m_request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index))
            m_announced = _strtoi64(text, nullptr, 10);
        return true;
    }

    int Status() override {
        DWORD status = 0, size = sizeof status, index = 0;
        if (!HttpQueryInfoA(m_request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                            &index))
            ThrowLastError();
        // A status line without a number reads as 0 here: that is no status,
        // and must not pass for one.
        if (status < 100 || status > 999)
            throw HttpError(ERROR_HTTP_INVALID_SERVER_RESPONSE,
                            ErrorText(ERROR_HTTP_INVALID_SERVER_RESPONSE));
        return static_cast<int>(status);
    }

    std::string Location() override {
        char text[4096];
        DWORD size = sizeof text, index = 0;
        if (!HttpQueryInfoA(m_request, HTTP_QUERY_LOCATION, text, &size, &index)) return std::string();
        return std::string(text, size);
    }

    std::string Header(const char* name) override {
        char text[4096];
        size_t n = std::strlen(name);
        if (n >= sizeof text) return std::string();
        std::memcpy(text, name, n + 1);  // the name goes in, the value comes out
        DWORD size = sizeof text, index = 0;
        if (!HttpQueryInfoA(m_request, HTTP_QUERY_CUSTOM, text, &size, &index)) return std::string();
        return std::string(text, size);
    }

    size_t Read(void* buffer, size_t size) override {
        // The stack is asked for large blocks, the caller gets its pieces from
        // them: each call into the stack costs far more than a copy.
        if (m_pos == m_filled) {
            m_pos = m_filled = 0;
            DWORD got = FillBlock();
            m_received += got;
            if (got == 0) {
                if (m_announced >= 0 && m_received < m_announced)
                    throw HttpError(ERROR_INTERNET_CONNECTION_RESET,
                                    ErrorText(ERROR_INTERNET_CONNECTION_RESET));
                return 0;
            }
            m_filled = got;
        }
        size_t n = std::min(size, static_cast<size_t>(m_filled - m_pos));
        std::memcpy(buffer, m_block + m_pos, n);
        m_pos += static_cast<DWORD>(n);
        return n;
    }

  private:
    // One read from the stack into m_block; 0 at the end of the body. A read
    // blocks until all it asked for has arrived, and wine does not end it
    // when Cancel closes the handle, so its size decides how long a stop can
    // wait: see ReadWindow.
    DWORD FillBlock() {
        DWORD got = 0;
        DWORD blind = m_mode == ReadMode::kBlock      ? ReadWindow::kMax
                      : m_mode == ReadMode::kAdaptive ? m_window.Blind()
                                                      : 0;
        if (blind != 0) {
            uint64_t t0 = Micros();
            if (!InternetReadFile(m_request, m_block, blind, &got)) ThrowLastError();
            m_window.AfterBlind(blind, got, Micros() - t0);
            return got;
        }
        // Ask what has arrived (this waits for the first byte of it) and read
        // only that.
        uint64_t t0 = Micros();
        DWORD avail = 0;
        if (!InternetQueryDataAvailable(m_request, &avail, 0, 0)) ThrowLastError();
        m_window.AfterQueried(avail, Micros() - t0);
        DWORD want = avail == 0 ? 1 : std::min<DWORD>(avail, sizeof m_block);
        if (!InternetReadFile(m_request, m_block, want, &got)) ThrowLastError();
        return got;
    }

    static uint64_t Micros() {
        static const LONGLONG frequency = [] {
            LARGE_INTEGER f;
            QueryPerformanceFrequency(&f);
            return f.QuadPart > 0 ? f.QuadPart : 1;
        }();
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<uint64_t>(now.QuadPart / frequency * 1000000 +
                                     now.QuadPart % frequency * 1000000 / frequency);
    }

    bool OpenRequest() {
        // Certificate errors are never ignored: no INTERNET_FLAG_IGNORE_CERT_* here.
        DWORD flags = kFlags | (m_req.secure ? INTERNET_FLAG_SECURE : 0);  // 0x84800000 for https
        m_request = HttpOpenRequestA(m_connection, m_req.verb.c_str(), m_req.object.c_str(), "HTTP/1.0",
                                     nullptr, nullptr, flags, 0);
        if (m_request && m_req.timeoutMs) {
            // Set on the request handle: that is where both WinINet and wine apply them.
            DWORD timeout = m_req.timeoutMs;
            InternetSetOptionA(m_request, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
            InternetSetOptionA(m_request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
        }
        return m_request != nullptr;
    }

    // Adds or passes the header lines and sends; false with the last error set.
    bool SendRequest() {
        const HttpRequest& r = m_req;
        const char* headers = nullptr;
        DWORD headersLen = 0;
        if (r.headersIfNew) {
            if (!r.headers.empty() &&
                !HttpAddRequestHeadersA(m_request, r.headers.c_str(), static_cast<DWORD>(-1),
                                        HTTP_ADDREQ_FLAG_ADD_IF_NEW))
                return false;
        } else if (!r.headers.empty()) {
            headers = r.headers.c_str();
            headersLen = static_cast<DWORD>(r.headers.size());
        }
        void* body = r.body.empty() ? nullptr : const_cast<char*>(r.body.data());
        return HttpSendRequestA(m_request, headers, headersLen, body, static_cast<DWORD>(r.body.size())) !=
               FALSE;
    }

    HttpRequest m_req;
    void ThrowIfCancelled() {
        if (!m_cancelled.load()) return;
        CloseAll();
        throw HttpError(ERROR_INTERNET_OPERATION_CANCELLED, ErrorText(ERROR_INTERNET_OPERATION_CANCELLED));
    }

    void CloseAll() {
        if (HINTERNET h = m_request.exchange(nullptr)) InternetCloseHandle(h);
        if (HINTERNET h = m_connection.exchange(nullptr)) InternetCloseHandle(h);
        if (HINTERNET h = m_session.exchange(nullptr)) InternetCloseHandle(h);
    }

    // Atomic: Cancel may close them from another thread.
    std::atomic<HINTERNET> m_session{nullptr};
    std::atomic<HINTERNET> m_connection{nullptr};
    std::atomic<HINTERNET> m_request{nullptr};
    std::atomic<bool> m_cancelled{false};
    char m_block[ReadWindow::kMax];
    const ReadMode m_mode = ReadModeFromName(GetEnvVar("LUMORA_WININET_READ").c_str());
    ReadWindow m_window;
    DWORD m_pos = 0, m_filled = 0;
    long long m_announced = -1;
    long long m_received = 0;
};

}  // namespace

std::unique_ptr<HttpTransfer> NewHttpTransfer() {
    return std::unique_ptr<HttpTransfer>(new WinInetTransfer());
}

}  // namespace plat
