// UTF-16 private-profile (INI) writing for the image property side files.
#pragma once

#include <string>

namespace plat {

// Adds or replaces key=value in [section] of the profile file at path (a
// narrow-code-page path). A file that starts with the UTF-16LE byte order mark
// stays UTF-16LE. False when the file could not be written.
bool WriteProfileKey(const std::string& path, const std::u16string& section, const std::u16string& key,
                     const std::u16string& value);

}  // namespace plat
