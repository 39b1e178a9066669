// The module's single application object: settings, message flags, the
// engine, and the host callback.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/engine.h"
#include "common/host_callback.h"

class CLumoraApp : public CLumoraSettings {
  public:
    CLumoraApp();
    ~CLumoraApp();

    // Runs once when the library is loaded: OLE, random seed, common controls.
    bool InitInstance();

    std::atomic<int32_t> m_changed{0};
    std::atomic<int32_t> m_closing{0};
    std::atomic<int32_t> m_hosttype{0};
    CLumoraEngine m_engine;
    // The host callback lives with the logging functions below this layer.
    std::atomic<PlugInHostCallback>& m_callback = HostCallbackSlot();
};

CLumoraApp& theApp();

// The exported message function.
extern "C" int32_t LUMORA_STDCALL vdtPlugInMsgHandler(uint32_t msg, HostWord p, int32_t a);

// Message 5: runs the configuration dialog (Windows build); 0 where there is none.
int32_t RunConfigureDialog(HostWord ownerWindow);
