// The worker thread: start, the run loop with its timing, the exception
// handling that restarts the loop, and stop.
#include "engine/worker.h"

#include <cstring>
#include <exception>
#include <utility>

#include "engine/engine.h"
#include "common/host_callback.h"

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
            std::lock_guard<std::recursive_mutex> g(m_engine->m_data);
            if (m_engine->m_dirty) {
                m_engine->WriteLocalFileList();
                m_engine->m_dirty = 0;
            }
        } catch (...) {
            LogMessage("Unknown Exception in CLumoraThread::RunComms()");
        }
        m_engine->m_clock->Sleep(1000);
    }
}

bool CLumoraThread::StartThread() {
    m_running.store(true);
    std::shared_ptr<CLumoraThread> self = shared_from_this();
    int error = 0;
    bool started = m_thread.Start(
        [self] {
            self->InitInstance();
            // Under the engine's lock, so SetApiKey sees either a running
            // worker that will take a stashed key, or none.
            std::lock_guard<std::recursive_mutex> g(self->m_engine->m_data);
            self->m_engine->ApplyPendingApiKey();
            self->m_running.store(false);
        },
        &error);
    if (!started) {
        m_running.store(false);
        LogMessage("CLumoraThread::Start(), can't create the thread, error %d", error);
    }
    return started;
}

void CLumoraEngine::Start() {
    std::lock_guard<std::recursive_mutex> g(m_data);
    if (m_feeds.IsEmpty() || m_thread) return;
    LogMessage("CLumoraThread::Start()");
    std::shared_ptr<CLumoraThread> thread = std::make_shared<CLumoraThread>();
    thread->m_downloadRequest.store(0);
    thread->m_engine = this;
    // The thread waits for m_data before it looks at m_thread.
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
    // Never with m_data held: the worker needs it to finish its pass.
    const uint32_t result = thread->WaitForEnd(m_stopTimeoutMs);
    LogMessage("CLumoraThread::Stop(), result: %d", static_cast<int>(result));
}

void CLumoraEngine::RunComms() {
    uint32_t interval = 2000;
    int lastResult = 0;
    uint32_t lastRefreshTick = 0, lastDownloadTick = 0;
    // The first iteration runs both passes whatever the tick count says: a
    // tick count below 10 s (a machine just booted) would otherwise hold them.
    bool refreshed = false, downloaded = false;
    std::shared_ptr<CLumoraThread> thread;
    {
        std::lock_guard<std::recursive_mutex> g(m_data);
        thread = m_thread;
        ApplyPendingApiKey();
        RemoveStaleTempFiles();
        ReadLocalFileList();
    }
    while (m_closing.load() == 0) {
        const bool requested = thread && thread->m_downloadRequest.exchange(0) != 0;
        if (!refreshed || static_cast<uint32_t>(m_clock->TickCount() - lastRefreshTick) >= 10000) {
            Refresh(0);
            lastRefreshTick = m_clock->TickCount();
            refreshed = true;
        }
        if (requested || !downloaded ||
            static_cast<uint32_t>(m_clock->TickCount() - lastDownloadTick) >= interval) {
            lastResult = DownloadImages(&interval);
            lastDownloadTick = m_clock->TickCount();
            downloaded = true;
        }
        uint32_t wait = 1000;
        if (lastResult == 0) {
            std::lock_guard<std::recursive_mutex> g(m_data);
            bool pooled = false;
            for (const CLumoraFeed& f : m_feeds)
                if (f.IsEnabled() && !f.Items.IsEmpty()) {
                    pooled = true;
                    break;
                }
            if (!pooled) wait = 30000;
        }
        if (thread)
            m_clock->Wait(thread->m_wakeEvent, wait);
        else
            m_clock->Sleep(wait);
    }
    std::lock_guard<std::recursive_mutex> g(m_data);
    if (m_dirty) {
        WriteLocalFileList();
        m_dirty = 0;
    }
}
