#include <sys/random.h>

#include <cerrno>

#include "platform/random.h"

namespace plat {

bool SystemRandom32(uint32_t* value) {
    uint32_t v = 0;
    ssize_t n;
    do {
        n = getrandom(&v, sizeof v, 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof v)) return false;
    *value = v;
    return true;
}

}  // namespace plat
