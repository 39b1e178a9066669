// What every fuzz target shares: a check that reports the broken invariant
// and stops the run (a crash is what libFuzzer records as a finding).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(cond, what)                                                                       \
    do {                                                                                             \
        if (!(cond)) {                                                                               \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  %s\n", __FILE__, __LINE__, #cond, \
                         std::string(what).c_str());                                                 \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)

inline std::string FuzzShow(const std::string& bytes) {
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c < 0x20 || c >= 0x7F || c == '\\') {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Splits input into fields at '\n' (the last field takes the rest).
inline std::string FuzzField(const std::string& in, size_t* pos) {
    if (*pos >= in.size()) return std::string();
    size_t end = in.find('\n', *pos);
    if (end == std::string::npos) end = in.size();
    std::string f = in.substr(*pos, end - *pos);
    *pos = end + 1;
    return f;
}
