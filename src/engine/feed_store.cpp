// The feed list in the host's settings store: one key per feed field.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine.h"
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

void CLumoraEngine::LoadFeeds() {
    // A negative count loads as no feeds.
    int count = ReadIntSetting(kSection, "nFeeds", 0);
    if (count < 0) count = 0;
    if (count > kMaxStoredFeeds) count = kMaxStoredFeeds;

    // Read everything through the host first, in the table's order; the
    // engine's lock is held only to apply it.
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

    Lock lock(*this);
    // Feeds at indexes that exist keep their run state and pools.
    m_feeds.SetSize(count);
    for (int i = 0; i < count; ++i) CopyFeedConfig(m_feeds[i], loaded[static_cast<size_t>(i)]);
    m_cache.SetNotified(false);
    ++m_generation;
}

void CLumoraEngine::SaveFeeds() {
    // A copy without pools, so the host is called without the lock held.
    std::vector<CLumoraFeed> feeds;
    {
        Lock lock(*this);
        feeds.resize(static_cast<size_t>(m_feeds.GetSize()));
        for (int i = 0; i < m_feeds.GetSize(); ++i) feeds[static_cast<size_t>(i)] = m_feeds[i];
    }
    WriteIntSetting(kSection, "nFeeds", static_cast<int>(feeds.size()));
    for (size_t n = 0; n < feeds.size(); ++n) {
        for (const CFeedField& f : kFeedFields) {
            const std::string key = FeedKey(static_cast<int>(n), f.key);
            if (f.number) WriteIntSetting(kSection, key.c_str(), feeds[n].*f.number);
            if (f.text) WriteStringSetting(kSection, key.c_str(), (feeds[n].*f.text).c_str());
        }
    }
}
