#include "common/module_version.h"

#include <cstring>

#include "common/version.h"

CModuleVersion::CModuleVersion() : plat::FixedVersionInfo() {}

CModuleVersion::~CModuleVersion() = default;

bool CModuleVersion::ReadVersionInfo(const char* moduleName) {
    Release();
    plat::FixedVersionInfo block = {};
    if (!plat::ReadVersionResource(moduleName, m_data, &block)) {
        // Without resources (the native build) our own module still has the
        // compiled-in version; other modules have none.
        if (moduleName) return false;
        block.dwSignature = 0xFEEF04BDu;
        block.dwStrucVersion = 0x00010000u;
        block.dwFileVersionMS = block.dwProductVersionMS =
            (LUMORA_VERSION_MAJOR << 16) | LUMORA_VERSION_MINOR;
        block.dwFileVersionLS = block.dwProductVersionLS =
            (LUMORA_VERSION_PATCH << 16) | LUMORA_VERSION_BUILD;
        const unsigned char* raw = reinterpret_cast<const unsigned char*>(&block);
        m_data.assign(raw, raw + sizeof block);
    }
    static_cast<plat::FixedVersionInfo&>(*this) = block;
    return dwSignature == 0xFEEF04BDu;
}

void CModuleVersion::Release() {
    std::vector<unsigned char>().swap(m_data);
}
