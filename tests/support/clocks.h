// The clocks tests give the engine in place of the system's: one that stands
// still, and one on simulated time that the real worker loop runs on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/datetime.h"

// Stands still at a chosen local time: nothing waits, nothing passes.
class StillClock : public Clock {
  public:
    double date = MakeOleDate(2026, 12, 9, 15, 30, 45);
    uint32_t TickCount() override { return 1000; }
    void Sleep(uint32_t) override {}
    bool Wait(WakeEvent& ev, uint32_t) override { return ev.TryTake(); }
    double LocalNow() override { return date; }
};

// ---- simulated time ----------------------------------------------------------
// Simulated milliseconds since the start of a test. Waits and sleeps advance
// it; hooks run host actions at given simulated times (during a wait, a hook
// that signals the event ends the wait at that time). Single-threaded: the
// loop runs on the test's own thread.
class SimClock : public Clock {
  public:
    struct WaitRecord {
        uint64_t at;
        uint32_t timeout;
        bool signalled;
    };

    uint32_t tickBase = 0x12345678;
    double dateBase = 46082.5;  // 2026-03-01 12:00:00
    uint64_t now = 0;
    std::vector<WaitRecord> waits;
    std::vector<std::pair<uint64_t, uint32_t>> sleeps;

    uint32_t TickCount() override { return tickBase + static_cast<uint32_t>(now); }
    void Sleep(uint32_t ms) override {
        sleeps.emplace_back(now, ms);
        Advance(now + ms, nullptr);
    }
    bool Wait(WakeEvent& ev, uint32_t timeoutMs) override {
        WaitRecord r{now, timeoutMs, false};
        if (ev.TryTake() || Advance(now + timeoutMs, &ev)) r.signalled = true;
        waits.push_back(r);
        return r.signalled;
    }
    double LocalNow() override { return dateBase + static_cast<double>(now) / 86400000.0; }

    // Runs fn when simulated time reaches t (ms since the start).
    void At(uint64_t t, std::function<void()> fn) { m_hooks.emplace(t, std::move(fn)); }
    // Passes simulated time, e.g. for a transfer; hooks due meanwhile run.
    void Pass(uint32_t ms) { Advance(now + ms, nullptr); }

  private:
    bool Advance(uint64_t end, WakeEvent* ev) {
        while (!m_hooks.empty() && m_hooks.begin()->first <= end) {
            auto hook = *m_hooks.begin();
            m_hooks.erase(m_hooks.begin());
            if (hook.first > now) now = hook.first;
            hook.second();
            if (ev && ev->TryTake()) return true;
        }
        now = end;
        return false;
    }
    std::multimap<uint64_t, std::function<void()>> m_hooks;
};
