// The worker thread: start, the run loop with its timing, the exception
// handling that restarts the loop, and stop.
#include "engine/worker.h"

#include <cstring>
#include <exception>
#include <utility>

#include "common/host_callback.h"
#include "engine/engine.h"

void CLumoraThread::RequestDownload() {
    m_downloadRequest.exchange(1);
    m_wakeEvent.Set();
}

// What counts as a framework exception: everything derived from
// std::exception, which is what our containers (CInvalidArgException), the
// JSON parser (type errors), the allocator (bad_alloc) and the standard
// library raise. Anything else thrown is "unknown".
bool CLumoraThread::InitInstance() {
    for (;;) {
        try {
            m_engine->RunComms();
            return false;
        } catch (const CInvalidArgException& e) {
            char message[256];
            e.GetErrorMessage(message, sizeof message);
            LogMessage("CException (%s) in CLumoraThread::RunComms()", message);
        } catch (const std::exception& e) {
            char message[256];
            std::strncpy(message, e.what(), sizeof message - 1);
            message[sizeof message - 1] = 0;
            LogMessage("CException (%s) in CLumoraThread::RunComms()", message);
        } catch (...) {
            LogMessage("Unknown Exception in CLumoraThread::RunComms()");
        }
        // The loop starts over by reading the cache list from disk: records
        // added since it was last written would be lost, and their files
        // orphaned, unless the list is written first.
        try {
            m_engine->FlushFileListAfterFailure();
        } catch (...) {
            LogMessage("CLumoraThread: cache list not written before the restart (exception in the write)");
        }
        // A stop ends the restarts too, also one that comes during the pause.
        if (m_engine->m_closing.load()) return false;
        m_engine->m_clock->Sleep(1000);
        if (m_engine->m_closing.load()) return false;
    }
}

bool CLumoraThread::StartThread() {
    m_running.store(true);
    std::shared_ptr<CLumoraThread> self = shared_from_this();
    int error = 0;
    bool started = m_thread.Start(
        [self] {
            do {
                self->InitInstance();
                if (self->m_engine->m_beforeWorkerEndsForTest) self->m_engine->m_beforeWorkerEndsForTest();
            } while (!self->m_engine->WorkerEnded(self->m_running, self.get()));
        },
        &error);
    if (!started) {
        m_running.store(false);
        LogMessage("CLumoraThread::Start(), can't create the thread, error %d", error);
    }
    return started;
}

void CLumoraEngine::FlushFileListAfterFailure() {
    Lock lock(*this);
    // What failed is logged by the write; the records stay in the journal.
    if (!SaveFileList(ListSave::kNow)) LogMessage("CLumoraThread: cache list not written before the restart");
}

bool CLumoraEngine::WorkerEnded(std::atomic<bool>& running, const CLumoraThread* self) {
    // Under the engine's lock, so SetApiKey sees either a running worker
    // that will take a stashed key, or none; and Start sees either a worker
    // that will go on, or none.
    Lock lock(*this);
    ApplyPendingApiKey();
    if (m_closing.load() == 0 && m_thread.get() == self && !m_feeds.IsEmpty()) {
        LogMessage("CLumoraThread: started again while ending, goes on");
        return false;
    }
    running.store(false);
    return true;
}

void CLumoraEngine::Start() {
    Lock lock(*this);
    if (m_feeds.IsEmpty()) return;
    // A worker that is still running (a stop that timed out) goes on by
    // itself now that the stop flag is cleared; one that has ended is
    // replaced, so a start after a stop works like the first one.
    if (m_thread && (m_thread->IsRunning() || !m_thread->HasThread())) return;
    LogMessage("CLumoraThread::Start()");
    std::shared_ptr<CLumoraThread> thread = std::make_shared<CLumoraThread>();
    thread->m_downloadRequest.store(0);
    thread->m_engine = this;
    // The thread waits for the engine's lock before it looks at m_thread.
    if (thread->StartThread()) m_thread = std::move(thread);
}

void CLumoraEngine::Stop() {
    std::shared_ptr<CLumoraThread> thread = m_thread;
    if (!thread || !thread->HasThread()) return;
    LogMessage("CLumoraThread Stopping thread");
    m_closing.exchange(1);
    thread->m_wakeEvent.Set();
    // A transfer in progress ends now, not when a slow server next sends.
    m_client->CancelTransfer();
    // Never with the engine's lock held: the worker needs it to finish.
    const uint32_t result = thread->WaitForEnd(m_stopTimeoutMs);
    LogMessage("CLumoraThread::Stop(), result: %d", static_cast<int>(result));
}

void CLumoraEngine::RunComms() {
    uint32_t interval;  // between download passes: what the last one asked for
    int lastResult = kPassIdle;
    uint32_t lastRefreshTick = 0, lastDownloadTick = 0;
    // The first iteration runs both passes whatever the tick count says: a
    // tick count below 10 s (a machine just booted) would otherwise hold them.
    bool refreshed = false, downloaded = false;
    std::shared_ptr<CLumoraThread> thread;
    {
        Lock lock(*this);
        thread = m_thread;
        ApplyPendingApiKey();
        BeginRun();
        ResetPassStateLocked();
        interval = m_pacing.DownloadInterval();
    }
    while (m_closing.load() == 0) {
        const bool requested = thread && thread->m_downloadRequest.exchange(0) != 0;
        // While another host's engine has the image folder, this one asks no
        // pages and fetches nothing; a shown file or the wait's end looks
        // again. Taking it over reads the folder's list anew.
        bool owner;
        {
            Lock lock(*this);
            owner = HoldImageFolder();
            if (owner && m_hold.takeOver) FileListReady();
        }
        if (!owner) {
            refreshed = downloaded = false;  // both passes at once when it is free
            if (thread)
                m_clock->Wait(thread->m_wakeEvent, CPacing::WaitAfterPass(false));
            else
                m_clock->Sleep(CPacing::WaitAfterPass(false));
            continue;
        }
        const uint32_t sinceRefresh = m_clock->TickCount() - lastRefreshTick;
        if (!refreshed || sinceRefresh >= 10000 || (sinceRefresh >= 2000 && m_refreshSoon.exchange(false))) {
            Refresh(0);
            lastRefreshTick = m_clock->TickCount();
            refreshed = true;
        }
        // A request (a shown file) runs a pass at once, unless the last pass
        // failed: the pause that asked for (a 429's Retry-After, a failing
        // service) holds for requests too, or a host showing a file a second
        // would try the service once a second.
        const bool due = static_cast<uint32_t>(m_clock->TickCount() - lastDownloadTick) >= interval;
        if (!downloaded || due || (requested && lastResult != kPassFailed)) {
            lastResult = DownloadImages(&interval);
            lastDownloadTick = m_clock->TickCount();
            downloaded = true;
        }
        bool trimmed;
        {
            // Files of no feed (an older list's) leave once shown while the
            // cache is above its limit, then shown files of a feed above
            // its own; the next loop soon looks for another.
            Lock lock(*this);
            m_pacing.SetDownloadInterval(interval);
            trimmed = FileListReady() && (TrimStrayFilesLocked() || TrimOverLimitLocked());
        }
        const uint32_t wait = trimmed ? 1000 : CPacing::WaitAfterPass(lastResult != kPassIdle);
        if (thread)
            m_clock->Wait(thread->m_wakeEvent, wait);
        else
            m_clock->Sleep(wait);
    }
    Lock lock(*this);
    EndRun();
}

void CLumoraEngine::ResetPassStateLocked() {
    m_pools.ForgetAll();
    m_pacing.Reset();
    m_said.ForgetAll();
    ForgetFolderChecksLocked();
}
