// The exported message function and its dispatcher.
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

#include "platform/registry.h"
#include "plugin/app.h"
#include "common/module_version.h"
#include "common/settings_store.h"
#include "service/api.h"

namespace {

std::once_flag g_initOnce;

int32_t OnGetName(HostWord p) {
    char* text = reinterpret_cast<char*>(p);
    // Nowhere to write: answer "not done" rather than crash the host.
    if (!text) return 0;
    CModuleVersion version;
    if (version.ReadVersionInfo(nullptr)) {
        // Both texts stay below 32 bytes with their terminator.
        snprintf(text, 32, "Lumora v%d.%d.%d", static_cast<int>(version.ProductVersionMS() >> 16),
                 static_cast<int>(version.ProductVersionMS() & 0xFFFF),
                 static_cast<int>(version.ProductVersionLS() >> 16));
    } else {
        std::strcpy(text, "Lumora Unknown version");
    }
    version.Release();
    return 1;
}

int32_t OnLoad(CLumoraApp& app) {
    // Read through the host first, then apply under the engine's lock so a
    // running worker never sees half-replaced settings.
    int enabled = ReadIntSetting(kSection, "Enabled", 0);
    std::string folder = ReadStringSetting(kSection, "ImgFolder", "");
    int title = ReadIntSetting(kSection, "VpropTitle", 0);
    int descr = ReadIntSetting(kSection, "VpropDescr", 0);
    int maxLocal = ReadIntSetting(kSection, "MaxLocal", 100);
    CLumoraSettings values;
    values.Enabled = enabled;
    values.ImgFolder = folder;
    values.VpropTitle = title;
    values.VpropDescr = descr;
    values.MaxLocal = maxLocal;
    values.ApiKey = RegReadString(1, kApiKeyRegPath, kApiKeyValue);
    app.m_engine.ApplySettings(values);
    app.m_engine.LoadFeeds();
    app.m_changed = 0;
    return 1;
}

int32_t OnSave(CLumoraApp& app) {
    const CLumoraSettings values = app.m_engine.GetSettings();
    WriteIntSetting(kSection, "Enabled", values.Enabled);
    WriteStringSetting(kSection, "ImgFolder", values.ImgFolder.c_str());
    WriteIntSetting(kSection, "VpropTitle", values.VpropTitle);
    WriteIntSetting(kSection, "VpropDescr", values.VpropDescr);
    WriteIntSetting(kSection, "MaxLocal", values.MaxLocal);
    app.m_engine.SaveFeeds();
    WriteIntSetting("Settings", "RebuildList", 1);
    app.m_changed = 0;
    return 1;
}

int32_t OnStart(CLumoraApp& app) {
    {
        const CLumoraSettings values = app.m_engine.GetSettings();
        if (!values.Enabled || values.ImgFolder.empty()) return 0;
    }
    NotifyHost(PHC_NOTIFY_START);
    app.m_closing = 0;
    g_apiCalls = 0;
    g_apiErrors = 0;
    g_downloads = 0;
    g_downloadErrors = 0;
    app.m_engine.Start();
    return 0;
}

int32_t OnStop(CLumoraApp& app, int32_t a) {
    if (a) app.m_engine.Stop();
    LogMessage("Api Calls: %u, Api Errors: %u", static_cast<unsigned>(g_apiCalls),
               static_cast<unsigned>(g_apiErrors));
    LogMessage("Downloads: %u, Errors: %u", static_cast<unsigned>(g_downloads),
               static_cast<unsigned>(g_downloadErrors));
    return 0;
}

int32_t OnFileShown(CLumoraApp& app, HostWord p) {
    const char* path = reinterpret_cast<const char*>(p);
    if (app.Enabled && path && *path) app.m_engine.OnFileDisplayed(path);
    return 0;
}

int32_t OnSetHost(CLumoraApp& app, HostWord p) {
    int32_t kind = static_cast<int32_t>(p);
    app.m_hosttype = kind;
    return (kind == 0 || kind == 1) ? kind : -1;
}

int32_t OnEnable(CLumoraApp& app, HostWord p, int32_t a) {
    // Any nonzero value means enabled; the host expects 1 or 2 back.
    return app.m_engine.Enable(p != 0, a) ? 2 : 1;
}

int32_t Dispatch(CLumoraApp& app, uint32_t msg, HostWord p, int32_t a) {
    switch (msg) {
        case PIM_QUERY:
            return 256;
        case PIM_GETNAME:
            return OnGetName(p);
        case PIM_SETCALLBACK:
            app.m_callback = reinterpret_cast<PlugInHostCallback>(p);
            return 1;
        case PIM_CONFIGURE:
            return RunConfigureDialog(p);
        case PIM_SAVE:
            return OnSave(app);
        case PIM_LOAD:
            return OnLoad(app);
        case PIM_ISCHANGED:
            return app.m_changed;
        case PIM_START:
            return OnStart(app);
        case PIM_STOP:
            return OnStop(app, a);
        case PIM_FILESHOWN:
            return OnFileShown(app, p);
        case PIM_SETHOST:
            return OnSetHost(app, p);
        case PIM_ENABLE:
            return OnEnable(app, p, a);
        default:
            return 0;
    }
}

}  // namespace

extern "C" int32_t LUMORA_STDCALL vdtPlugInMsgHandler(uint32_t msg, HostWord p, int32_t a) {
    CLumoraApp& app = theApp();
    // The callback first, so that a failure of the one-time initialisation
    // can reach the host's log.
    if (msg == PIM_SETCALLBACK) app.m_callback = reinterpret_cast<PlugInHostCallback>(p);
    // OLE must not be initialised under the loader lock of the library's
    // entry point, so the load-time steps run with the first message, on the
    // host's thread.
    std::call_once(g_initOnce, [&app] { app.InitInstance(); });
    // No exception may unwind into the host.
    try {
        return Dispatch(app, msg, p, a);
    } catch (const std::exception& e) {
        LogMessage("vdtPlugInMsgHandler: exception in message %u: %s", msg, e.what());
    } catch (...) {
        LogMessage("vdtPlugInMsgHandler: unknown exception in message %u", msg);
    }
    return 0;
}
