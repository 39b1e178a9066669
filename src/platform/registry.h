// The registry value rules shared by the real registry (Windows) and the
// file-backed stand-in (native build).
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Bytes RegReadString accepts: a 511-character text with its terminator.
constexpr size_t kRegValueBuffer = 512;

// Turns the raw bytes of a string value into text. A value that does not fit
// the buffer reads as empty; so does one that fills the whole buffer without
// a terminating zero, since its text would be 512 characters, one more than
// the limit (cutting it would hand out a silently shortened key). A shorter
// value without a terminator is taken whole. The text ends at the first zero.
std::string RegValueText(const char* data, size_t size);

// Test helpers: store raw bytes as a string value (no terminator added), and
// remove a key with everything below it. True on success.
bool RegWriteRawForTest(int root, const char* subKey, const char* valueName, const void* data, size_t size);
bool RegDeleteTreeForTest(int root, const char* subKey);

}  // namespace plat

// Root selector: 0 local machine, 1 current user, 2 classes root, else users.
std::string RegReadString(int root, const char* subKey, const char* valueName);
bool RegWriteString(int root, const char* subKey, const char* valueName, const char* text);
