// The feed engine as the plug-in holds it: the host's operations and the
// worker that runs the passes, over the layers of engine_state.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/download.h"

class CLumoraThread;

class CLumoraEngine : public CDownloadPass {
  public:
    CLumoraEngine(CLumoraSettings& settings, std::atomic<int32_t>& closing,
                  const std::atomic<int32_t>& hosttype);
    ~CLumoraEngine();

    // ---- host's thread: each takes the engine's lock inside ------------------
    void LoadFeeds() EXCLUDES(m_stateLock);
    void SaveFeeds() EXCLUDES(m_stateLock);
    // Message 7: the settings values read from the host, and the API key.
    void ApplySettings(const CLumoraSettings& values) EXCLUDES(m_stateLock);
    CLumoraSettings GetSettings() const EXCLUDES(m_stateLock);
    // What the configuration dialog starts from: the settings and the feeds
    // (configuration and paging, no pools).
    void SnapshotForDialog(CLumoraSettings* values, CFeedArray* feeds) const EXCLUDES(m_stateLock);
    // The dialog's OK: settings, key and feeds in one step.
    void ApplyDialog(const CLumoraSettings& values, const CFeedArray& feeds) EXCLUDES(m_stateLock);
    // Message 40: sets Enabled when set is true; returns the value after.
    int Enable(bool set, int value) EXCLUDES(m_stateLock);
    // Takes the API key; the worker's client picks it up before its next request.
    void SetApiKey(const std::string& key) EXCLUDES(m_stateLock);
    // Replaces the feed list as the configuration dialog's OK does (pools kept
    // by index) and clears the cache of the image folder when the feeds differ.
    void ApplyFeeds(const CFeedArray& feeds) EXCLUDES(m_stateLock);
    // Deletes the cache of folder and restarts all paging. Reports what it
    // did (the Local Cache dialog says it to the user).
    ClearCacheResult ClearCache(const std::string& folder) EXCLUDES(m_stateLock);
    // Message 14: takes only the shown-file lock.
    void OnFileDisplayed(const char* path) EXCLUDES(m_shownLock);

    // ---- worker ----------------------------------------------------------------
    void Start() EXCLUDES(m_stateLock);
    void Stop() EXCLUDES(m_stateLock);
    void RunComms() EXCLUDES(m_stateLock);
    // After an exception in the loop: writes the records it had not written
    // yet, since the restart reads the list from disk.
    void FlushFileListAfterFailure() EXCLUDES(m_stateLock);
    // The worker's last act: takes a stashed key, then marks it ended. False
    // when a start came after its loop had seen the stop (a stop that timed
    // out): that start found it running and left the work to it, so it runs
    // its loop again instead of ending.
    bool WorkerEnded(std::atomic<bool>& running, const CLumoraThread* self) EXCLUDES(m_stateLock);

    // ---- tests: the one seam to the engine's state (engine/engine_seam.h) ------
    class Seam;
    Seam ForTesting();
    // Tests take the locks as a pass or a shown-file report does.
    Mutex& StateLockForTest() RETURN_CAPABILITY(m_stateLock) { return m_stateLock; }
    Mutex& ShownLockForTest() RETURN_CAPABILITY(m_shownLock) { return m_shownLock; }
    const CPacing& PacingForTesting() const REQUIRES(m_stateLock) { return m_pacing; }

  private:
    friend class CLumoraThread;  // the worker thread is the engine's own
    void ResetPassStateLocked() REQUIRES(m_stateLock);

    // Set by Start on the host's thread, kept until unload once created.
    std::shared_ptr<CLumoraThread> m_thread;
    // How long Stop (and an unload that finds the worker running) waits for
    // the worker to end; tests shorten it.
    uint32_t m_stopTimeoutMs = 60000;
    std::function<void()> m_beforeWorkerEndsForTest;
};
