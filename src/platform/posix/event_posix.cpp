// The wake event natively: a condition variable whose waits are measured on
// CLOCK_MONOTONIC, so a change of the wall clock does not move their end.
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include "platform/clock.h"

struct WakeEvent::State {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool signaled = false;
    State() {
        pthread_mutex_init(&mutex, nullptr);
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&cond, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~State() {
        pthread_cond_destroy(&cond);
        pthread_mutex_destroy(&mutex);
    }
};

WakeEvent::WakeEvent() : m_state(new State) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Set() {
    pthread_mutex_lock(&m_state->mutex);
    m_state->signaled = true;
    pthread_cond_signal(&m_state->cond);
    pthread_mutex_unlock(&m_state->mutex);
}

bool WakeEvent::TryTake() {
    pthread_mutex_lock(&m_state->mutex);
    const bool s = m_state->signaled;
    m_state->signaled = false;
    pthread_mutex_unlock(&m_state->mutex);
    return s;
}

bool WakeEvent::WaitFor(uint32_t ms) {
    timespec end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += ms / 1000;
    end.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
        end.tv_sec += 1;
        end.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&m_state->mutex);
    while (!m_state->signaled) {
        if (pthread_cond_timedwait(&m_state->cond, &m_state->mutex, &end) == ETIMEDOUT) break;
    }
    const bool s = m_state->signaled;
    m_state->signaled = false;
    pthread_mutex_unlock(&m_state->mutex);
    return s;
}
