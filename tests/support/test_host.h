// The one host stand-in of the in-process tests: installed as the module's
// callback, it keeps an in-memory settings store and records every call (log
// lines, notifications, setting reads and writes with the record's words as
// the plug-in passed them). Log lines may come from the worker thread, so
// they are recorded under a lock; the rest is used from the test's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/host_callback.h"

struct TestHost {
    struct SettingCall {
        uint32_t code = 0;
        HostWord second = 0;
        SettingRecord rec{};  // words as passed in, before the host answered
        std::string section, key;
        std::string text;          // write: the text of word 4; read: the default text of word 6
        bool bufferClean = false;  // read: first and last byte of the buffer were 0
    };
    // How the host answers a text read.
    enum Answer { kFill, kPointOwn, kNullPointer, kOverfill };

    std::vector<std::pair<std::string, std::string>> logs;  // prefix, text
    std::vector<std::pair<HostWord, HostWord>> notifies;    // sub-code, second
    std::vector<SettingCall> reads, writes;
    std::map<std::string, std::string> store;  // "section/key" -> value text
    Answer answer = kFill;
    std::string ownText;  // what a kPointOwn answer points at
    int32_t logResult = 1;
    // Called (outside the record lock) for every log line before it is kept:
    // lets a test act like a host that does work of its own in its callback.
    std::function<void(const std::string&)> onLog;

    void Set(const std::string& section, const std::string& key, const std::string& value) {
        store[section + "/" + key] = value;
    }
    bool Has(const std::string& section, const std::string& key) const {
        return store.count(section + "/" + key) != 0;
    }
    std::vector<std::string> WrittenKeys() const;  // "section/key" in call order

    // Thread-safe views of what was logged: the texts, with "WRONG PREFIX: "
    // in front of a line handed over with a prefix other than the plug-in's.
    std::vector<std::string> LogTexts();
    std::vector<std::pair<HostWord, HostWord>> Notifies();
    void ClearLogs();
    std::mutex mutex;  // guards logs and notifies while the module may log
};

// Resets the test host and installs it as the module's callback.
TestHost& InstallTestHost();
// The installed test host (valid whether or not it is installed).
TestHost& CurrentTestHost();
// Leaves the module without a callback, as before the host's message 3.
void RemoveTestHost();
PlugInHostCallback TestHostCallback();

// The names the plug-in's own tests use.
typedef TestHost FakeHost;
inline FakeHost& InstallFakeHost() {
    return InstallTestHost();
}
inline void RemoveFakeHost() {
    RemoveTestHost();
}
inline PlugInHostCallback FakeHostCallback() {
    return TestHostCallback();
}
