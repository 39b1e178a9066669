// Profile writing through the system's private-profile writer.
#include <windows.h>

#include "platform/codepage.h"
#include "platform/profile.h"

namespace plat {

bool WriteProfileKey(const std::string& path, const std::u16string& section, const std::u16string& key,
                     const std::u16string& value) {
    std::u16string wpath = AnsiToUtf16(path);
    if (wpath.empty()) return false;
    // The profile functions look up a bare file name in the Windows folder,
    // not the current one: hand them the full path of the file we mean.
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(reinterpret_cast<const wchar_t*>(wpath.c_str()), MAX_PATH * 4, full, nullptr);
    if (n == 0 || n >= MAX_PATH * 4) return false;
    return WritePrivateProfileStringW(reinterpret_cast<const wchar_t*>(section.c_str()),
                                      reinterpret_cast<const wchar_t*>(key.c_str()),
                                      reinterpret_cast<const wchar_t*>(value.c_str()), full) != FALSE;
}

}  // namespace plat
