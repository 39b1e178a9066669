// A host stand-in for unit tests: installed as theApp().m_callback, it keeps
// an in-memory settings store and records every call with the record's words
// as the plug-in passed them.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/host_callback.h"

struct FakeHost {
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

    void Set(const std::string& section, const std::string& key, const std::string& value) {
        store[section + "/" + key] = value;
    }
    bool Has(const std::string& section, const std::string& key) const {
        return store.count(section + "/" + key) != 0;
    }
    std::vector<std::string> WrittenKeys() const;  // "section/key" in call order
};

// Resets the fake host and installs it as the module's callback.
FakeHost& InstallFakeHost();
// Leaves the module without a callback, as before the host's message 3.
void RemoveFakeHost();
PlugInHostCallback FakeHostCallback();
