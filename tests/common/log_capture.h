// Captures the plug-in's log lines by standing in for the host's callback.
// A line handed over with a prefix other than the plug-in's is kept with
// "WRONG PREFIX: " in front, so a test comparing lines sees it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/host_callback.h"

class LogCapture {
public:
    LogCapture() { Install(); }
    ~LogCapture() { Uninstall(); }

    static void Install() {
        Clear();
        HostCallbackSlot().store(&LogCapture::Callback);
    }
    static void Uninstall() { HostCallbackSlot().store(nullptr); }

    static std::vector<std::string> Get() {
        std::lock_guard<std::mutex> g(Mutex());
        return Lines();
    }
    static void Clear() {
        std::lock_guard<std::mutex> g(Mutex());
        Lines().clear();
    }
    // Lines that begin with prefix.
    static std::vector<std::string> Starting(const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& l : Get())
            if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
        return out;
    }
    static bool Has(const std::string& line) {
        for (const std::string& l : Get())
            if (l == line) return true;
        return false;
    }
    static bool AnyContains(const std::string& part) {
        for (const std::string& l : Get())
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    // All lines, indented, for a failure message.
    static std::string Dump() {
        std::string s;
        for (const std::string& l : Get()) s += "  " + l + "\n";
        return s;
    }

private:
    static int32_t LUMORA_STDCALL Callback(uint32_t code, HostWord first, HostWord second) {
        if (code == PHC_LOG && second) {
            std::lock_guard<std::mutex> g(Mutex());
            const char* prefix = reinterpret_cast<const char*>(first);
            std::string text = reinterpret_cast<const char*>(second);
            Lines().push_back(std::string(prefix ? prefix : "") == kLogPrefix ? text : "WRONG PREFIX: " + text);
        }
        return 0;
    }
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static std::mutex& Mutex() {
        static std::mutex m;
        return m;
    }
};
