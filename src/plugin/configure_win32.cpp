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
    CacheCommands cache;
    cache.status = [&engine](const std::string& folder, std::vector<std::string>& names,
                             std::vector<std::string>& values) {
        engine.GetCacheStatus(folder, names, values);
    };
    cache.clear = [&engine](const std::string& folder) { return engine.ClearCache(folder); };
    CLumoraDlg dlg(reinterpret_cast<HWND>(ownerWindow), std::move(cache));
    // The dialog holds a settings value: filled here, taken back only after OK
    // (the dialog has then stored the API key).
    engine.SnapshotForDialog(&dlg.m_settings, &dlg.m_feeds);  // feeds: configuration and paging, no pools
    if (dlg.DoModal() != IDOK) return 0;

    app.m_changed = 1;
    // Settings and key, then the feeds: each pool is kept by index, and the
    // image folder's cache is cleared when the list asks the service for
    // anything different.
    engine.ApplyDialog(dlg.m_settings, dlg.m_feeds);
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
