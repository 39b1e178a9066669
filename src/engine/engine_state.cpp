// The state the engine's layers share: its construction, and the steps all
// passes take on it.
#include "engine/engine_state.h"

CEngineState::CEngineState(CLumoraSettings& settings, std::atomic<int32_t>& closing,
                           const std::atomic<int32_t>& hosttype)
    : m_settings(settings),
      m_closing(closing),
      m_hosttype(hosttype),
      m_client(&m_api),
      m_clock(&SystemClock()) {
    m_api.m_stop = &m_closing;
    Lock lock(*this);
    m_ids.reserve(11923);
}

int CEngineState::CountEnabledFeeds() const {
    int n = 0;
    for (const CLumoraFeed& f : m_feeds)
        if (f.IsEnabled()) ++n;
    return n;
}

void CEngineState::ApplyPendingApiKey() {
    if (!m_apiKeyPending) return;
    m_api.m_apikey = m_pendingApiKey;
    m_pendingApiKey.clear();
    m_apiKeyPending = false;
}

// ---- requests that get no answer ----------------------------------------------------------

bool CEngineState::NoAnswerPausedLocked() {
    return m_pacing.NoAnswerPaused(m_clock->TickCount());
}

// Every request that gets no answer doubles the pause of all of them, up to
// the longest; the state is logged when it begins, not at every request.
void CEngineState::NoteNoAnswerLocked(const char* who, const ServiceAnswer& answer) {
    if (m_pacing.NoteNoAnswer(m_clock->TickCount()))
        LogMessage("%s: no answer (%d): no network or no connection; requests paused, at most %u s at a time",
                   who, answer.Code(), CPacing::kLongestNoAnswerPauseMs / 1000);
}

void CEngineState::NoteAnswerLocked(const char* who) {
    uint32_t silentMs = 0;
    if (m_pacing.NoteAnswer(m_clock->TickCount(), &silentMs))
        LogMessage("%s: answers come again after %u s without", who, static_cast<unsigned>(silentMs / 1000));
}
