// The feed engine: feeds and their pools, the cache lists, the id set, the
// state files, refresh and download passes, and the worker that drives them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/host_callback.h"
#include "common/records.h"
#include "common/settings.h"
#include "common/thread_annotations.h"
#include "platform/clock.h"
#include "common/clear_result.h"
#include "engine/cache_list.h"
#include "engine/file_list.h"
#include "engine/logged_states.h"
#include "engine/pacing.h"
#include "engine/naming.h"
#include "engine/path.h"
#include "engine/pools.h"
#include "engine/state_files.h"
#include "platform/datetime.h"
#include "service/api.h"

// What one download pass did (DownloadImages).
enum DownloadPassResult { kPassIdle = 0, kPassDownloaded = 1, kPassFailed = -1 };

class CLumoraThread;
class CFolderGate;

class CLumoraEngine {
  public:
    // settings, closing and hosttype belong to the owner and outlive the engine.
    CLumoraEngine(CLumoraSettings& settings, std::atomic<int32_t>& closing,
                  const std::atomic<int32_t>& hosttype);
    ~CLumoraEngine();
    CLumoraEngine(const CLumoraEngine&) = delete;
    CLumoraEngine& operator=(const CLumoraEngine&) = delete;

    // ---- limits of the liveness rules --------------------------------------
    // The largest image a transfer accepts (far above any real wallpaper).
    static constexpr uint64_t kMaxImageBytes = 200ull * 1024 * 1024;
    // Failed page requests that said the feed is wrong before it is disabled.
    static constexpr int kRetriesBeforeDisable = 10;

    // ---- shared queries (callers hold the engine's lock) ---------------------
    int CountEnabledFeeds() const REQUIRES(m_stateLock);
    int CountFeedFiles(int feedIndex) const REQUIRES(m_stateLock);
    void RebuildIdMap() REQUIRES(m_stateLock);

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
    // Deletes the cache of folder and restarts all paging.
    // Reports what it did (the Local Cache dialog says it to the user).
    ClearCacheResult ClearCache(const std::string& folder) EXCLUDES(m_stateLock);

    // ---- refresh and pagination (worker) -------------------------------------
    int Refresh(int unused) EXCLUDES(m_stateLock);
    void RotateFeed(int feed) EXCLUDES(m_stateLock);

    // ---- downloads (worker) -------------------------------------------------
    int DownloadImages(uint32_t* interval) EXCLUDES(m_stateLock);
    // One transfer of a pass; *another: it failed for the wallpaper alone,
    // and the pass may try the next one.
    int DownloadOne(uint32_t* interval, bool* another) EXCLUDES(m_stateLock);
    ServiceAnswer DownloadImage(const std::string& url, const std::string& file);

    // ---- state files (folder null or empty text = the image folder) -------
    // The cache list of the image folder: records, list file and journal.
    CCacheList& CacheList() REQUIRES(m_stateLock) { return m_cache; }
    const CCacheList& CacheList() const REQUIRES(m_stateLock) { return m_cache; }
    // Replaces the records with the list of folder (and its paging state).
    void ReadLocalFileList(const char* folder = nullptr) REQUIRES(m_stateLock);
    // The one way the engine writes the whole cache list: when how says one
    // is due (see ListSave), to folder (kAlways alone may name another
    // folder than the image folder). The change flag is cleared only by a
    // due write of the image folder's list that succeeded, kAlways leaves
    // it to the caller. False when a due write failed (the reason is
    // logged).
    bool SaveFileList(ListSave how, const char* folder = nullptr) REQUIRES(m_stateLock);
    void WritePagingState(const char* folder = nullptr) REQUIRES(m_stateLock);
    void ReadPagingState(const char* folder = nullptr) REQUIRES(m_stateLock);
    // Deletes "*.__t" files a crash left in the folder and its sub-folders
    // (one level): interrupted downloads and state-file writes. The worker
    // calls it once at start, before reading the cache list.
    void RemoveStaleTempFiles(const char* folder = nullptr) REQUIRES(m_stateLock);

    // ---- durable cache list (state_files.cpp, cleaning.cpp) ------------------
    // True when the image folder's list is in memory: follows a changed image
    // folder (the new one starts from its own list; bumps m_generation) and
    // reads again a list that could not be read before.
    bool FileListReady() REQUIRES(m_stateLock);
    // Whether this engine may change the image folder (files, list, journal,
    // paging): always when its worker is not running; while it runs, when
    // it holds the folder's lock file (see CFolderHold). False while another
    // engine holds it.
    bool HoldImageFolder() REQUIRES(m_stateLock);
    // The worker's first and last steps: takes the image folder (then
    // removes what a crash left and reads the list), and writes the list and
    // lets the folder go.
    void BeginRun() REQUIRES(m_stateLock);
    void EndRun() REQUIRES(m_stateLock);
    // While the cache is above its limit, deletes the least recently shown
    // file that belongs to no configured feed (records of a version 1 list
    // have none): no feed's limit ever asks such a file to make room.
    // Returns whether one went.
    bool TrimStrayFilesLocked() REQUIRES(m_stateLock);
    // The least recently shown cached file of no configured feed, leaving
    // the most recent reports alone (empty: none). A new image replaces such
    // a file before any feed's own.
    std::string ShownStrayFileLocked(int displayedMinimum) REQUIRES(m_stateLock, m_shownLock);
    // Puts a record in the journal beside the list, flushed to the device,
    // BEFORE the file gets its final name / before it is deleted. False: not
    // recorded (logged), do not go on with the file operation.
    bool RecordFileAdding(const CFileData& record) REQUIRES(m_stateLock);
    bool RecordFileRemoving(const CFileData& record) REQUIRES(m_stateLock);
    // A file announced by RecordFileAdding did not get its name after all.
    void RecordFileGone(const CFileData& record) REQUIRES(m_stateLock);
    // Whether the image folder's drive has room above the free-space floor
    // (logs once when downloads stop and once when they go on again).
    bool DiskHasRoom() REQUIRES(m_stateLock);

    // ---- cleaning, shown files, status --------------------------------------
    // Host's thread (message 14): takes only the shown-file lock.
    void OnFileDisplayed(const char* path) EXCLUDES(m_shownLock);
    void CleanDispFiles(int count) REQUIRES(m_stateLock, m_shownLock);
    void CleanLocalFiles(ClearCacheResult* result = nullptr) REQUIRES(m_stateLock);
    // Deletes the side file and the image; on failure *error gets the platform code.
    int DeleteLocalFile(const std::string& path, int* error = nullptr) REQUIRES(m_stateLock);
    ClearCacheResult ClearCacheLocked(const std::string& folder) REQUIRES(m_stateLock);
    void GetCacheStatus(const std::string& folder, std::vector<std::string>& names,
                        std::vector<std::string>& values);
    // The rows of the list and paging files on disk (GetCacheStatus's first part).
    void AppendListStatus(const std::string& folder, std::vector<std::string>& names,
                          std::vector<std::string>& values);

    // ---- worker -------------------------------------------------------------
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

    // ---- tests: the one seam to the engine's state (engine/engine_seam.h) ----
    class Seam;
    Seam ForTesting();
    // Tests take the locks as a pass or a shown-file report does.
    Mutex& StateLockForTest() RETURN_CAPABILITY(m_stateLock) { return m_stateLock; }
    Mutex& ShownLockForTest() RETURN_CAPABILITY(m_shownLock) { return m_shownLock; }
    const CPacing& PacingForTesting() const REQUIRES(m_stateLock) { return m_pacing; }

  private:
    class Lock;
    friend class CLumoraThread;  // the worker thread is the engine's own

    // ---- data ----------------------------------------------------------------
    // The engine's lock (private, m_stateLock) guards the members marked so
    // and the settings. A pass holds it while it decides and applies, never
    // across a network request or a sleep; the host's thread takes it inside
    // the operations below. m_shownLock guards the shown-file list alone, so
    // a shown-file report never waits for a pass; when both are held, the
    // engine's lock comes first. While the engine's lock is held, log lines
    // and notifications for the host are held back and handed over when it
    // is released: the host is never called with the lock held.
    CFeedArray m_feeds GUARDED_BY(m_stateLock);
    CLumoraApi m_api;
    CLumoraApi* m_client;  // the client the passes use: &m_api, or a test double
    // Set by Start on the host's thread, kept until unload once created.
    std::shared_ptr<CLumoraThread> m_thread;
    CFileList m_dispfiles GUARDED_BY(m_shownLock);
    CIdSet m_ids GUARDED_BY(m_stateLock);
    int m_nextfeed GUARDED_BY(m_stateLock) = 0;
    // Bumped by every host-side change of the feeds or the cache, so a pass
    // that released the lock for a transfer can tell its results are stale.
    uint32_t m_generation GUARDED_BY(m_stateLock) = 0;
    // Set by a download pass that found a feed's pool holding only
    // wallpapers that failed while it has pages left: the loop runs the next
    // refresh pass soon instead of up to 10 s later.
    std::atomic<bool> m_refreshSoon{false};

    CLumoraSettings& m_settings GUARDED_BY(m_stateLock);
    std::atomic<int32_t>& m_closing;
    const std::atomic<int32_t>& m_hosttype;
    Clock* m_clock;  // SystemClock() unless a test sets another
    // How long Stop (and an unload that finds the worker running) waits for
    // the worker to end; tests shorten it.
    uint32_t m_stopTimeoutMs = 60000;

    std::function<void()> m_beforeWorkerEndsForTest;

    // ---- state files (state_files.cpp, cleaning.cpp) -------------------------
    CCacheList m_cache GUARDED_BY(m_stateLock);
    CFolderHold m_hold GUARDED_BY(m_stateLock);
    bool IsImageFolder(const std::string& dir) const REQUIRES(m_stateLock);
    // Reads dir's list into the cache list and brings the ids and the
    // paging state along; false when it could not be read.
    bool ReadListFrom(const std::string& dir) REQUIRES(m_stateLock);
    bool RecordInJournal(char op, const CFileData& record) REQUIRES(m_stateLock);
    struct PassLimits;
    struct Pick;

    // ---- refresh steps ----
    bool FeedWantsPageLocked(int i, int next) REQUIRES(m_stateLock);
    void TakePageLocked(int i, int next, const CLumoraFeed& asked, CItemArray& items, const std::string& seed,
                        int lastPage) REQUIRES(m_stateLock);
    void CountFailedPageLocked(int i, int type, const ServiceAnswer& answer) REQUIRES(m_stateLock);
    void RotateFeedLocked(int feed) REQUIRES(m_stateLock);
    int64_t MaxPhotosOf(const CLumoraFeed& feed) const REQUIRES(m_stateLock);

    // ---- download steps ----
    PassLimits ComputeLimitsLocked() const REQUIRES(m_stateLock);
    bool PickItemLocked(const PassLimits& limits, bool cacheFull, const std::string& globalVictim, Pick* pick)
        REQUIRES(m_stateLock);
    void RotateIfExhaustedLocked(int feed) REQUIRES(m_stateLock);
    std::string GlobalVictimLocked(const PassLimits& limits) REQUIRES(m_stateLock);
    std::string OwnVictimLocked(int feed) REQUIRES(m_stateLock);
    bool RecordDownloadLocked(const Pick& pick, const std::string& path, const std::string& temp)
        REQUIRES(m_stateLock);
    void EvictShownFileLocked(const std::string& path) REQUIRES(m_stateLock);
    int AnswerFailedTransferLocked(const Pick& pick, const ServiceAnswer& answer, uint32_t* interval)
        REQUIRES(m_stateLock);
    void CountFailedAttemptLocked(const Pick& pick) REQUIRES(m_stateLock);
    void AskPageIfPoolLowLocked(int feed) REQUIRES(m_stateLock);
    bool TrimOverLimitLocked() REQUIRES(m_stateLock);
    // The shared pause of requests that get no answer, on the engine's clock.
    bool NoAnswerPausedLocked() REQUIRES(m_stateLock);
    void NoteNoAnswerLocked(const char* who, const ServiceAnswer& answer) REQUIRES(m_stateLock);
    void NoteAnswerLocked(const char* who) REQUIRES(m_stateLock);
    // Whether the image folder is there (logs once when it goes and comes).
    bool ImageFolderPresentLocked(const char* who) REQUIRES(m_stateLock);
    // The most bytes the next image transfer may write.
    uint64_t ImageCapLocked() REQUIRES(m_stateLock);
    // What naming the next image needs: the image folder, the time, the records.
    LocalNaming NamingLocked() const REQUIRES(m_stateLock);
    void NoteCacheFullLocked(bool full, int64_t count, int64_t limit) REQUIRES(m_stateLock);
    void HealDeletedFoldersLocked(bool now = false) REQUIRES(m_stateLock);

    // ---- worker steps ----
    // Worker, under the lock: takes a key that SetApiKey stashed while it ran.
    void ApplyPendingApiKey() REQUIRES(m_stateLock);
    void ResetPassStateLocked() REQUIRES(m_stateLock);

    mutable Mutex m_stateLock;
    Mutex m_shownLock ACQUIRED_AFTER(m_stateLock);

    std::string m_pendingApiKey GUARDED_BY(m_stateLock);
    bool m_apiKeyPending GUARDED_BY(m_stateLock) = false;

    // The pick and the failures of pooled wallpapers.
    CFeedPools m_pools GUARDED_BY(m_stateLock);
    // Liveness state of the passes.
    CPacing m_pacing GUARDED_BY(m_stateLock);
    // The image folder was missing at the last look (logged once).
    bool m_folderAway GUARDED_BY(m_stateLock) = false;
    // States logged once when they begin and once when they end.
    CLoggedStates m_said GUARDED_BY(m_stateLock);
    // When the records' files were last looked at (HealDeletedFoldersLocked);
    // false: not yet in this run.
    bool m_recordFoldersKnown GUARDED_BY(m_stateLock) = false;
    uint32_t m_lastFolderCheck GUARDED_BY(m_stateLock) = 0;
};

// The engine's lock as its operations take it: while held, the thread's calls
// to the host wait in a HostCallHold and reach the host once it is released
// (also when a pass lets go of it around a transfer or a sleep).
class SCOPED_CAPABILITY CLumoraEngine::Lock {
  public:
    explicit Lock(const CLumoraEngine& engine) ACQUIRE(engine.m_stateLock) : m_mutex(engine.m_stateLock) {
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
