#include <windows.h>

#include "platform/codepage.h"

namespace plat {

std::string Utf8ToAnsi(const std::string& utf8, size_t bufSize) {
    if (bufSize == 0 || utf8.empty()) return std::string();
    int wn = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wn <= 0) return std::string();
    std::wstring w(static_cast<size_t>(wn), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], wn);
    // Convert character by character until the next one would not fit, so a
    // long text is cut on a character boundary instead of failing.
    std::string out;
    size_t limit = bufSize - 1;
    char mb[8];
    for (size_t i = 0; i < w.size();) {
        int units = (w[i] >= 0xD800 && w[i] < 0xDC00 && i + 1 < w.size()) ? 2 : 1;
        int n = WideCharToMultiByte(CP_ACP, 0, &w[i], units, mb, sizeof mb, nullptr, nullptr);
        if (n <= 0 || out.size() + static_cast<size_t>(n) > limit) break;
        out.append(mb, static_cast<size_t>(n));
        i += static_cast<size_t>(units);
    }
    return out;
}

std::u16string AnsiToUtf16(const std::string& s) {
    if (s.empty()) return std::u16string();
    int wn = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (wn <= 0) return std::u16string();
    std::u16string out(static_cast<size_t>(wn), u'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), reinterpret_cast<wchar_t*>(&out[0]),
                        wn);
    return out;
}

std::string AnsiToUtf8(const std::string& s) {
    std::u16string w = AnsiToUtf16(s);
    if (w.empty()) return std::string();
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(w.data());
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string FoldCase(const std::string& text) {
    std::string out(text);
    if (!out.empty()) CharLowerBuffA(&out[0], static_cast<DWORD>(out.size()));
    return out;
}

size_t FindLastChar(const std::string& text, char ch) {
    // The whole string, by its length: a NUL inside must not hide what
    // follows it (a separator after it would escape every check).
    size_t found = std::string::npos;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ch) found = i;
        bool lead = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size();
        i += lead ? 2 : 1;
    }
    return found;
}

}  // namespace plat
