// The repository's source folder and whole files read from it, for tests that
// check sources against each other (help pages, dialog templates, strings).
#pragma once

#include <cstdlib>
#include <string>

#include "support/read_file.h"

// The source folder: LUMORA_SOURCE_DIR in the test environment, else the one
// the program was built from (runs by hand).
inline std::string SourceDir() {
    const char* dir = std::getenv("LUMORA_SOURCE_DIR");
    return dir && *dir ? dir : LUMORA_TEST_SOURCE_DIR;
}

// A whole file's bytes; empty when it cannot be read.
inline std::string ReadAll(const std::string& path) {
    return ReadFileBytes(path);
}
