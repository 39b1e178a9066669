#include "plugin/fake_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/env.h"
#include "plugin/app.h"

namespace {

// Run by hand, the native registry stand-in would otherwise use the user's
// own file; CTest names one for the test, and this names one when it did not.
class RegistryFileEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (plat::GetEnvVar("LUMORA_REGISTRY_FILE").empty())
            plat::SetEnvVar(
                "LUMORA_REGISTRY_FILE",
                (std::filesystem::temp_directory_path() / "lumora_plugin_tests_registry.ini").string());
    }
};
::testing::Environment* const g_registryEnv =
    ::testing::AddGlobalTestEnvironment(new RegistryFileEnvironment);

FakeHost g_host;

std::string Text(HostWord w) {
    const char* s = reinterpret_cast<const char*>(w);
    return s ? s : "";
}

void Read(SettingRecord* r, FakeHost::SettingCall& call) {
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
        case FakeHost::kFill: {
            size_t n = value.size() < static_cast<size_t>(r->w[SR_CAPACITY])
                           ? value.size()
                           : static_cast<size_t>(r->w[SR_CAPACITY]);
            std::memcpy(buf, value.data(), n);
            buf[n] = 0;
            break;
        }
        case FakeHost::kPointOwn:
            g_host.ownText = value;
            r->w[SR_VALUE] = reinterpret_cast<HostWord>(g_host.ownText.c_str());
            break;
        case FakeHost::kNullPointer:
            r->w[SR_VALUE] = 0;
            break;
        case FakeHost::kOverfill:
            std::memset(buf, 'x', 1024);
            break;  // a careless host: no terminator
    }
}

int32_t LUMORA_STDCALL Callback(uint32_t code, HostWord first, HostWord second) {
    switch (code) {
        case PHC_LOG:
            g_host.logs.emplace_back(Text(first), Text(second));
            return g_host.logResult;
        case PHC_NOTIFY:
            g_host.notifies.emplace_back(first, second);
            return 0;
        case PHC_READSETTING:
        case PHC_WRITESETTING: {
            SettingRecord* r = reinterpret_cast<SettingRecord*>(first);
            FakeHost::SettingCall call;
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

std::vector<std::string> FakeHost::WrittenKeys() const {
    std::vector<std::string> keys;
    for (const SettingCall& c : writes) keys.push_back(c.section + "/" + c.key);
    return keys;
}

FakeHost& InstallFakeHost() {
    g_host = FakeHost();
    theApp().m_callback = &Callback;
    return g_host;
}

void RemoveFakeHost() {
    theApp().m_callback = nullptr;
}

PlugInHostCallback FakeHostCallback() {
    return &Callback;
}
