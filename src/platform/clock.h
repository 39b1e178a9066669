// The engine's source of time: tick counts, sleeps, waits on the wake event
// and the local date. The worker asks only this, so tests can run the real
// loop on simulated time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// Auto-reset event: Set wakes one wait, which consumes the signal.
class WakeEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> g(m_mutex);
            m_signaled = true;
        }
        m_cv.notify_all();
    }
    // Takes the signal if it is set, without waiting.
    bool TryTake() {
        std::lock_guard<std::mutex> g(m_mutex);
        bool s = m_signaled;
        m_signaled = false;
        return s;
    }
    // Waits up to ms real milliseconds; true when signaled.
    bool WaitFor(uint32_t ms) {
        std::unique_lock<std::mutex> l(m_mutex);
        bool s = m_cv.wait_for(l, std::chrono::milliseconds(ms), [this] { return m_signaled; });
        m_signaled = false;
        return s;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signaled = false;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;                        // milliseconds, wraps at 2^32
    virtual void Sleep(uint32_t ms) = 0;
    virtual bool Wait(WakeEvent& ev, uint32_t timeoutMs) = 0;  // true when signaled
    virtual double LocalNow() = 0;                           // OLE automation date, local time
};

// The real clock (system tick count, real sleeps and waits, local time).
Clock& SystemClock();
