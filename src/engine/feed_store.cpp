// The feed list in the host's settings store: one key per feed field.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/feed_store.h"

#include "common/settings_store.h"

namespace {

// More feeds than anyone configures; bounds the work a damaged "nFeeds"
// could cause (millions of host calls, or an allocation failure).
constexpr int kMaxStoredFeeds = 10000;

std::string FeedKey(int index, const char* field) {
    char key[64];
    snprintf(key, sizeof key, "Feed%d_%s", index, field);
    return key;
}

}  // namespace

std::vector<CLumoraFeed> ReadStoredFeeds() {
    // A negative count loads as no feeds.
    int count = ReadIntSetting(kSection, "nFeeds", 0);
    if (count < 0) count = 0;
    if (count > kMaxStoredFeeds) count = kMaxStoredFeeds;
    const CLumoraFeed defaults;
    std::vector<CLumoraFeed> loaded(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        CLumoraFeed& feed = loaded[static_cast<size_t>(i)];
        for (const CFeedField& f : kFeedFields) {
            const std::string key = FeedKey(i, f.key);
            if (f.number) feed.*f.number = ReadIntSetting(kSection, key.c_str(), defaults.*f.number);
            if (f.text) feed.*f.text = ReadStringSetting(kSection, key.c_str(), (defaults.*f.text).c_str());
        }
    }
    return loaded;
}

void WriteStoredFeeds(const std::vector<CLumoraFeed>& feeds) {
    WriteIntSetting(kSection, "nFeeds", static_cast<int>(feeds.size()));
    for (size_t n = 0; n < feeds.size(); ++n) {
        for (const CFeedField& f : kFeedFields) {
            const std::string key = FeedKey(static_cast<int>(n), f.key);
            if (f.number) WriteIntSetting(kSection, key.c_str(), feeds[n].*f.number);
            if (f.text) WriteStringSetting(kSection, key.c_str(), (feeds[n].*f.text).c_str());
        }
    }
}
