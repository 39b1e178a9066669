// The host's services as the plug-in sees them: the callback the host hands
// over with its "set callback" message, the setting record it reads, and the
// single logging function.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#define LUMORA_STDCALL __stdcall
#else
#define LUMORA_STDCALL
#endif

// A word of the host interface: 32 bits on the Windows build, pointer-sized
// on a 64-bit native build.
typedef intptr_t HostWord;

// Messages the host sends to the plug-in's exported function.
enum : uint32_t {
    PIM_QUERY = 1,
    PIM_GETNAME = 2,
    PIM_SETCALLBACK = 3,
    PIM_CONFIGURE = 5,
    PIM_SAVE = 6,
    PIM_LOAD = 7,
    PIM_ISCHANGED = 8,
    PIM_START = 9,
    PIM_STOP = 10,
    PIM_FILESHOWN = 14,
    PIM_SETHOST = 28,
    PIM_ENABLE = 40,
};

typedef int32_t(LUMORA_STDCALL* PlugInHostCallback)(uint32_t code, HostWord first, HostWord second);

enum : uint32_t {
    PHC_WRITESETTING = 5,
    PHC_READSETTING = 6,
    PHC_LOG = 7,
    PHC_NOTIFY = 9,
};

// Notify sub-codes.
enum : int32_t {
    PHC_NOTIFY_IMAGES = 22,  // images exist (Tableaux only)
    PHC_NOTIFY_START = 44,   // the plug-in starts working
};

// The ten-word record of the settings codes. Words 3, 5, 7 and 9 stay 0.
struct SettingRecord {
    HostWord w[10];
};
enum { SR_SECTION = 0, SR_KEY = 1, SR_TYPE = 2, SR_VALUE = 4, SR_DEFAULT = 6, SR_CAPACITY = 8 };
enum { SR_TYPE_TEXT = 0, SR_TYPE_INT = 1 };

// The callback the host handed over (null until then). The plug-in layer
// stores it on the "set callback" message; everything below only loads it.
std::atomic<PlugInHostCallback>& HostCallbackSlot();

extern const char kLogPrefix[];  // "[Lumora Plugin]"

// Formats a log line (cut to 2047 characters) and hands it to the host. Before
// the host has delivered its callback, lines are dropped (result 0): there is
// nowhere to write them, and calling through a null pointer would crash.
int LogMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A count and its noun for a log line, in the right number: "1 record",
// "2 records", "0 records". (Lines whose wording others rely on keep it.)
std::string Counted(long long count, const char* one, const char* many);

// Calls PHC_NOTIFY with the sub-code; nothing happens before the callback is set.
int NotifyHost(int32_t subCode);

// Holds back this thread's calls to the host (log lines, notifications) while
// the thread holds a lock that the host's thread may wait for: a host that
// hands the calls over to its own thread and waits would otherwise deadlock.
// Release hands them to the host in order; holds nest, and only the outermost
// one's release reaches the host.
class HostCallHold {
  public:
    HostCallHold() = default;
    ~HostCallHold() { Release(); }
    HostCallHold(const HostCallHold&) = delete;
    HostCallHold& operator=(const HostCallHold&) = delete;
    void Begin();
    void Release();

    struct Call {
        uint32_t code;
        int32_t subCode;
        std::string text;
    };

  private:
    std::vector<Call> m_calls;
    HostCallHold* m_outer = nullptr;
    bool m_active = false;
    friend bool HoldHostCall(uint32_t code, int32_t subCode, const char* text);
};

// Keeps a call for the innermost active hold of this thread; false when the
// thread holds none (the caller then calls the host itself).
bool HoldHostCall(uint32_t code, int32_t subCode, const char* text);
