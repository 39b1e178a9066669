#include "common/settings_store.h"

#include <cstring>

#include "common/host_callback.h"

const char kSection[] = "LumoraPlugIn";
const char kApiKeyRegPath[] = "Software\\Orvanix\\LumoraPlugin";
const char kApiKeyValue[] = "ApiKey";

namespace {

constexpr size_t kTextBuffer = 1024;

// A zeroed record with the words every settings call carries.
SettingRecord MakeRecord(const char* section, const char* key, int type) {
    SettingRecord r;
    std::memset(&r, 0, sizeof r);
    r.w[SR_SECTION] = reinterpret_cast<HostWord>(section);
    r.w[SR_KEY] = reinterpret_cast<HostWord>(key);
    r.w[SR_TYPE] = type;
    return r;
}

}  // namespace

int ReadIntSetting(const char* section, const char* key, int def) {
    PlugInHostCallback callback = HostCallbackSlot().load();
    if (!callback) return def;
    SettingRecord r = MakeRecord(section, key, SR_TYPE_INT);
    r.w[SR_DEFAULT] = def;
    callback(PHC_READSETTING, reinterpret_cast<HostWord>(&r), 0);
    return static_cast<int>(static_cast<int32_t>(r.w[SR_VALUE]));
}

std::string ReadStringSetting(const char* section, const char* key, const char* def) {
    if (!def) def = "";
    PlugInHostCallback callback = HostCallbackSlot().load();
    if (!callback) return def;
    char buf[kTextBuffer];
    std::memset(buf, 0, sizeof buf);
    SettingRecord r = MakeRecord(section, key, SR_TYPE_TEXT);
    r.w[SR_VALUE] = reinterpret_cast<HostWord>(buf);
    r.w[SR_DEFAULT] = reinterpret_cast<HostWord>(def);
    r.w[SR_CAPACITY] = kTextBuffer - 1;
    callback(PHC_READSETTING, reinterpret_cast<HostWord>(&r), 0);
    const char* result = reinterpret_cast<const char*>(r.w[SR_VALUE]);
    if (!result) return std::string();
    // In our own buffer the text is bounded by it even if the host wrote its
    // last byte; a host's own text is copied whole.
    if (result == buf) return std::string(buf, strnlen(buf, sizeof buf - 1));
    return std::string(result);
}

void WriteIntSetting(const char* section, const char* key, int value) {
    PlugInHostCallback callback = HostCallbackSlot().load();
    if (!callback) return;
    SettingRecord r = MakeRecord(section, key, SR_TYPE_INT);
    r.w[SR_VALUE] = value;
    callback(PHC_WRITESETTING, reinterpret_cast<HostWord>(&r), 0);
}

void WriteStringSetting(const char* section, const char* key, const char* text) {
    PlugInHostCallback callback = HostCallbackSlot().load();
    if (!callback) return;
    SettingRecord r = MakeRecord(section, key, SR_TYPE_TEXT);
    r.w[SR_VALUE] = reinterpret_cast<HostWord>(text ? text : "");
    callback(PHC_WRITESETTING, reinterpret_cast<HostWord>(&r), 0);
}
