// Small helpers shared by the service client's files.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/strings.h"
#include "platform/codepage.h"
#include "service/api.h"

// A string-table text with its one "%d" filled in.
inline std::string FormatStr(unsigned id, int value) {
    std::string format = LoadStr(id);
    char buf[512];
    std::snprintf(buf, sizeof buf, format.c_str(), value);
    return buf;
}

// Text for a log line: the API key's value is masked wherever it appears as
// a parameter, a header or a JSON member, and the key itself wherever else it
// shows (an answer may echo it).
inline std::string ForLog(const std::string& text, const std::string& apiKey) {
    std::string out = RedactApiKey(text);
    if (apiKey.size() >= 4) {
        for (const std::string& form : {apiKey, UrlEncode(apiKey), UrlEncode(plat::AnsiToUtf8(apiKey))}) {
            size_t pos = 0;
            while ((pos = out.find(form, pos)) != std::string::npos) {
                out.replace(pos, form.size(), "***");
                pos += 3;
            }
        }
    }
    return out;
}

// A user name or collection id as one segment of a request path: UTF-8,
// percent-encoded, so a space, "/" or "?" in it cannot change the request.
inline std::string PathSegment(const std::string& text) {
    return UrlEncode(plat::AnsiToUtf8(text));
}

inline bool IsStopSet(const std::atomic<int32_t>* stop) {
    return stop && stop->load() != 0;
}
