// What the application object needs from the platform when the module is
// loaded, and the module's own version resource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Initialises OLE on the calling thread; false when the platform refuses.
bool OleInit();
// Registers the common control classes the dialogs use (nothing natively).
void InitCommonControls();
// The system's millisecond tick count, for seeding the runtime's rand().
uint32_t TickCount32();

// The 13 words of the fixed version block (VS_FIXEDFILEINFO layout, 52 bytes).
struct FixedVersionInfo {
    uint32_t dwSignature, dwStrucVersion, dwFileVersionMS, dwFileVersionLS, dwProductVersionMS,
        dwProductVersionLS, dwFileFlagsMask, dwFileFlags, dwFileOS, dwFileType, dwFileSubtype, dwFileDateMS,
        dwFileDateLS;
};
static_assert(sizeof(FixedVersionInfo) == 52, "the fixed version block is 52 bytes");

// Reads the version resource of a loaded module (null: this plug-in module's
// own file) into data and copies its fixed block into fixed. False when the
// module is not loaded, has no version resource, or the block is missing.
// Natively there are no version resources: null gives the compiled-in
// version, a name gives false.
bool ReadVersionResource(const char* moduleName, std::vector<unsigned char>& data, FixedVersionInfo* fixed);

// The text of a string table entry of this module; false when there is none.
bool LoadResourceString(unsigned id, std::string& out);

}  // namespace plat
