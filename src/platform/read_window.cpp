#include "platform/read_window.h"

#include <cstring>

namespace plat {

void ReadWindow::AfterQueried(uint32_t available, uint64_t queryUs) {
    if (m_size != 0) return;
    if (available == 0 || queryUs > kWaitingUs) {
        m_streak = 0;  // had to wait for data: the server sets the pace
        return;
    }
    if (++m_streak >= kWaitingStreak) {
        m_size = kFirst;
        m_streak = 0;
    }
}

void ReadWindow::AfterBlind(uint32_t wanted, uint32_t got, uint64_t readUs) {
    if (m_size == 0) return;
    if (readUs > kSlowUs) {
        // The data no longer keeps up: the next read might block for as long
        // as the server takes to send a whole window.
        m_size = 0;
        m_streak = 0;
        return;
    }
    // A short read is the end of the body, not a measure of the pace.
    if (got == wanted && readUs <= kQuickUs && m_size < kMax) m_size = m_size * 2 > kMax ? kMax : m_size * 2;
}

ReadMode ReadModeFromName(const char* name) {
    if (name && std::strcmp(name, "available") == 0) return ReadMode::kAvailable;
    if (name && std::strcmp(name, "block") == 0) return ReadMode::kBlock;
    return ReadMode::kAdaptive;
}

}  // namespace plat
