// A random index for picking an item of a pool: the system's generator, or
// a seeded sequence that a simulation or a benchmark can replay.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/random.h"
#include "service/api.h"

namespace {

std::atomic<bool> g_seeded{false};
std::mutex g_seedLock;
uint64_t g_state = 0;

// splitmix64: small, fast, and every seed gives a sequence of its own.
uint32_t NextSeeded() {
    std::lock_guard<std::mutex> g(g_seedLock);
    uint64_t z = (g_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
}

}  // namespace

void SeedRandomIndex(uint64_t seed) {
    std::lock_guard<std::mutex> g(g_seedLock);
    g_state = seed;
    g_seeded.store(true);
}

void UseSystemRandomIndex() {
    g_seeded.store(false);
}

unsigned GetRandomIndex(unsigned n) {
    if (n <= 1) return 0;  // also guards n == 0 against a division by zero
    if (g_seeded.load()) return NextSeeded() % n;
    uint32_t value;
    if (plat::SystemRandom32(&value)) return value % n;
    return static_cast<unsigned>(std::rand()) % n;
}
