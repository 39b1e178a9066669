#include "plugin/app.h"

#include <cstdlib>

#include "platform/module.h"

CLumoraApp::CLumoraApp() : m_engine(*this, m_closing, m_hosttype) {}

// The engine goes first (it ends and deletes the worker), then the texts.
CLumoraApp::~CLumoraApp() = default;

bool CLumoraApp::InitInstance() {
    if (!plat::OleInit()) LogMessage("AfxOleInit Failed");
    // The random fallback of the service client relies on this seed.
    srand(plat::TickCount32());
    plat::InitCommonControls();
    return true;
}

CLumoraApp& theApp() {
    // Built on first use (the first message, or a test) and destroyed when
    // the library is unloaded.
    static CLumoraApp app;
    return app;
}
