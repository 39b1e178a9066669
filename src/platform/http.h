// One HTTP exchange through the platform's HTTP stack (WinINet on Windows,
// libcurl natively). The service client keeps every rule about results, log
// lines and counters; this layer only opens, sends, reports the status and
// hands out the body, and raises HttpError where the platform reports a
// failure with an error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace plat {

// A failure the platform reports with its own code: WinINet/system error code
// on Windows, CURLcode natively. The text is the platform's message for it.
class HttpError : public std::runtime_error {
  public:
    HttpError(int code, const std::string& text) : std::runtime_error(text), m_code(code) {}
    int Code() const { return m_code; }

  private:
    int m_code;
};

// The platform's code for "could not connect to the server".
extern const int kHttpErrCannotConnect;

struct HttpRequest {
    std::string agent;    // session agent name
    bool secure = false;  // https: TLS with certificate checks
    std::string server;
    uint16_t port = 0;
    std::string object;  // path with query
    std::string verb = "GET";
    // Header lines, each ending in "\r\n".
    std::string headers;
    // true: headers are added to the request before sending, each only where
    // no header of that name is set yet; false: they go with the send.
    bool headersIfNew = false;
    std::string body;  // sent when not empty or when the verb is POST
    // 0: the platform's own bounds (connect 60 s). Otherwise the connect,
    // send and receive of this exchange each give up after this long, so a
    // server that accepts and then says nothing cannot hold the caller.
    uint32_t timeoutMs = 0;
};

// One exchange. Calls go in this order: Open, Send, Status, then Read until it
// returns 0. Any call may raise HttpError; the destructor releases everything.
class HttpTransfer {
  public:
    virtual ~HttpTransfer() = default;
    // Opens session, connection and request (connect time-out 60 s, no cache,
    // HTTP/1.0, certificates checked, redirects not followed: the caller
    // decides which to follow). false when no request could be opened.
    virtual bool Open(const HttpRequest& request) = 0;
    // Sends the request with its headers and body and waits for the answer's
    // head. false when the platform reports the send as failed without a code.
    virtual bool Send() = 0;
    // The status code (100 to 999); raises HttpError when the answer has
    // none that can be read.
    virtual int Status() = 0;
    // The answer's Location header as sent ("" when there is none).
    virtual std::string Location() = 0;
    // A header of the answer by name, compared ignoring case ("" when absent).
    virtual std::string Header(const char* name) = 0;
    // Reads up to size bytes of the body; 0 at its end. A body that ends
    // before its announced Content-Length raises HttpError.
    virtual size_t Read(void* buffer, size_t size) = 0;
    // Ends the exchange from another thread: a call blocked in Open, Send,
    // Status or Read returns promptly by raising HttpError, and so does every
    // later call. Safe at any time while the object exists.
    virtual void Cancel() = 0;
};

std::unique_ptr<HttpTransfer> NewHttpTransfer();

}  // namespace plat
