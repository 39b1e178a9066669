// The system's source of random numbers.
#pragma once

#include <cstdint>

namespace plat {

// A 32-bit value from the system's random generator; false when the
// generator is missing or failed, so the caller can fall back.
bool SystemRandom32(uint32_t* value);

}  // namespace plat
