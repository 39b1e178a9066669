// Text conversions between the service's UTF-8, the system's narrow (ANSI)
// code page and UTF-16. On Windows the narrow code page is the ANSI code page;
// natively it is UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Converts UTF-8 to the narrow code page, replacing characters the code page
// lacks with its default character. The result fits a buffer of bufSize bytes
// with its terminating zero: a longer text is cut on a character boundary.
std::string Utf8ToAnsi(const std::string& utf8, size_t bufSize);

// Narrow code page to UTF-16 (little-endian code units).
std::u16string AnsiToUtf16(const std::string& text);

// Narrow code page to UTF-8, for text that leaves the program (query values,
// path segments, JSON bodies): the service reads UTF-8 only. The result is
// always valid UTF-8; bytes that are no character of the code page become
// U+FFFD.
std::string AnsiToUtf8(const std::string& text);

// Case folding for path comparison, character-wise in the narrow code page.
std::string FoldCase(const std::string& text);

// Index of the last occurrence of ch in text, searched character-wise (a
// trail byte of a double-byte character never matches); npos if none.
size_t FindLastChar(const std::string& text, char ch);

}  // namespace plat
