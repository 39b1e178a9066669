// Splitting a request URL into the parts an HTTP connection needs.
#pragma once

#include <cstdint>
#include <string>

// Service numbers of a URL's scheme, as the log lines report them.
enum : int {
    kServiceFtp = 1,
    kServiceGopher = 2,
    kServiceHttp = 3,
    kServiceUnknown = 0x1000,
    kServiceFile = 0x1001,
    kServiceMailto = 0x1003,
    kServiceNews = 0x1006,
    kServiceTelnet = 0x1009,
    kServiceHttps = 0x100B,
};

struct CUrlParts {
    int service = kServiceUnknown;
    std::string server;
    std::string object = "/";  // path with query; "/" when the URL has none
    uint16_t port = 0;         // the scheme's default when the URL gives none
};

// false when the text is not "scheme://server[:port][/object]" with a
// non-empty server and a port from 1 to 65535.
bool SplitUrl(const std::string& url, CUrlParts& parts);
