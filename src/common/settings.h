// The values of the plug-in's settings, as the engine and the dialogs use them.
#pragma once

#include <string>

// The settings the engine works with (held by the application object).
struct CLumoraSettings {
    int Enabled = 0;
    std::string ImgFolder;
    int VpropTitle = 0;
    int VpropDescr = 0;
    int MaxLocal = 0;
    std::string ApiKey;
};
