#include "platform/thread.h"

#include <windows.h>

namespace plat {

struct Thread::State {
    HANDLE handle = nullptr;
    DWORD id = 0;
    ~State() {
        if (handle) CloseHandle(handle);
    }
};

namespace {

struct StartBlock {
    std::function<void()> body;
    HMODULE pin;
};

DWORD WINAPI ThreadMain(LPVOID arg) {
    StartBlock* block = static_cast<StartBlock*>(arg);
    HMODULE pin = block->pin;
    block->body();
    // Release everything the body captured while the code is still ours.
    delete block;
    // The module reference taken at start goes last: if it was the final one,
    // the module unloads here and this thread never returns into its code.
    if (pin) FreeLibraryAndExitThread(pin, 0);
    return 0;
}

}  // namespace

Thread::Thread() : m_state(std::make_shared<State>()) {}

Thread::~Thread() = default;

bool Thread::Start(std::function<void()> body, int* error) {
    if (m_state->handle) return false;
    // Pin before the thread exists, so an unload between the creation and the
    // thread's first instruction cannot pull the code away.
    HMODULE pin = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ThreadMain),
                            &pin))
        pin = nullptr;
    StartBlock* block = new StartBlock{std::move(body), pin};
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, ThreadMain, block, 0, &id);
    if (!h) {
        DWORD e = GetLastError();
        delete block;
        if (pin) FreeLibrary(pin);
        if (error) *error = static_cast<int>(e);
        SetLastError(e);
        return false;
    }
    m_state->handle = h;
    m_state->id = id;
    return true;
}

uint32_t Thread::Wait(uint32_t ms) {
    if (!m_state->handle) return kWaitObject0;
    return WaitForSingleObject(m_state->handle, ms);
}

bool Thread::HasHandle() const {
    return m_state->handle != nullptr;
}

bool Thread::IsCurrent() const {
    return m_state->handle && GetCurrentThreadId() == m_state->id;
}

}  // namespace plat
