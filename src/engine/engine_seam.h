// The one door of tests, simulations, benchmarks and fuzzers into the engine's
// state: engine->ForTesting().Feeds() and the like. Product code never
// includes it. Without the lock analysis: a caller reads or sets the state
// while no worker runs, or holds StateLockForTest() / ShownLockForTest() itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "engine/engine.h"

class CLumoraEngine::Seam {
  public:
    explicit Seam(CLumoraEngine& engine) : e(engine) {}

    CFeedArray& Feeds() NO_THREAD_SAFETY_ANALYSIS { return e.m_feeds; }
    CFileList& ShownFiles() NO_THREAD_SAFETY_ANALYSIS { return e.m_dispfiles; }
    CIdSet& Ids() NO_THREAD_SAFETY_ANALYSIS { return e.m_ids; }
    CCacheList& CacheList() NO_THREAD_SAFETY_ANALYSIS { return e.m_cache; }
    CLumoraSettings& Settings() NO_THREAD_SAFETY_ANALYSIS { return e.m_settings; }
    int NextFeed() const NO_THREAD_SAFETY_ANALYSIS { return e.m_nextfeed; }
    uint32_t Generation() const NO_THREAD_SAFETY_ANALYSIS { return e.m_generation; }
    std::atomic<bool>& RefreshSoon() { return e.m_refreshSoon; }
    std::shared_ptr<CLumoraThread>& Thread() { return e.m_thread; }
    // What the passes use in place of the service client and the system clock
    // (null: the engine's own again).
    void UseClient(CLumoraApi* client) { e.m_client = client ? client : &e.m_api; }
    void UseClock(::Clock* clock) { e.m_clock = clock ? clock : &SystemClock(); }
    CLumoraApi& Api() { return e.m_api; }
    CLumoraApi* Client() const { return e.m_client; }
    ::Clock* Clock() const { return e.m_clock; }
    void SetStopTimeout(uint32_t ms) { e.m_stopTimeoutMs = ms; }
    // Runs on the worker after its loop has ended, before it marks itself
    // ended (the moment a start can find it still running).
    void BeforeWorkerEnds(std::function<void()> fn) { e.m_beforeWorkerEndsForTest = std::move(fn); }
    // What the download pass's naming of an image sees now.
    LocalNaming Naming() NO_THREAD_SAFETY_ANALYSIS { return e.NamingLocked(); }
    // The picks follow a seeded sequence (the product's source is seeded
    // from the system's generator).
    void SeedPicks(uint64_t seed) {
        CLumoraEngine::Lock lock(e);
        e.m_pools.Source().Seed(seed);
    }

  private:
    CLumoraEngine& e;
};

inline CLumoraEngine::Seam CLumoraEngine::ForTesting() {
    return Seam(*this);
}
