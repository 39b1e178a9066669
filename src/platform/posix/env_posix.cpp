#include <cstdlib>

#include "platform/env.h"

namespace plat {

std::string GetEnvVar(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

void SetEnvVar(const char* name, const std::string& value) {
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
}

}  // namespace plat
