// The wake event on Windows: an auto-reset event object. WaitForSingleObject
// measures its time-out on the system's tick, not the wall clock (the
// runtime's condition variable takes its deadline from the wall clock, so a
// clock set back would stretch a wait by the jump).
#include <windows.h>

#include "platform/clock.h"

struct WakeEvent::State {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~State() {
        if (event) CloseHandle(event);
    }
};

WakeEvent::WakeEvent() : m_state(new State) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Set() {
    SetEvent(m_state->event);
}

bool WakeEvent::TryTake() {
    return WaitForSingleObject(m_state->event, 0) == WAIT_OBJECT_0;
}

bool WakeEvent::WaitFor(uint32_t ms) {
    return WaitForSingleObject(m_state->event, ms) == WAIT_OBJECT_0;
}
