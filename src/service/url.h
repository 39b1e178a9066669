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

// The absolute URL a Location header value names, read against the URL it
// answered: absolute, scheme-relative ("//host/x"), absolute path ("/x"),
// a query ("?x") or a path relative to the answered one's folder.
std::string ResolveLocation(const std::string& base, const std::string& location);

// What the client does with a redirect (one rule for both builds, which let
// no HTTP stack follow redirects on its own).
enum class RedirectRule {
    kFollow,            // same origin as the request the key was given to
    kFollowWithoutKey,  // another origin: the "X-API-Key" line stays behind
    kRefuse,            // https to http, not http(s), unusable, or the key in the address
};
// from: the URL that answered; to: where it points; origin: the first URL of
// the exchange, the one the key belongs to; key: the API key ("" if none).
RedirectRule CheckRedirect(const std::string& from, const std::string& to, const std::string& origin,
                           const std::string& key);
