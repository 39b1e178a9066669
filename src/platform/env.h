// The process environment as the platform sees it (on Windows the system's
// block, so a value set by any runtime in the process is seen).
#pragma once

#include <string>

namespace plat {

// Empty when unset.
std::string GetEnvVar(const char* name);
// An empty value removes the variable.
void SetEnvVar(const char* name, const std::string& value);

}  // namespace plat
