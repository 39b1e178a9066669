#include "platform/thread.h"

#include <dlfcn.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plat {

struct Thread::State {
    std::mutex mutex;
    std::condition_variable cv;
    bool started = false;
    bool done = false;
    pthread_t id{};
    std::function<void()> body;
};

namespace {

// Marks the module that holds this code as never to be unloaded, so a
// dlclose by the host while the thread runs leaves the code mapped. In a
// program linked statically with the core there is nothing to pin.
void PinModule() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&PinModule), &info) || !info.dli_fname) return;
    void* h = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    if (h) dlclose(h);  // the no-delete mark stays
}

void* ThreadMain(void* arg) {
    // The thread holds its own reference to the shared state: the Thread
    // object may be gone by the time the body ends.
    std::shared_ptr<Thread::State>* ref = static_cast<std::shared_ptr<Thread::State>*>(arg);
    std::shared_ptr<Thread::State> state = *ref;
    delete ref;
    {
        std::function<void()> body;
        {
            std::lock_guard<std::mutex> g(state->mutex);
            body.swap(state->body);
        }
        body();
        // body (and what it captured) is released here, before "done".
    }
    {
        std::lock_guard<std::mutex> g(state->mutex);
        state->done = true;
    }
    state->cv.notify_all();
    return nullptr;
}

}  // namespace

Thread::Thread() : m_state(std::make_shared<State>()) {}

Thread::~Thread() = default;

bool Thread::Start(std::function<void()> body, int* error) {
    PinModule();
    {
        std::lock_guard<std::mutex> g(m_state->mutex);
        if (m_state->started) return false;
        m_state->body = std::move(body);
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    auto* ref = new std::shared_ptr<State>(m_state);
    pthread_t id;
    int rc = pthread_create(&id, &attr, ThreadMain, ref);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete ref;
        std::lock_guard<std::mutex> g(m_state->mutex);
        m_state->body = nullptr;
        if (error) *error = rc;
        return false;
    }
    std::lock_guard<std::mutex> g(m_state->mutex);
    m_state->id = id;
    m_state->started = true;
    return true;
}

uint32_t Thread::Wait(uint32_t ms) {
    std::unique_lock<std::mutex> l(m_state->mutex);
    if (!m_state->started) return kWaitObject0;
    bool ended = m_state->cv.wait_for(l, std::chrono::milliseconds(ms), [this] { return m_state->done; });
    return ended ? kWaitObject0 : kWaitTimeout;
}

bool Thread::HasHandle() const {
    std::lock_guard<std::mutex> g(m_state->mutex);
    return m_state->started;
}

bool Thread::IsCurrent() const {
    std::lock_guard<std::mutex> g(m_state->mutex);
    return m_state->started && pthread_equal(m_state->id, pthread_self());
}

}  // namespace plat
