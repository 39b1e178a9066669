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

int ReadFeedInt(int i, const char* field, int def) {
    return ReadIntSetting(kSection, FeedKey(i, field).c_str(), def);
}

std::string ReadFeedText(int i, const char* field, const char* def) {
    return ReadStringSetting(kSection, FeedKey(i, field).c_str(), def);
}

void WriteFeedInt(int i, const char* field, int value) {
    WriteIntSetting(kSection, FeedKey(i, field).c_str(), value);
}

void WriteFeedText(int i, const char* field, const std::string& text) {
    WriteStringSetting(kSection, FeedKey(i, field).c_str(), text.c_str());
}

}  // namespace

void CLumoraEngine::LoadFeeds() {
    // A negative count loads as no feeds.
    int count = ReadIntSetting(kSection, "nFeeds", 0);
    if (count < 0) count = 0;
    if (count > kMaxStoredFeeds) count = kMaxStoredFeeds;

    // Read everything through the host first, in the table's order; the
    // engine's lock is held only to apply it.
    std::vector<CLumoraFeed> loaded(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        CLumoraFeed& f = loaded[static_cast<size_t>(i)];
        f.Type = ReadFeedInt(i, "Type", 0);
        f.Flg = ReadFeedInt(i, "Flg", 1);
        f.Query = ReadFeedText(i, "Query", "");
        f.Categories = ReadFeedText(i, "Categories", "111");
        f.Purity = ReadFeedText(i, "Purity", "100");
        f.Sorting = ReadFeedInt(i, "Sorting", 0);
        f.TopRange = ReadFeedInt(i, "TopRange", 3);
        f.Atleast = ReadFeedText(i, "Atleast", "");
        f.Ratios = ReadFeedText(i, "Ratios", "");
        f.Username = ReadFeedText(i, "Username", "");
        f.CollId = ReadFeedText(i, "CollId", "");
        f.CollName = ReadFeedText(i, "CollName", "");
    }

    Lock lock(*this);
    // Feeds at indexes that exist keep their run state and pools.
    m_feeds.SetSize(count);
    for (int i = 0; i < count; ++i) {
        const CLumoraFeed& src = loaded[static_cast<size_t>(i)];
        CLumoraFeed& f = m_feeds[i];
        f.Type = src.Type;
        f.Flg = src.Flg;
        f.Query = src.Query;
        f.Categories = src.Categories;
        f.Purity = src.Purity;
        f.Sorting = src.Sorting;
        f.TopRange = src.TopRange;
        f.Atleast = src.Atleast;
        f.Ratios = src.Ratios;
        f.Username = src.Username;
        f.CollId = src.CollId;
        f.CollName = src.CollName;
    }
    m_notified = 0;
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
        const CLumoraFeed& f = feeds[n];
        int i = static_cast<int>(n);
        WriteFeedInt(i, "Type", f.Type);
        WriteFeedInt(i, "Flg", f.Flg);
        WriteFeedText(i, "Query", f.Query);
        WriteFeedText(i, "Categories", f.Categories);
        WriteFeedText(i, "Purity", f.Purity);
        WriteFeedInt(i, "Sorting", f.Sorting);
        WriteFeedInt(i, "TopRange", f.TopRange);
        WriteFeedText(i, "Atleast", f.Atleast);
        WriteFeedText(i, "Ratios", f.Ratios);
        WriteFeedText(i, "Username", f.Username);
        WriteFeedText(i, "CollId", f.CollId);
        WriteFeedText(i, "CollName", f.CollName);
    }
}
