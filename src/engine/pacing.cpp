// The pacing of the worker's requests (see pacing.h).
#include "engine/pacing.h"

#include <algorithm>

namespace {

// Whether tick `until` is still ahead of now (tick counts wrap).
bool Ahead(uint32_t until, uint32_t now) {
    return static_cast<int32_t>(until - now) > 0;
}

}  // namespace

bool CountsAgainstItem(const ServiceAnswer& answer) {
    switch (answer.kind) {
        case ServiceAnswer::kNotImage:
        case ServiceAnswer::kCutBody:
        case ServiceAnswer::kUnusableUrl:
        case ServiceAnswer::kTooLarge:
            return true;
        case ServiceAnswer::kHttpStatus:
            return answer.status < 500 && answer.status != 408 && answer.status != 429;
        default:
            return false;
    }
}

bool SaysServiceIsBusy(const ServiceAnswer& answer) {
    const int status = answer.status;
    return answer.kind == ServiceAnswer::kHttpStatus && (status == 429 || status == 408 || status >= 500);
}

bool TransferGotNoAnswer(const ServiceAnswer& answer) {
    return (answer.kind == ServiceAnswer::kNotSent || answer.kind == ServiceAnswer::kBroken) &&
           answer.status == 0;
}

bool TransferSaysNothingOfNetwork(const ServiceAnswer& answer) {
    return answer.kind == ServiceAnswer::kStopped || answer.kind == ServiceAnswer::kUnusableUrl;
}

bool PageSaysFeedIsWrong(int type, const ServiceAnswer& answer) {
    if (type != 0 && type != 1) return true;
    if (answer.kind != ServiceAnswer::kHttpStatus) return false;
    const int status = answer.status;
    if (status == 400 || status == 401 || status == 403 || status == 422) return true;
    return type == 1 && (status == 404 || status == 410);
}

bool PageGotNoAnswer(const ServiceAnswer& answer) {
    // An unreadable page came with a status; a failure before any came has none.
    return answer.status == 0 && answer.kind != ServiceAnswer::kDone &&
           answer.kind != ServiceAnswer::kHttpStatus && answer.kind != ServiceAnswer::kUnreadable;
}

uint64_t CPacing::FreeSpaceFloor(uint64_t driveBytes) {
    const uint64_t share = driveBytes / 100 * kFloorPercent;
    return std::min(std::max(share, kFloorMinBytes), kFloorMaxBytes);
}

void CPacing::Reset() {
    m_downloadInterval = kDownloadIntervalMs;
    m_itemFailuresInRow = 0;
    m_cycleGaveNew.clear();
    m_restUntil.clear();
}

// ---- the download interval ------------------------------------------------------------------

uint32_t CPacing::AfterImage(bool nearlyFull) {
    m_itemFailuresInRow = 0;
    return nearlyFull ? kSlowIntervalMs : kDownloadIntervalMs;
}

uint32_t CPacing::AfterItemFailure(uint32_t interval) {
    ++m_itemFailuresInRow;
    if (m_itemFailuresInRow < kItemFailuresBeforeSlowing) return kDownloadIntervalMs;
    return std::min(std::max(interval, kDownloadIntervalMs) + kStretchStepMs, kMaxDownloadIntervalMs);
}

uint32_t CPacing::AfterBusyService(uint32_t interval) {
    return std::min(interval + kStretchStepMs, kMaxDownloadIntervalMs);
}

uint32_t CPacing::AfterTooManyRequests(uint32_t retryAfterMs) {
    if (retryAfterMs > kTooManyRequestsPauseMs) return std::min(retryAfterMs, kMaxRetryAfterMs);
    return kTooManyRequestsPauseMs;
}

// ---- requests that get no answer --------------------------------------------------------------

bool CPacing::NoAnswerPaused(uint32_t now) const {
    return m_noAnswerPauseMs != 0 && Ahead(m_noAnswerUntil, now);
}

uint32_t CPacing::NoAnswerWait(uint32_t now) const {
    const uint32_t left = m_noAnswerUntil - now;
    return std::max(kShortestNoAnswerWaitMs, std::min(left, kLongestNoAnswerPauseMs));
}

bool CPacing::NoteNoAnswer(uint32_t now) {
    const bool begins = m_noAnswerPauseMs == 0;
    if (begins) {
        m_noAnswerPauseMs = kFirstNoAnswerPauseMs;
        m_noAnswerSince = now;
    } else {
        m_noAnswerPauseMs = std::min(m_noAnswerPauseMs * 2, kLongestNoAnswerPauseMs);
    }
    m_noAnswerUntil = now + m_noAnswerPauseMs;
    return begins;
}

bool CPacing::NoteAnswer(uint32_t now, uint32_t* silentMs) {
    if (m_noAnswerPauseMs == 0) return false;
    *silentMs = now - m_noAnswerSince;
    m_noAnswerPauseMs = 0;
    return true;
}

// ---- the service's pause of page requests -----------------------------------------------------

bool CPacing::ServicePaused(uint32_t now) const {
    return m_servicePauseMs != 0 && Ahead(m_servicePauseUntil, now);
}

uint32_t CPacing::NoteServiceUnwell(uint32_t retryAfterMs, uint32_t now) {
    uint32_t pause = m_servicePauseMs == 0 ? kFirstServicePauseMs : m_servicePauseMs * 2;
    pause = std::min(pause, kLongestServicePauseMs);
    if (retryAfterMs > pause) pause = std::min(retryAfterMs, kMaxRetryAfterMs);
    m_servicePauseMs = pause;
    m_servicePauseUntil = now + pause;
    return pause;
}

bool CPacing::NoteServiceWell() {
    const bool wasPaused = m_servicePauseMs != 0;
    m_servicePauseMs = 0;
    return wasPaused;
}

// ---- the API budget ---------------------------------------------------------------------------

bool CPacing::ApiRequestAllowed(uint32_t now) {
    while (!m_apiRequestTicks.empty() &&
           static_cast<uint32_t>(now - m_apiRequestTicks.front()) >= kApiWindowMs)
        m_apiRequestTicks.pop_front();
    return static_cast<int>(m_apiRequestTicks.size()) < kApiRequestsPerMinute;
}

void CPacing::NoteApiRequest(uint32_t now) {
    m_apiRequestTicks.push_back(now);
}

// ---- a feed's rest ----------------------------------------------------------------------------

void CPacing::NoteFeedGaveNew(int feed) {
    if (feed < 0) return;
    const size_t k = static_cast<size_t>(feed);
    if (m_cycleGaveNew.size() <= k) m_cycleGaveNew.resize(k + 1, 1);
    m_cycleGaveNew[k] = 1;
}

bool CPacing::StartFeedCycle(int feed, uint32_t now) {
    if (feed < 0) return false;
    const size_t k = static_cast<size_t>(feed);
    // A feed not seen in this run has not been through an empty cycle.
    if (m_cycleGaveNew.size() <= k) m_cycleGaveNew.resize(k + 1, 1);
    if (m_restUntil.size() <= k) m_restUntil.resize(k + 1, 0);
    // Its last round through the pages found only what is cached.
    if (!m_cycleGaveNew[k] && Ahead(m_restUntil[k], now)) return false;
    m_restUntil[k] = now + kRestAfterEmptyCycleMs;
    m_cycleGaveNew[k] = 0;
    return true;
}

// ---- the free-space floor ---------------------------------------------------------------------

bool CPacing::HasRoom(uint64_t available, uint64_t total, SpaceChange* change) {
    const bool room = available >= FreeSpaceFloor(total);
    *change = SpaceChange::kNone;
    if (room == m_lowSpace) {
        m_lowSpace = !room;
        *change = room ? SpaceChange::kRoomAgain : SpaceChange::kLow;
    }
    return room;
}
