#include <new>
#include <time.h>

#include "platform/clock.h"
#include "platform/datetime.h"

namespace {

class PosixClock : public Clock {
  public:
    uint32_t TickCount() override {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);  // wraps like the system tick count
    }
    void Sleep(uint32_t ms) override {
        timespec ts;
        ts.tv_sec = ms / 1000;
        ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
        while (nanosleep(&ts, &ts) != 0) {
        }
    }
    bool Wait(WakeEvent& ev, uint32_t timeoutMs) override { return ev.WaitFor(timeoutMs); }
    double LocalNow() override { return plat::LocalNowOle(); }
};

}  // namespace

Clock& SystemClock() {
    // Never destroyed: a worker still ending at process exit may ask it. It
    // lives in the module's own storage, not the heap, so unloading the module
    // leaves nothing behind.
    alignas(PosixClock) static unsigned char storage[sizeof(PosixClock)];
    static PosixClock* clock = new (storage) PosixClock;
    return *clock;
}
