// Reading and writing the plug-in's values in the host's settings store; the
// names of the API key's registry value (read and written through platform/registry.h).
#pragma once

#include <string>

extern const char kSection[];        // "LumoraPlugIn"
extern const char kApiKeyRegPath[];  // "Software\\Orvanix\\LumoraPlugin"
extern const char kApiKeyValue[];    // "ApiKey"

// Before the host has delivered its callback the readers return their default
// and the writers do nothing.
int ReadIntSetting(const char* section, const char* key, int def);
std::string ReadStringSetting(const char* section, const char* key, const char* def);
void WriteIntSetting(const char* section, const char* key, int value);
void WriteStringSetting(const char* section, const char* key, const char* text);
