// The engine object: teardown and the host-thread operations that change settings, feeds or the cache while
// the worker may run. Each takes the engine's lock inside.
#include "engine/engine.h"
#include "engine/feed_store.h"

#include "engine/worker.h"

CLumoraEngine::CLumoraEngine(CLumoraSettings& settings, std::atomic<int32_t>& closing,
                             const std::atomic<int32_t>& hosttype)
    : CDownloadPass(settings, closing, hosttype) {}

CLumoraEngine::~CLumoraEngine() {
    // Normally the worker has ended long before: while it runs it keeps the
    // module loaded, so an unload cannot get here. What is left is a process
    // that exits with a worker still running (natively the exit handlers run
    // while other threads go on; on Windows the thread is already gone and
    // the wait returns at once). Ask it to end rather than pull the data from
    // under it. On the worker thread itself (the worker's own release of the
    // module ran the unload) there is nothing to wait for.
    std::shared_ptr<CLumoraThread> t = m_thread;
    if (t && t->HasThread() && t->IsRunning() && !t->IsWorkerThread()) {
        m_closing.exchange(1);
        t->m_wakeEvent.Set();
        t->WaitForEnd(m_stopTimeoutMs);
    }
    // m_thread lets go of the worker object; if its thread still holds a
    // reference, the object lives until the thread ends.
}

// ---- host's thread ----------------------------------------------------------------
void CLumoraEngine::LoadFeeds() {
    // Read everything through the host first; the lock is held only to apply it.
    const std::vector<CLumoraFeed> loaded = ReadStoredFeeds();
    const int count = static_cast<int>(loaded.size());
    Lock lock(*this);
    // Feeds at indexes that exist keep their run state and pools.
    m_feeds.SetSize(count);
    for (int i = 0; i < count; ++i) CopyFeedConfig(m_feeds[i], loaded[static_cast<size_t>(i)]);
    m_cache.SetNotified(false);
    ++m_generation;
}

void CLumoraEngine::SaveFeeds() {
    // A copy without pools, so the host is called without the lock held.
    std::vector<CLumoraFeed> feeds;
    {
        Lock lock(*this);
        feeds.resize(static_cast<size_t>(m_feeds.GetSize()));
        for (int i = 0; i < m_feeds.GetSize(); ++i) feeds[static_cast<size_t>(i)] = m_feeds[i];
    }
    WriteStoredFeeds(feeds);
}

void CLumoraEngine::ApplySettings(const CLumoraSettings& values) {
    {
        Lock lock(*this);
        m_settings = values;
    }
    SetApiKey(values.ApiKey);
}

CLumoraSettings CLumoraEngine::GetSettings() const {
    Lock lock(*this);
    return m_settings;
}

void CLumoraEngine::SnapshotForDialog(CLumoraSettings* values, CFeedArray* feeds) const {
    Lock lock(*this);
    *values = m_settings;
    feeds->Copy(m_feeds);  // configuration and paging, no pools
}

void CLumoraEngine::ApplyDialog(const CLumoraSettings& values, const CFeedArray& feeds) {
    {
        Lock lock(*this);
        m_settings = values;
    }
    SetApiKey(values.ApiKey);
    // Keeps each feed's pool by index and clears the image folder's cache
    // when the list asks the service for anything different.
    ApplyFeeds(feeds);
}

int CLumoraEngine::Enable(bool set, int value) {
    Lock lock(*this);
    if (set) m_settings.Enabled = value;
    return m_settings.Enabled;
}

void CLumoraEngine::SetApiKey(const std::string& key) {
    Lock lock(*this);
    // A running worker may be in the middle of a request that reads the key
    // without the lock; it takes the new key at the start of its next pass.
    if (m_thread && m_thread->IsRunning()) {
        m_pendingApiKey = key;
        m_apiKeyPending = true;
    } else {
        m_api.m_apikey = key;
        m_pendingApiKey.clear();
        m_apiKeyPending = false;
    }
}

void CLumoraEngine::ApplyFeeds(const CFeedArray& feeds) {
    {
        Lock lock(*this);
        CFeedArray old;
        old.Copy(m_feeds);
        m_feeds.Copy(feeds);
        // The dialog's copies carry the paging position of the moment it
        // opened. A feed that asks for the same thing as before keeps the
        // position the worker (or a cache clean) gave it since: rolling it
        // back would skip or repeat pages for nothing.
        const int common = old.GetSize() < feeds.GetSize() ? old.GetSize() : feeds.GetSize();
        for (int i = 0; i < common; ++i) {
            if (!old[i].IsSameFeed(feeds[i])) continue;
            CLumoraFeed& f = m_feeds[i];
            f.Seed = old[i].Seed;
            f.Page = old[i].Page;
            f.LastPage = old[i].LastPage;
            f.Retries = old[i].Retries;
        }
        m_said.ForgetFeeds();
        if (!FeedsEqual(old, feeds)) {
            // Only a changed list makes results under way stale: with the
            // same list the pools stay by index, so a transfer's file still
            // belongs.
            ++m_generation;
            // The clean starts from the list on disk: records the worker
            // added since its last write must be there, or their files would
            // be left behind.
            SaveFileList(ListSave::kNow);
            ClearCacheLocked(m_settings.ImgFolder);
            ResetPassStateLocked();
        }
    }
    // A feed switched on, or a fresh list, may have work at once.
    std::shared_ptr<CLumoraThread> worker = m_thread;
    if (worker) worker->RequestDownload();
}

ClearCacheResult CLumoraEngine::ClearCache(const std::string& folder) {
    ClearCacheResult result;
    if (folder.empty()) return result;
    {
        // Held for the whole clean: a pass on the worker thread waits, and
        // one that released the lock for a transfer sees the generation
        // change.
        Lock lock(*this);
        result = ClearCacheLocked(folder);
        ResetPassStateLocked();
    }
    std::shared_ptr<CLumoraThread> worker = m_thread;
    if (worker) worker->RequestDownload();
    return result;
}

void CLumoraEngine::OnFileDisplayed(const char* path) {
    if (!path || !*path) return;
    {
        MutexLock guard(m_shownLock);
        CFileList::iterator it = m_dispfiles.Find(path);
        if (it != m_dispfiles.end()) m_dispfiles.RemoveAt(it);
        m_dispfiles.AddTail(path, std::string_view(), -1);
    }
    // Woken after the lock is released, so the worker never waits on it.
    std::shared_ptr<CLumoraThread> worker = m_thread;
    if (worker) worker->RequestDownload();
}
