// The plug-in's log lines as the test host (support/test_host.h) received them.
// A line handed over with a prefix other than the plug-in's is kept with
// "WRONG PREFIX: " in front, so a test comparing lines sees it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/host_callback.h"
#include "support/test_host.h"

class LogCapture {
  public:
    LogCapture() { Install(); }
    ~LogCapture() { Uninstall(); }

    static void Install() { InstallTestHost(); }
    static void Uninstall() { RemoveTestHost(); }

    static std::vector<std::string> Get() { return CurrentTestHost().LogTexts(); }
    static void Clear() { CurrentTestHost().ClearLogs(); }
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
};
