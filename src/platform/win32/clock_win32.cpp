#include <new>
#include <windows.h>

#include "platform/clock.h"
#include "platform/datetime.h"

namespace {

class Win32Clock : public Clock {
  public:
    uint32_t TickCount() override { return GetTickCount(); }
    void Sleep(uint32_t ms) override { ::Sleep(ms); }
    bool Wait(WakeEvent& ev, uint32_t timeoutMs) override { return ev.WaitFor(timeoutMs); }
    double LocalNow() override { return plat::LocalNowOle(); }
};

}  // namespace

Clock& SystemClock() {
    // Never destroyed: a worker still ending at process exit may ask it. It
    // lives in the module's own storage, not the heap, so unloading the module
    // leaves nothing behind.
    alignas(Win32Clock) static unsigned char storage[sizeof(Win32Clock)];
    static Win32Clock* clock = new (storage) Win32Clock;
    return *clock;
}
