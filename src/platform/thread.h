// A background thread that keeps the plug-in's code loaded while it runs.
//
// The host may unload the module right after a stop that timed out. The
// thread therefore pins the module before it starts and lets go only as its
// very last act (Windows: a module reference released by
// FreeLibraryAndExitThread; natively the module is marked never-unloaded), so
// the code it runs and the objects of the module stay valid until it ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace plat {

enum : uint32_t { kWaitObject0 = 0, kWaitTimeout = 258 };

class Thread {
  public:
    Thread();
    ~Thread();  // never waits; the thread, if any, runs on by itself
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread (normal priority, default stack). The body
    // owns what it captures and releases it before the module is let go.
    // False when the thread could not be created (*error gets the platform code).
    bool Start(std::function<void()> body, int* error = nullptr);
    // Waits up to ms for the thread to end: kWaitObject0 when it has ended
    // (or never started), kWaitTimeout otherwise.
    uint32_t Wait(uint32_t ms);
    bool HasHandle() const;
    // True on the thread this object started.
    bool IsCurrent() const;

    struct State;

  private:
    std::shared_ptr<State> m_state;
};

}  // namespace plat
