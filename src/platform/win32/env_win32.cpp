#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/env.h"

namespace plat {

std::string GetEnvVar(const char* name) {
    DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
    if (n == 0) return std::string();
    std::vector<char> buf(n + 1);
    DWORD got = GetEnvironmentVariableA(name, buf.data(), static_cast<DWORD>(buf.size()));
    if (got == 0 || got >= buf.size()) return std::string();
    return std::string(buf.data(), got);
}

void SetEnvVar(const char* name, const std::string& value) {
    // _putenv keeps the runtime's copy (getenv) in step and sets the
    // system's block as well.
    std::string entry = std::string(name) + "=" + value;
    _putenv(entry.c_str());
    SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

}  // namespace plat
