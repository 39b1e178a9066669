// Texts from the service end up in line-based state files and INI lines,
// where a control character would split or merge records.
#pragma once

#include <string>

inline bool IsControlChar(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

inline bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (IsControlChar(c)) return true;
    return false;
}

inline std::string WithoutControls(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s)
        if (!IsControlChar(c)) out += static_cast<char>(c);
    return out;
}
