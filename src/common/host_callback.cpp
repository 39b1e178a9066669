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
    if (vsnprintf(text, sizeof text, format ? format : "", args) < 0) text[0] = 0;
    va_end(args);
    text[sizeof text - 1] = 0;
    return callback(PHC_LOG, reinterpret_cast<HostWord>(kLogPrefix), reinterpret_cast<HostWord>(text));
}

int NotifyHost(int32_t subCode) {
    PlugInHostCallback callback = HostCallbackSlot().load();
    if (!callback) return 0;
    return callback(PHC_NOTIFY, static_cast<HostWord>(subCode), 1);
}
