// A random index for picking an item of a pool.
#include <cstdlib>

#include "platform/random.h"
#include "service/api.h"

unsigned GetRandomIndex(unsigned n) {
    if (n <= 1) return 0;  // also guards n == 0 against a division by zero
    uint32_t value;
    if (plat::SystemRandom32(&value)) return value % n;
    return static_cast<unsigned>(std::rand()) % n;
}
