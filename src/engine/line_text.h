// Texts from the service end up in line-based state files and INI lines,
// where a control character would split or merge records.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

inline bool IsControlChar(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

inline bool HasControl(std::string_view s) {
    // Eight bytes at a time: the cache list checks every path and id it
    // reads or writes. A byte below 0x20 borrows into its high bit when 0x20
    // is taken from it (and had that bit clear); a DEL is zero after ^ 0x7F.
    const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    const char* p = s.data();
    size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        const uint64_t del = w ^ (ones * 0x7F);
        if ((((w - ones * 0x20) & ~w) | ((del - ones) & ~del)) & highs) return true;
    }
    for (; n > 0; ++p, --n)
        if (IsControlChar(static_cast<unsigned char>(*p))) return true;
    return false;
}

inline std::string WithoutControls(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s)
        if (!IsControlChar(c)) out += static_cast<char>(c);
    return out;
}
