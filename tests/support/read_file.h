// The one way test programs read a whole file (lists, journals, side files,
// sources, settings files).
#pragma once

#include <cstdio>
#include <string>

// The file's bytes into *bytes; false (and *bytes empty) when it cannot be
// opened.
inline bool ReadFileBytes(const std::string& path, std::string* bytes) {
    bytes->clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->append(buf, n);
    std::fclose(f);
    return true;
}

// The file's bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    ReadFileBytes(path, &bytes);
    return bytes;
}
