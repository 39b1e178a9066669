#include "engine/logged_states.h"

#include <cstddef>

bool CLoggedStates::Changed(Topic topic, int index, int state) {
    if (index < 0 || topic < 0 || topic >= kTopicCount) return false;
    std::vector<int>& states = m_states[topic];
    const size_t i = static_cast<size_t>(index);
    if (states.size() <= i) states.resize(i + 1, 0);
    if (states[i] == state) return false;
    states[i] = state;
    return true;
}

void CLoggedStates::ForgetFeeds() {
    m_states[kRefreshFeed].clear();
    m_states[kDownloadFeed].clear();
}

void CLoggedStates::ForgetAll() {
    for (std::vector<int>& states : m_states) states.clear();
}
