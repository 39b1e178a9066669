// Reads the plug-in module's product version from its version resource.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/module.h"

class CModuleVersion : public plat::FixedVersionInfo {
  public:
    CModuleVersion();
    virtual ~CModuleVersion();
    CModuleVersion(const CModuleVersion&) = delete;
    CModuleVersion& operator=(const CModuleVersion&) = delete;

    // True when the fixed block was read and carries the signature 0xFEEF04BD.
    // null reads this module's own file; a name, the file of that loaded
    // module (false when no module of that name is loaded).
    bool ReadVersionInfo(const char* moduleName = nullptr);

    uint32_t ProductVersionMS() const { return dwProductVersionMS; }
    uint32_t ProductVersionLS() const { return dwProductVersionLS; }

    // Frees the raw version data.
    void Release();

  private:
    std::vector<unsigned char> m_data;  // the raw version information
};
