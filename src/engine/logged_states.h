// What the passes last said about a state that is logged once when it begins
// and once when it ends, not on every pass: a feed disabled, done, full or at
// its limit (per feed, for the refresh and the download pass), the cache full.
#pragma once

#include <vector>

class CLoggedStates {
  public:
    enum Topic { kRefreshFeed, kDownloadFeed, kCacheFull, kTopicCount };

    // Whether the state of topic (for feed index; 0 for the cache) becomes
    // state, and records it. Every state starts at 0: nothing said yet.
    bool Changed(Topic topic, int index, int state);
    // A new feed list: what was said of a feed index belongs to the old one.
    void ForgetFeeds();
    // A new run says every state again.
    void ForgetAll();

  private:
    std::vector<int> m_states[kTopicCount];
};
