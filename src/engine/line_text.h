// Texts from the service end up in line-based state files and INI lines,
// where a control character would split or merge records.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline bool IsControlChar(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

inline bool HasControl(std::string_view s) {
    // Eight bytes at a time: the cache list checks every path and id it
    // reads or writes. A byte below 0x20 borrows into its high bit when 0x20
    // is taken from it (and had that bit clear); a DEL is zero after ^ 0x7F.
    // The words' signs are gathered and looked at once, and the last word is
    // the text's last eight bytes (overlapping the one before): no branch per
    // word and no byte loop after the words.
    const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    const char* p = s.data();
    size_t n = s.size();
#if defined(__SSE2__)
    // Sixteen at a time where the processor has the instructions (always on
    // x86_64): a byte is below 0x20 when the unsigned minimum with 0x1F is
    // the byte itself.
    if (n >= 16) {
        const __m128i low = _mm_set1_epi8(0x1F), del = _mm_set1_epi8(0x7F);
        auto bad = [&](const char* at) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            return _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, low), v), _mm_cmpeq_epi8(v, del));
        };
        __m128i seen = bad(p + n - 16);
        for (; n > 16; p += 16, n -= 16) seen = _mm_or_si128(seen, bad(p));
        return _mm_movemask_epi8(seen) != 0;
    }
#endif
    if (n < 8) {
        for (; n > 0; ++p, --n)
            if (IsControlChar(static_cast<unsigned char>(*p))) return true;
        return false;
    }
    auto signs = [&](const char* at) {
        uint64_t w;
        std::memcpy(&w, at, 8);
        const uint64_t del = w ^ (ones * 0x7F);
        return ((w - ones * 0x20) & ~w) | ((del - ones) & ~del);
    };
    uint64_t seen = signs(p + n - 8);
    for (; n > 8; p += 8, n -= 8) seen |= signs(p);
    return (seen & highs) != 0;
}

inline std::string WithoutControls(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s)
        if (!IsControlChar(c)) out += static_cast<char>(c);
    return out;
}
