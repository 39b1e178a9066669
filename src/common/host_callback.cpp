#include "common/host_callback.h"

#include <cstdarg>
#include <cstdio>

const char kLogPrefix[] = "[Lumora Plugin]";

std::atomic<PlugInHostCallback>& HostCallbackSlot() {
    // Constant-initialised, so it is usable before any constructor runs.
    static std::atomic<PlugInHostCallback> slot{nullptr};
    return slot;
}

int LogMessage(const char* format, ...) {
    PlugInHostCallback callback = HostCallbackSlot().load();
    if (!callback) return 0;
    char text[2048];
    text[0] = 0;
    va_list args;
    va_start(args, format);
    // A longer line is cut to 2047 characters; the terminator always fits.
    if (format && vsnprintf(text, sizeof text, format, args) < 0) text[0] = 0;
    va_end(args);
    text[sizeof text - 1] = 0;
    if (HoldHostCall(PHC_LOG, 0, text)) return 1;
    return callback(PHC_LOG, reinterpret_cast<HostWord>(kLogPrefix), reinterpret_cast<HostWord>(text));
}

int NotifyHost(int32_t subCode) {
    PlugInHostCallback callback = HostCallbackSlot().load();
    if (!callback) return 0;
    if (HoldHostCall(PHC_NOTIFY, subCode, nullptr)) return 1;
    return callback(PHC_NOTIFY, static_cast<HostWord>(subCode), 1);
}

namespace {
// The innermost active hold of this thread (a plain pointer: nothing to
// destroy when a thread ends).
thread_local HostCallHold* t_hold = nullptr;
}  // namespace

bool HoldHostCall(uint32_t code, int32_t subCode, const char* text) {
    HostCallHold* hold = t_hold;
    if (!hold) return false;
    hold->m_calls.push_back(HostCallHold::Call{code, subCode, text ? text : ""});
    return true;
}

void HostCallHold::Begin() {
    if (m_active) return;
    m_outer = t_hold;
    t_hold = this;
    m_active = true;
}

void HostCallHold::Release() {
    if (!m_active) return;
    t_hold = m_outer;
    m_active = false;
    std::vector<Call> calls;
    calls.swap(m_calls);
    for (const Call& c : calls) {
        // An outer hold keeps them; without one they reach the host now.
        if (HoldHostCall(c.code, c.subCode, c.text.c_str())) continue;
        PlugInHostCallback callback = HostCallbackSlot().load();
        if (!callback) return;
        if (c.code == PHC_LOG)
            callback(PHC_LOG, reinterpret_cast<HostWord>(kLogPrefix),
                     reinterpret_cast<HostWord>(c.text.c_str()));
        else
            callback(c.code, static_cast<HostWord>(c.subCode), 1);
    }
}

std::string Counted(long long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}
