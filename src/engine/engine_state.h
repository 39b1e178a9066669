// What every part of the engine shares: the engine's lock, the settings, the
// feeds with their pools and paging, the id set, the shown-file reports, the
// pacing of the passes, and the client and clock the passes use.
//
// The engine is built in layers, each a class of its own over the one below:
//   CEngineState   this: the shared state and its lock
//   CImageFolder   the image folder: its cache list, ownership and cleaning
//   CRefreshPass   asking the service for pages
//   CDownloadPass  bringing one wallpaper into the cache
//   CLumoraEngine  the host's operations and the worker that runs the passes
// A layer calls only the layers below it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/host_callback.h"
#include "common/records.h"
#include "common/settings.h"
#include "common/thread_annotations.h"
#include "engine/file_list.h"
#include "engine/id_set.h"
#include "engine/logged_states.h"
#include "engine/pacing.h"
#include "engine/pools.h"
#include "platform/clock.h"
#include "service/api.h"

class CEngineState {
  public:
    // settings, closing and hosttype belong to the owner and outlive the engine.
    CEngineState(CLumoraSettings& settings, std::atomic<int32_t>& closing,
                 const std::atomic<int32_t>& hosttype);
    CEngineState(const CEngineState&) = delete;
    CEngineState& operator=(const CEngineState&) = delete;

    int CountEnabledFeeds() const REQUIRES(m_stateLock);

  protected:
    ~CEngineState() = default;
    class Lock;

    // Worker, under the lock: takes a key that SetApiKey stashed while it ran.
    void ApplyPendingApiKey() REQUIRES(m_stateLock);
    // The shared pause of requests that get no answer, on the engine's clock.
    bool NoAnswerPausedLocked() REQUIRES(m_stateLock);
    void NoteNoAnswerLocked(const char* who, const ServiceAnswer& answer) REQUIRES(m_stateLock);
    void NoteAnswerLocked(const char* who) REQUIRES(m_stateLock);

    // The engine's lock guards the members marked so and the settings. A
    // pass holds it while it decides and applies, never across a network
    // request or a sleep; the host's thread takes it inside the engine's
    // operations. m_shownLock guards the shown-file list alone, so a
    // shown-file report never waits for a pass; when both are held, the
    // engine's lock comes first. While the engine's lock is held, log lines
    // and notifications for the host are held back and handed over when it
    // is released: the host is never called with the lock held.
    mutable Mutex m_stateLock;
    Mutex m_shownLock ACQUIRED_AFTER(m_stateLock);

    CLumoraSettings& m_settings GUARDED_BY(m_stateLock);
    std::atomic<int32_t>& m_closing;
    const std::atomic<int32_t>& m_hosttype;

    CFeedArray m_feeds GUARDED_BY(m_stateLock);
    // The pick and the failures of pooled wallpapers.
    CFeedPools m_pools GUARDED_BY(m_stateLock);
    // Ids of cached files and pooled wallpapers: a page's item already known is skipped.
    CIdSet m_ids GUARDED_BY(m_stateLock);
    int m_nextfeed GUARDED_BY(m_stateLock) = 0;
    // Bumped by every host-side change of the feeds or the cache, so a pass
    // that released the lock for a transfer can tell its results are stale.
    uint32_t m_generation GUARDED_BY(m_stateLock) = 0;
    // Set by a download pass that found a feed's pool holding only
    // wallpapers that failed while it has pages left: the loop runs the next
    // refresh pass soon instead of up to 10 s later.
    std::atomic<bool> m_refreshSoon{false};
    // The files the host reported shown, oldest first.
    CFileList m_dispfiles GUARDED_BY(m_shownLock);

    // Liveness state of the passes.
    CPacing m_pacing GUARDED_BY(m_stateLock);
    // States logged once when they begin and once when they end.
    CLoggedStates m_said GUARDED_BY(m_stateLock);

    CLumoraApi m_api;
    CLumoraApi* m_client;  // the client the passes use: &m_api, or a test double
    Clock* m_clock;        // SystemClock() unless a test sets another
    std::string m_pendingApiKey GUARDED_BY(m_stateLock);
    bool m_apiKeyPending GUARDED_BY(m_stateLock) = false;
};

// The engine's lock as its operations take it: while held, the thread's calls
// to the host wait in a HostCallHold and reach the host once it is released
// (also when a pass lets go of it around a transfer or a sleep).
class SCOPED_CAPABILITY CEngineState::Lock {
  public:
    explicit Lock(const CEngineState& engine) ACQUIRE(engine.m_stateLock) : m_mutex(engine.m_stateLock) {
        m_hold.Begin();
        m_mutex.lock();
    }
    ~Lock() RELEASE() {
        if (m_held) m_mutex.unlock();
        m_hold.Release();
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Unlock() RELEASE() {
        m_mutex.unlock();
        m_held = false;
        m_hold.Release();
    }
    void Relock() ACQUIRE() {
        m_hold.Begin();
        m_mutex.lock();
        m_held = true;
    }

  private:
    Mutex& m_mutex;
    HostCallHold m_hold;
    bool m_held = true;
};
