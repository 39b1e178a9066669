#include "platform/registry.h"

#include <cstring>

namespace plat {

std::string RegValueText(const char* data, size_t size) {
    if (!data || size > kRegValueBuffer) return std::string();
    const void* zero = std::memchr(data, 0, size);
    if (!zero) {
        if (size == kRegValueBuffer) return std::string();
        return std::string(data, size);
    }
    return std::string(data, static_cast<const char*>(zero) - data);
}

}  // namespace plat
