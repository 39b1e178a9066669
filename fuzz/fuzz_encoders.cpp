// The encoders of outgoing text and the URL splitter: an encoded value
// decodes back to the UTF-8 form of what went in, a query string and a JSON
// body read back to their parameters, a split URL has a server, a port and
// an object, and a log line never shows a key.
#include <json/json.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/codepage.h"
#include "service/api.h"
#include "service/url.h"

namespace {

bool Unreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lower case is never written
}

bool PercentDecode(const std::string& in, std::string* out) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c != '%') {
            if (!Unreserved(c)) return false;
            *out += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= in.size()) return false;
        int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        char32_t cp = n == 1 ? c : (c & (0x7F >> n));
        for (size_t k = 1; k < n; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
        i += n;
    }
    return true;
}

bool HasWordAt(const std::string& s, size_t pos, const char* word) {
    for (size_t i = 0; word[i]; ++i)
        if (pos + i >= s.size() || std::tolower(static_cast<unsigned char>(s[pos + i])) != word[i])
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // One value: the text goes out as UTF-8, percent-encoded.
    const std::string utf8 = plat::AnsiToUtf8(text);
    FUZZ_CHECK(ValidUtf8(utf8), FuzzShow(text) + " -> " + FuzzShow(utf8));
    if (ValidUtf8(text) && text.find('\0') == std::string::npos)
        // Natively the narrow code page is UTF-8: valid text goes out unchanged.
        FUZZ_CHECK(utf8 == text, FuzzShow(text));
    const std::string encoded = UrlEncode(utf8);
    std::string decoded;
    FUZZ_CHECK(PercentDecode(encoded, &decoded) && decoded == utf8, FuzzShow(encoded));

    // A parameter list from the fields of the input: read back in order.
    CParamList params;
    size_t pos = 0;
    while (pos < text.size() && params.GetSize() < 16) {
        std::string name = FuzzField(text, &pos);
        std::string value = FuzzField(text, &pos);
        bool plainName = !name.empty();
        for (unsigned char c : name) plainName = plainName && Unreserved(c);
        if (plainName) params.Append(name, value);
    }
    std::string query;
    BuildQueryString(query, "http://h/p", params);
    FUZZ_CHECK(query.compare(0, 11, "http://h/p?") == 0, query);
    std::string rest = query.substr(11);
    int index = 0;
    for (size_t p = 0; !rest.empty() && p <= rest.size(); ++index) {
        size_t amp = rest.find('&', p);
        if (amp == std::string::npos) amp = rest.size();
        std::string pair = rest.substr(p, amp - p);
        size_t eq = pair.find('=');
        FUZZ_CHECK(index < params.GetSize() && eq != std::string::npos, query);
        FUZZ_CHECK(pair.substr(0, eq) == params[index].m_name, query);
        FUZZ_CHECK(PercentDecode(pair.substr(eq + 1), &decoded) &&
                       decoded == plat::AnsiToUtf8(params[index].m_value),
                   query);
        p = amp + 1;
    }
    FUZZ_CHECK(index == params.GetSize(), query);

    std::string body;
    BuildJsonBody(body, params);
    if (params.IsEmpty()) {
        FUZZ_CHECK(body.empty(), body);
    } else {
        Json::Value root;
        Json::Reader reader;
        FUZZ_CHECK(reader.parse(body, root, false) && root.isObject(), FuzzShow(body));
        for (int i = 0; i < params.GetSize(); ++i) {
            const Json::Value& v = root[params[i].m_name];
            FUZZ_CHECK(v.isString(), FuzzShow(body));
            // The last of equal names wins in the reader.
            bool later = false;
            for (int k = i + 1; k < params.GetSize(); ++k)
                later = later || params[k].m_name == params[i].m_name;
            if (!later) FUZZ_CHECK(v.asString() == plat::AnsiToUtf8(params[i].m_value), FuzzShow(body));
        }
    }

    // The URL splitter.
    CUrlParts parts;
    if (SplitUrl(text, parts)) {
        FUZZ_CHECK(!parts.server.empty(), FuzzShow(text));
        FUZZ_CHECK(!parts.object.empty() && parts.object[0] == '/', FuzzShow(text));
        FUZZ_CHECK(parts.object.find('#') == std::string::npos, FuzzShow(text));
        if (parts.service == kServiceHttp || parts.service == kServiceHttps)
            FUZZ_CHECK(parts.port != 0, FuzzShow(text));
    }

    // A log line never shows a key's value.
    const std::string redacted = RedactApiKey(text);
    for (size_t p = 0; p < redacted.size(); ++p) {
        bool wordStart = p == 0 || !(std::isalnum(static_cast<unsigned char>(redacted[p - 1])) ||
                                     redacted[p - 1] == '_' || redacted[p - 1] == '-');
        if (wordStart && HasWordAt(redacted, p, "apikey=")) {
            FUZZ_CHECK(redacted.compare(p + 7, 3, "***") == 0, FuzzShow(text) + " -> " + FuzzShow(redacted));
        }
    }
    return 0;
}
