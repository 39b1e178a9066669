// The little the stand-in host needs from the operating system.
#pragma once

#include <string>
#include <vector>

#include "common/host_callback.h"

typedef int32_t(LUMORA_STDCALL* PlugInMsgHandler)(uint32_t msg, HostWord p, int32_t a);

// Loads the module by path as a host does and finds its message function
// (the decorated standard-call name on Windows). On failure returns null
// and describes why in error.
void* LoadPlugin(const std::string& path, PlugInMsgHandler* handler, std::string* error);
void UnloadPlugin(void* module);

bool HostFileExists(const std::string& path);
// Moves from over to, replacing it.
bool HostReplaceFile(const std::string& from, const std::string& to);

struct DirEntry {
    std::string name;
    bool folder;
};
// The entries of a folder except "." and ".."; empty when it cannot be read.
std::vector<DirEntry> ListFolder(const std::string& folder);

extern const char kHostPathSep;
