// Request parameters: query strings, JSON bodies, and keeping the API key out
// of log lines.
#include <cctype>
#include <cstdio>

#include "platform/codepage.h"
#include "service/api.h"

std::atomic<uint32_t> g_apiCalls{0};
std::atomic<uint32_t> g_apiErrors{0};
std::atomic<uint32_t> g_downloads{0};
std::atomic<uint32_t> g_downloadErrors{0};

std::string UrlEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                    c == '.' || c == '_' || c == '~';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

void BuildQueryString(std::string& out, const char* base, const CParamList& params) {
    if (base) {
        out += base;
        out += '?';
    }
    for (int i = 0; i < params.GetSize(); ++i) {
        if (i > 0) out += '&';
        out += params[i].m_name;
        out += '=';
        // Values are the user's text in the ANSI code page; the service
        // reads UTF-8.
        out += UrlEncode(plat::AnsiToUtf8(params[i].m_value));
    }
}

namespace {
// Quotes and backslashes must be escaped, or a value holding one would end
// its string early and the body would not be JSON at all.
void AppendJsonText(std::string& out, const std::string& text) {
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
}
}  // namespace

void BuildJsonBody(std::string& out, const CParamList& params) {
    out.clear();
    if (params.IsEmpty()) return;
    out += "{\n";
    for (int i = 0; i < params.GetSize(); ++i) {
        if (i > 0) out += ",\n";
        out += '"';
        AppendJsonText(out, plat::AnsiToUtf8(params[i].m_name));
        out += "\":\"";
        AppendJsonText(out, plat::AnsiToUtf8(params[i].m_value));
        out += '"';
    }
    out += "\n}\n";
}

namespace {

bool MatchNoCase(const std::string& text, size_t pos, const char* word) {
    for (size_t i = 0; word[i]; ++i) {
        if (pos + i >= text.size()) return false;
        if (std::tolower(static_cast<unsigned char>(text[pos + i])) != word[i]) return false;
    }
    return true;
}

bool IsNameChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '-';
}

// Replaces text[from, to) with "***" and returns the position after it.
size_t Mask(std::string& text, size_t from, size_t to) {
    text.replace(from, to - from, "***");
    return from + 3;
}

}  // namespace

std::string RedactApiKey(const std::string& input) {
    std::string text(input);
    size_t pos = 0;
    while (pos < text.size()) {
        bool wordStart = pos == 0 || !IsNameChar(text[pos - 1]);
        if (wordStart && MatchNoCase(text, pos, "apikey=")) {
            // A query or form parameter: the value runs to the next separator.
            size_t from = pos + 7;
            size_t to = text.find_first_of("&# \t\r\n\"'", from);
            if (to == std::string::npos) to = text.size();
            pos = Mask(text, from, to);
        } else if (wordStart && MatchNoCase(text, pos, "x-api-key:")) {
            // A header line: the value runs to the end of the line.
            size_t from = pos + 10;
            while (from < text.size() && (text[from] == ' ' || text[from] == '\t')) ++from;
            size_t to = text.find_first_of("\r\n", from);
            if (to == std::string::npos) to = text.size();
            pos = Mask(text, from, to);
        } else if (text[pos] == '"' && MatchNoCase(text, pos + 1, "apikey\"")) {
            // A JSON member "apikey": "value".
            size_t p = pos + 8;
            while (p < text.size() &&
                   (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n'))
                ++p;
            if (p < text.size() && text[p] == ':') {
                ++p;
                while (p < text.size() &&
                       (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n'))
                    ++p;
                if (p < text.size() && text[p] == '"') {
                    size_t to = p + 1;
                    while (to < text.size() && text[to] != '"') to += text[to] == '\\' ? 2 : 1;
                    if (to > text.size()) to = text.size();
                    pos = Mask(text, p + 1, to);
                    continue;
                }
            }
            pos += 8;
        } else {
            ++pos;
        }
    }
    return text;
}
