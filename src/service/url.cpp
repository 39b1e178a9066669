#include "service/url.h"

#include <cctype>

namespace {

struct Scheme {
    const char* name;
    int service;
    uint16_t port;
};
const Scheme kSchemes[] = {
    {"http", kServiceHttp, 80},     {"https", kServiceHttps, 443},   {"ftp", kServiceFtp, 21},
    {"gopher", kServiceGopher, 70}, {"file", kServiceFile, 0},       {"mailto", kServiceMailto, 0},
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
