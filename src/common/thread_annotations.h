// Clang's thread-safety annotations, and a mutex the analysis understands.
// Under clang with -Wthread-safety the compiler checks that data marked
// GUARDED_BY is only touched with its lock held and that functions marked
// REQUIRES are only called so; under other compilers the macros are empty.
#pragma once

#include <mutex>

#if defined(__clang__)
#define LUMORA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LUMORA_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) LUMORA_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY LUMORA_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) LUMORA_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) LUMORA_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) LUMORA_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) LUMORA_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) LUMORA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) LUMORA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) LUMORA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) LUMORA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) LUMORA_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS LUMORA_THREAD_ANNOTATION(no_thread_safety_analysis)

// A plain (non-recursive) mutex that the analysis knows as a capability.
// lock/unlock keep the standard names so std::lock_guard works in tests.
class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }

  private:
    std::mutex m_mutex;
};

// Holds a Mutex for its scope; Unlock/Lock let a pass let go around slow work
// (a transfer, a sleep) and take it back.
class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~MutexLock() RELEASE() {
        if (m_held) m_mutex.unlock();
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;
    void Unlock() RELEASE() {
        m_mutex.unlock();
        m_held = false;
    }
    void Lock() ACQUIRE() {
        m_mutex.lock();
        m_held = true;
    }

  private:
    Mutex& m_mutex;
    bool m_held = true;
};
