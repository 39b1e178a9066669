#include "support/test_host.h"

#include <cstdlib>
#include <cstring>

namespace {

TestHost g_host;

std::string Text(HostWord w) {
    const char* s = reinterpret_cast<const char*>(w);
    return s ? s : "";
}

void Read(SettingRecord* r, TestHost::SettingCall& call) {
    auto it = g_host.store.find(call.section + "/" + call.key);
    bool found = it != g_host.store.end();
    if (r->w[SR_TYPE] == SR_TYPE_INT) {
        r->w[SR_VALUE] =
            found ? static_cast<HostWord>(std::strtoll(it->second.c_str(), nullptr, 10)) : r->w[SR_DEFAULT];
        return;
    }
    char* buf = reinterpret_cast<char*>(r->w[SR_VALUE]);
    call.bufferClean = buf && buf[0] == 0 && buf[1023] == 0;
    std::string value = found ? it->second : Text(r->w[SR_DEFAULT]);
    switch (g_host.answer) {
        case TestHost::kFill: {
            size_t n = value.size() < static_cast<size_t>(r->w[SR_CAPACITY])
                           ? value.size()
                           : static_cast<size_t>(r->w[SR_CAPACITY]);
            std::memcpy(buf, value.data(), n);
            buf[n] = 0;
            break;
        }
        case TestHost::kPointOwn:
            g_host.ownText = value;
            r->w[SR_VALUE] = reinterpret_cast<HostWord>(g_host.ownText.c_str());
            break;
        case TestHost::kNullPointer:
            r->w[SR_VALUE] = 0;
            break;
        case TestHost::kOverfill:
            std::memset(buf, 'x', 1024);
            break;  // a careless host: no terminator
    }
}

int32_t LUMORA_STDCALL Callback(uint32_t code, HostWord first, HostWord second) {
    switch (code) {
        case PHC_LOG: {
            std::string text = Text(second);
            if (g_host.onLog) g_host.onLog(text);
            std::lock_guard<std::mutex> g(g_host.mutex);
            g_host.logs.emplace_back(Text(first), text);
            return g_host.logResult;
        }
        case PHC_NOTIFY: {
            std::lock_guard<std::mutex> g(g_host.mutex);
            g_host.notifies.emplace_back(first, second);
            return 0;
        }
        case PHC_READSETTING:
        case PHC_WRITESETTING: {
            SettingRecord* r = reinterpret_cast<SettingRecord*>(first);
            TestHost::SettingCall call;
            call.code = code;
            call.second = second;
            call.rec = *r;
            call.section = Text(r->w[SR_SECTION]);
            call.key = Text(r->w[SR_KEY]);
            if (code == PHC_READSETTING) {
                if (r->w[SR_TYPE] == SR_TYPE_TEXT) call.text = Text(r->w[SR_DEFAULT]);
                Read(r, call);
                g_host.reads.push_back(call);
            } else {
                std::string value = r->w[SR_TYPE] == SR_TYPE_INT
                                        ? std::to_string(static_cast<int32_t>(r->w[SR_VALUE]))
                                        : Text(r->w[SR_VALUE]);
                if (r->w[SR_TYPE] == SR_TYPE_TEXT) call.text = value;
                g_host.store[call.section + "/" + call.key] = value;
                g_host.writes.push_back(call);
            }
            return 0;
        }
        default:
            return 0;
    }
}

}  // namespace

std::vector<std::string> TestHost::WrittenKeys() const {
    std::vector<std::string> keys;
    for (const SettingCall& c : writes) keys.push_back(c.section + "/" + c.key);
    return keys;
}

std::vector<std::string> TestHost::LogTexts() {
    std::lock_guard<std::mutex> g(mutex);
    std::vector<std::string> out;
    for (const auto& l : logs) out.push_back(l.first == kLogPrefix ? l.second : "WRONG PREFIX: " + l.second);
    return out;
}

std::vector<std::pair<HostWord, HostWord>> TestHost::Notifies() {
    std::lock_guard<std::mutex> g(mutex);
    return notifies;
}

void TestHost::ClearLogs() {
    std::lock_guard<std::mutex> g(mutex);
    logs.clear();
    notifies.clear();
}

TestHost& InstallTestHost() {
    HostCallbackSlot().store(nullptr);
    {
        std::lock_guard<std::mutex> g(g_host.mutex);
        g_host.logs.clear();
        g_host.notifies.clear();
    }
    g_host.reads.clear();
    g_host.writes.clear();
    g_host.store.clear();
    g_host.answer = TestHost::kFill;
    g_host.ownText.clear();
    g_host.logResult = 1;
    g_host.onLog = nullptr;
    HostCallbackSlot().store(&Callback);
    return g_host;
}

TestHost& CurrentTestHost() {
    return g_host;
}

void RemoveTestHost() {
    HostCallbackSlot().store(nullptr);
}

PlugInHostCallback TestHostCallback() {
    return &Callback;
}
