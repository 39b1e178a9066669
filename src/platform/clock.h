// The engine's source of time: tick counts, sleeps, waits on the wake event
// and the local date. The worker asks only this, so tests can run the real
// loop on simulated time.
#pragma once

#include <cstdint>
#include <memory>

// Auto-reset event: Set wakes one wait, which consumes the signal. Its waits
// run on the platform's monotonic clock: setting the wall clock back or
// forward does not stretch or cut them (Windows: an event object and
// WaitForSingleObject; natively a condition variable on CLOCK_MONOTONIC).
class WakeEvent {
  public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    void Set();
    // Takes the signal if it is set, without waiting.
    bool TryTake();
    // Waits up to ms real milliseconds; true when signaled.
    bool WaitFor(uint32_t ms);

    struct State;

  private:
    std::unique_ptr<State> m_state;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;  // milliseconds, wraps at 2^32
    virtual void Sleep(uint32_t ms) = 0;
    virtual bool Wait(WakeEvent& ev, uint32_t timeoutMs) = 0;  // true when signaled
    virtual double LocalNow() = 0;                             // OLE automation date, local time
};

// The real clock (system tick count, real sleeps and waits, local time).
Clock& SystemClock();
