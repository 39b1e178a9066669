// Reading the service's JSON answers.
#pragma once

#include <json/json.h>

#include <string>

// Parses a whole answer (comments allowed and collected). false when it is
// not JSON; a reader that gives up on a too deeply nested text counts as that.
inline bool ParseJsonAnswer(const std::string& text, Json::Value& root) {
    try {
        Json::Reader reader;
        return reader.parse(text, root, true);
    } catch (const Json::Exception&) {
        return false;
    }
}
