// The memory of states said once when they begin and once when they end.
#include <gtest/gtest.h>

#include <vector>

#include "engine/logged_states.h"

namespace {

struct Step {
    CLoggedStates::Topic topic;
    int index;
    int state;
    bool said;  // Changed's answer: the pass logs the line
};
struct Case {
    const char* name;
    std::vector<Step> steps;
};

TEST(LoggedStates, SaysAStateOnceWhenItBeginsAndOnceWhenItEnds) {
    using S = CLoggedStates;
    const Case cases[] = {
        {"nothing said of the start state", {{S::kRefreshFeed, 0, 0, false}}},
        {"a state once, then silence while it lasts",
         {{S::kRefreshFeed, 0, 3, true}, {S::kRefreshFeed, 0, 3, false}, {S::kRefreshFeed, 0, 3, false}}},
        {"its end once",
         {{S::kRefreshFeed, 0, 3, true}, {S::kRefreshFeed, 0, 0, true}, {S::kRefreshFeed, 0, 0, false}}},
        {"one state to another", {{S::kRefreshFeed, 1, 2, true}, {S::kRefreshFeed, 1, 4, true}}},
        {"feeds apart: a feed far down the list too",
         {{S::kRefreshFeed, 0, 1, true}, {S::kRefreshFeed, 7, 1, true}, {S::kRefreshFeed, 0, 1, false}}},
        {"the passes apart: a refresh state says nothing of a download state",
         {{S::kRefreshFeed, 0, 1, true}, {S::kDownloadFeed, 0, 1, true}, {S::kDownloadFeed, 0, 1, false}}},
        {"the cache full, once; room again, once",
         {{S::kCacheFull, 0, 1, true}, {S::kCacheFull, 0, 1, false}, {S::kCacheFull, 0, 0, true}}},
        {"a bad index or topic is never said",
         {{S::kRefreshFeed, -1, 1, false}, {S::kTopicCount, 0, 1, false}}},
    };
    for (const Case& c : cases) {
        CLoggedStates said;
        for (size_t k = 0; k < c.steps.size(); ++k) {
            const Step& s = c.steps[k];
            EXPECT_EQ(said.Changed(s.topic, s.index, s.state), s.said) << c.name << ", step " << k;
        }
    }
}

TEST(LoggedStates, ForgettingSaysStatesAgain) {
    CLoggedStates said;
    said.Changed(CLoggedStates::kRefreshFeed, 2, 1);
    said.Changed(CLoggedStates::kDownloadFeed, 2, 1);
    said.Changed(CLoggedStates::kCacheFull, 0, 1);
    // A new feed list: the feed at index 2 is another feed, its states are
    // said again; the cache is the same cache.
    said.ForgetFeeds();
    EXPECT_TRUE(said.Changed(CLoggedStates::kRefreshFeed, 2, 1));
    EXPECT_TRUE(said.Changed(CLoggedStates::kDownloadFeed, 2, 1));
    EXPECT_FALSE(said.Changed(CLoggedStates::kCacheFull, 0, 1));
    // A new run says everything again.
    said.ForgetAll();
    EXPECT_TRUE(said.Changed(CLoggedStates::kRefreshFeed, 2, 1));
    EXPECT_TRUE(said.Changed(CLoggedStates::kCacheFull, 0, 1));
}

}  // namespace
