#include <cctype>

#include "platform/codepage.h"

namespace plat {

namespace {
// Length of the UTF-8 sequence that starts with byte c (1 for stray bytes).
size_t SeqLen(unsigned char c) {
    if (c >= 0xF0 && c < 0xF8) return 4;
    if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
    if (c >= 0xC0) return 2;
    return 1;
}
}  // namespace

namespace {
// Length of the well-formed UTF-8 character at s[i], 0 if there is none
// (overlong forms, surrogates and values past U+10FFFF are not characters).
size_t WellFormedAt(const std::string& s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    size_t n = SeqLen(c);
    if (n == 1 || i + n > s.size()) return 0;
    char32_t cp = c & (0xFF >> (n + 1));
    for (size_t k = 1; k < n; ++k) {
        unsigned char t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
    return n;
}
}  // namespace

std::string Utf8ToAnsi(const std::string& utf8, size_t bufSize) {
    if (bufSize == 0) return std::string();
    // The narrow code page is UTF-8 here: only the cut must respect characters.
    size_t limit = bufSize - 1, pos = 0;
    while (pos < utf8.size()) {
        // A broken sequence is a unit of one byte: it must not swallow the
        // bytes after it (a "/" after a stray lead byte stays a separator).
        size_t n = WellFormedAt(utf8, pos);
        if (n == 0) n = 1;
        if (pos + n > utf8.size() || pos + n > limit) break;
        pos += n;
    }
    return utf8.substr(0, pos);
}

std::string AnsiToUtf8(const std::string& s) {
    // The narrow code page is UTF-8 here: only broken sequences change.
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        size_t n = WellFormedAt(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}

std::u16string AnsiToUtf16(const std::string& s) {
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = s[i];
        size_t n = SeqLen(c);
        if (i + n > s.size()) n = 1;
        char32_t cp;
        if (n == 1)
            cp = c < 0x80 ? c : 0xFFFD;
        else {
            cp = c & (0xFF >> (n + 1));
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return out;
}

std::string FoldCase(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

size_t FindLastChar(const std::string& text, char ch) {
    // In UTF-8 an ASCII byte is never part of a longer sequence.
    return text.rfind(ch);
}

}  // namespace plat
