// The stand-in service of a test run: where it listens, its fault rules and
// the log of the requests it received.
#pragma once

#include <json/json.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/env.h"
#include "platform/http.h"
#include "service/url.h"

namespace standin {

// The service URL written by the test fixture, e.g. "http://127.0.0.1:41234".
inline std::string Url() {
    std::string dir = plat::GetEnvVar("LUMORA_TEST_SERVICE_DIR");
    if (dir.empty()) throw std::runtime_error("LUMORA_TEST_SERVICE_DIR is not set");
    std::ifstream in(dir + "/url");
    if (!in) in.open("Z:" + dir + "/url");  // a Unix path seen from wine
    std::string url;
    std::getline(in, url);
    while (!url.empty() && (url.back() == '\r' || url.back() == '\n' || url.back() == ' ')) url.pop_back();
    if (url.empty()) throw std::runtime_error("no service URL in " + dir + "/url");
    return url;
}

// One plain exchange with the control API (not through the client under test).
inline std::string Exchange(const std::string& verb, const std::string& path, const std::string& body,
                            int* status = nullptr) {
    CUrlParts parts;
    if (!SplitUrl(Url() + path, parts)) throw std::runtime_error("bad service URL");
    plat::HttpRequest req;
    req.agent = "lumora-tests";
    req.server = parts.server;
    req.port = parts.port;
    req.object = parts.object;
    req.verb = verb;
    req.headers = body.empty() ? "" : "Content-Type: application/json\r\n";
    req.body = body;
    std::unique_ptr<plat::HttpTransfer> t;
    // A connection kept from an earlier answer may be closed by the server
    // as it is reused: one more try on a new one (control requests may repeat).
    for (int attempt = 0;; ++attempt) {
        try {
            t = plat::NewHttpTransfer();
            if (!t->Open(req) || !t->Send()) throw std::runtime_error("control request failed: " + path);
            break;
        } catch (const plat::HttpError&) {
            if (attempt > 0) throw;
        }
    }
    int st = t->Status();
    if (status) *status = st;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = t->Read(buf, sizeof buf)) > 0) out.append(buf, n);
    if (!status && st != 200) throw std::runtime_error("control request " + path + " answered " + out);
    return out;
}

inline void Reset() {
    Exchange("POST", "/_control/reset", "{}");
}

// Replaces the fault rules (a JSON list of rules).
inline void Faults(const std::string& rules) {
    Exchange("POST", "/_control/faults", rules);
}

// Every request the service received since the last reset, oldest first.
inline Json::Value Log() {
    Json::Value root;
    Json::Reader reader;
    if (!reader.parse(Exchange("GET", "/_control/log", ""), root))
        throw std::runtime_error("log is not JSON");
    return root;
}

// A header of a logged request, looked up without regard to case; "" if absent.
inline std::string Header(const Json::Value& entry, const std::string& name) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (const std::string& key : entry["headers"].getMemberNames())
        if (lower(key) == lower(name)) return entry["headers"][key].asString();
    return std::string();
}
inline bool HasHeader(const Json::Value& entry, const std::string& name) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (const std::string& key : entry["headers"].getMemberNames())
        if (lower(key) == lower(name)) return true;
    return false;
}

// Points the client at the stand-in (before any client is created).
inline void UseForClients() {
    plat::SetEnvVar("LUMORA_SERVICE_URL", Url());
}

}  // namespace standin
