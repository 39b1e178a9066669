// The plug-in's log lines and notifications as the test host
// (support/test_host.h) received them: the one capture of every test program.
// A line handed over with a prefix other than the plug-in's is kept with
// "WRONG PREFIX: " in front, so a test comparing lines sees it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/host_callback.h"
#include "support/test_host.h"

struct HostLog {
    static void Install() { InstallTestHost(); }
    static void Uninstall() { RemoveTestHost(); }

    static std::vector<std::string> Lines() { return CurrentTestHost().LogTexts(); }
    static void Clear() { CurrentTestHost().ClearLogs(); }
    // Lines that begin with prefix.
    static std::vector<std::string> LinesStartingWith(const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& l : Lines())
            if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
        return out;
    }
    static bool Has(const std::string& line) { return Count(line) > 0; }
    static int Count(const std::string& line) {
        int n = 0;
        for (const std::string& l : Lines())
            if (l == line) ++n;
        return n;
    }
    static bool AnyContains(const std::string& part) {
        for (const std::string& l : Lines())
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    // The notifications (message, value) in the order they came.
    static std::vector<std::pair<long, long>> Notifies() {
        std::vector<std::pair<long, long>> out;
        for (const auto& n : CurrentTestHost().Notifies())
            out.emplace_back(static_cast<long>(n.first), static_cast<long>(n.second));
        return out;
    }
    // All lines, indented, for a failure message.
    static std::string Dump() {
        std::string s;
        for (const std::string& l : Lines()) s += "  " + l + "\n";
        return s;
    }
};

// The test host installed for a scope: what a test's own capture is.
class LogCapture : public HostLog {
  public:
    LogCapture() { Install(); }
    ~LogCapture() { Uninstall(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
};
