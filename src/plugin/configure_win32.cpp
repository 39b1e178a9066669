// Message 5: the configuration dialog on copies of the settings and feeds;
// on OK the values go back through the engine's guarded calls, so the worker
// never sees a half-replaced feed list or folder.
#include <windows.h>
#include <commctrl.h>

#include <exception>
#include <mutex>

#include "plugin/app.h"
#include "ui/win32/dialogs.h"

static int32_t Configure(HostWord ownerWindow) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);

    CLumoraApp& app = theApp();
    CLumoraEngine& engine = app.m_engine;
    CLumoraDlg dlg(reinterpret_cast<HWND>(ownerWindow), engine);
    {
        std::lock_guard<std::recursive_mutex> guard(engine.m_data);
        dlg.m_enabled = app.Enabled;
        dlg.m_imgFolder = app.ImgFolder;
        dlg.m_vpropTitle = app.VpropTitle;
        dlg.m_vpropDescr = app.VpropDescr;
        dlg.m_maxLocal = static_cast<unsigned>(app.MaxLocal);
        dlg.m_apiKey = app.ApiKey;
        dlg.m_feeds.Copy(engine.m_feeds);  // configuration and paging, no pools
    }
    if (dlg.DoModal() != IDOK) return 0;

    {
        std::lock_guard<std::recursive_mutex> guard(engine.m_data);
        app.Enabled = dlg.m_enabled;
        app.m_changed = 1;
        app.ImgFolder = dlg.m_imgFolder;
        app.VpropTitle = dlg.m_vpropTitle;
        app.VpropDescr = dlg.m_vpropDescr;
        app.MaxLocal = static_cast<int>(dlg.m_maxLocal);
        app.ApiKey = dlg.m_apiKey;
    }
    engine.SetApiKey(dlg.m_apiKey);
    // Keeps each feed's pool by index and clears the image folder's cache
    // when the list asks the service for anything different.
    engine.ApplyFeeds(dlg.m_feeds);
    return 1;
}

int32_t RunConfigureDialog(HostWord ownerWindow) {
    // Message 5 runs inside the host: nothing may escape it.
    try {
        return Configure(ownerWindow);
    } catch (const std::exception& e) {
        LogMessage("RunConfigureDialog: %s", e.what());
    } catch (...) {
        LogMessage("RunConfigureDialog: unknown exception");
    }
    return 0;
}
