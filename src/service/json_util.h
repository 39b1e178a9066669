// Reading the service's JSON answers.
#pragma once

#include <json/json.h>

#include <string>

#include "platform/codepage.h"

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

// A text of an answer as UTF-8, with every NUL ("\u0000") turned into "?":
// below this point texts are C strings to the system, and a NUL would hide
// whatever follows it from one check but not from another.
inline std::string JsonUtf8(const Json::Value& value) {
    std::string text = value.asString();
    for (char& c : text)
        if (c == '\0') c = '?';
    return text;
}

// JsonUtf8 in the narrow code page, cut on a character boundary to fit a
// buffer of bufSize bytes with its terminating zero.
inline std::string JsonText(const Json::Value& value, size_t bufSize) {
    return plat::Utf8ToAnsi(JsonUtf8(value), bufSize);
}

// Whether the narrow form of utf8 fits a buffer of bufSize bytes whole.
inline bool FitsBuffer(const std::string& utf8, size_t bufSize) {
    return plat::Utf8ToAnsi(utf8, bufSize).size() == plat::Utf8ToAnsi(utf8, utf8.size() + 1).size();
}
