// Captures the plug-in's log lines by standing in for the host's callback.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "plugin/app.h"
#include "plugin/host_callback.h"

class LogCapture {
public:
    LogCapture() {
        Lines().clear();
        theApp().m_callback.store(&LogCapture::Callback);
    }
    ~LogCapture() { theApp().m_callback.store(nullptr); }

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

private:
    static int32_t LUMORA_STDCALL Callback(uint32_t code, HostWord first, HostWord second) {
        if (code == PHC_LOG) {
            std::lock_guard<std::mutex> g(Mutex());
            const char* prefix = reinterpret_cast<const char*>(first);
            if (std::string(prefix ? prefix : "") == "[Lumora Plugin]")
                Lines().push_back(reinterpret_cast<const char*>(second));
            else
                Lines().push_back("WRONG PREFIX: " + std::string(reinterpret_cast<const char*>(second)));
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
