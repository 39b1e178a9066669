// The worker object: the background thread that runs the refresh and
// download passes, with the request flag and wake event the host's thread
// uses to ask for a download pass at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/thread.h"

class CLumoraEngine;

class CLumoraThread : public std::enable_shared_from_this<CLumoraThread> {
  public:
    CLumoraThread() = default;
    ~CLumoraThread() = default;
    CLumoraThread(const CLumoraThread&) = delete;
    CLumoraThread& operator=(const CLumoraThread&) = delete;

    std::atomic<int32_t> m_downloadRequest{0};  // a download pass is wanted now
    CLumoraEngine* m_engine = nullptr;
    WakeEvent m_wakeEvent;  // auto-reset; ends the loop's wait early

    // Host's thread: asks for a download pass now and wakes the worker.
    void RequestDownload();

    // The thread's body: runs the loop, and after an exception logs it, waits
    // 1 s and runs the loop again from its start, unless a stop came.
    bool InitInstance();

    // Creates and starts the thread. The thread holds a reference to this
    // object until it ends, so the object outlives its thread even when its
    // owner lets go of it first. False (and logged) when it could not start.
    bool StartThread();
    // Waits up to ms for the thread to end: 0 when it ended, 258 on time-out.
    uint32_t WaitForEnd(uint32_t ms) { return m_thread.Wait(ms); }
    bool HasThread() const { return m_thread.HasHandle(); }
    bool IsWorkerThread() const { return m_thread.IsCurrent(); }
    // True from the start of the body until the loop has ended for good.
    bool IsRunning() const { return m_running.load(); }

  private:
    plat::Thread m_thread;
    std::atomic<bool> m_running{false};
};
