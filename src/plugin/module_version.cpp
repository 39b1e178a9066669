#include "plugin/module_version.h"

#include <cstring>

CModuleVersion::CModuleVersion() : plat::FixedVersionInfo() {}

CModuleVersion::~CModuleVersion() = default;

bool CModuleVersion::ReadVersionInfo(const char* moduleName) {
    Release();
    plat::FixedVersionInfo block = {};
    if (!plat::ReadVersionResource(moduleName, m_data, &block)) return false;
    static_cast<plat::FixedVersionInfo&>(*this) = block;
    return dwSignature == 0xFEEF04BDu;
}

void CModuleVersion::Release() {
    std::vector<unsigned char>().swap(m_data);
}
