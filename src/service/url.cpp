#include "service/url.h"

#include <cctype>

#include "platform/codepage.h"
#include "service/api.h"

namespace {

struct Scheme {
    const char* name;
    int service;
    uint16_t port;
};
const Scheme kSchemes[] = {
    {"http", kServiceHttp, 80},     {"https", kServiceHttps, 443},  {"ftp", kServiceFtp, 21},
    {"gopher", kServiceGopher, 70}, {"file", kServiceFile, 0},      {"mailto", kServiceMailto, 0},
    {"news", kServiceNews, 119},    {"telnet", kServiceTelnet, 23},
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

bool SplitUrl(const std::string& url, CUrlParts& parts) {
    size_t colon = url.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    std::string scheme = Lower(url.substr(0, colon));
    for (char c : scheme)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;

    CUrlParts out;
    for (const Scheme& s : kSchemes)
        if (scheme == s.name) {
            out.service = s.service;
            out.port = s.port;
        }

    size_t hostStart = colon + 3;
    size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    std::string authority = url.substr(hostStart, hostEnd - hostStart);
    size_t at = authority.rfind('@');  // credentials are never used
    if (at != std::string::npos) authority.erase(0, at + 1);

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {  // IPv6 literal
        size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        out.server = authority.substr(1, close - 1);
        std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            portText = rest.substr(1);
            if (portText.empty()) return false;
        }
    } else {
        size_t pc = authority.rfind(':');
        out.server = authority.substr(0, pc);
        if (pc != std::string::npos) {
            portText = authority.substr(pc + 1);
            if (portText.empty()) return false;
        }
    }
    if (out.server.empty()) return false;
    if (!portText.empty()) {
        if (portText.size() > 5) return false;
        unsigned long port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535) return false;
        out.port = static_cast<uint16_t>(port);
    }
    // The fragment never goes to the server.
    size_t hash = url.find('#', hostEnd);
    std::string object = url.substr(hostEnd, hash == std::string::npos ? std::string::npos : hash - hostEnd);
    if (object.empty() || object[0] != '/') object.insert(0, "/");
    out.object = object;
    parts = out;
    return true;
}

namespace {

// "scheme://authority" of a URL that SplitUrl accepts.
std::string SchemeAndAuthority(const std::string& url) {
    size_t start = url.find("://") + 3;
    size_t end = url.find_first_of("/?#", start);
    return url.substr(0, end == std::string::npos ? url.size() : end);
}

bool HasScheme(const std::string& text) {
    size_t colon = text.find("://");
    return colon != std::string::npos && colon > 0 && text.find_first_of("/?#") > colon;
}

bool SameOrigin(const CUrlParts& a, const CUrlParts& b) {
    return a.service == b.service && a.port == b.port && Lower(a.server) == Lower(b.server);
}

}  // namespace

std::string ResolveLocation(const std::string& base, const std::string& location) {
    if (HasScheme(location)) return location;
    if (location.compare(0, 2, "//") == 0) return base.substr(0, base.find("://") + 1) + location;
    const std::string root = SchemeAndAuthority(base);
    if (!location.empty() && location[0] == '/') return root + location;
    // Relative: against the answered URL's path without its query.
    std::string path = base.substr(root.size());
    path = path.substr(0, path.find_first_of("?#"));
    if (!location.empty() && location[0] == '?') return root + (path.empty() ? "/" : path) + location;
    size_t slash = path.rfind('/');
    return root + (slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1)) + location;
}

RedirectRule CheckRedirect(const std::string& from, const std::string& to, const std::string& origin,
                           const std::string& key) {
    CUrlParts f, t, o;
    if (!SplitUrl(from, f) || !SplitUrl(to, t) || !SplitUrl(origin, o)) return RedirectRule::kRefuse;
    if (t.service != kServiceHttp && t.service != kServiceHttps) return RedirectRule::kRefuse;
    // Never from TLS to plain text: the request (key included) would travel in the open.
    if (f.service == kServiceHttps && t.service == kServiceHttp) return RedirectRule::kRefuse;
    if (o.service == kServiceHttps && t.service == kServiceHttp) return RedirectRule::kRefuse;
    if (SameOrigin(t, o)) return RedirectRule::kFollow;
    // Another origin must not learn the key, not even from the address.
    bool keyInAddress = RedactApiKey(to) != to;
    if (key.size() >= 4 &&
        (to.find(key) != std::string::npos || to.find(UrlEncode(plat::AnsiToUtf8(key))) != std::string::npos))
        keyInAddress = true;
    return keyInAddress ? RedirectRule::kRefuse : RedirectRule::kFollowWithoutKey;
}
