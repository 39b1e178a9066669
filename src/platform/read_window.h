// How much an HTTP stack with blocking reads (WinINet) is asked for at once.
//
// A blocking read returns only when all it asked for has arrived (or the body
// ends), and a stop can only be seen between reads. Asking only for what has
// already arrived keeps every read short, but some stacks hand that over a
// few KiB at a time, and each call costs far more than the copy. So the
// window opens the way TCP's slow start does: while data is found waiting
// read after read, reads go blind (without asking first) and double up to
// kMax while they stay quick; a read that takes long, or data that is not
// waiting, closes the window again. On a trickling answer the window stays
// closed, so a stop waits at most for the next piece the server sends.
#pragma once

#include <cstdint>

namespace plat {

class ReadWindow {
  public:
    // Largest read; also the size of the caller's block buffer.
    static constexpr uint32_t kMax = 256 * 1024;
    // First blind read once the window opens.
    static constexpr uint32_t kFirst = 16 * 1024;
    // Reads in a row that found data waiting before the window opens.
    static constexpr int kWaitingStreak = 4;
    // A query that answered within this found data waiting.
    static constexpr uint64_t kWaitingUs = 2000;
    // A blind read at most this long lets the window grow ...
    static constexpr uint64_t kQuickUs = 10000;
    // ... one longer than this closes it.
    static constexpr uint64_t kSlowUs = 50000;

    // Bytes to ask for blind; 0 while closed: then ask what has arrived and
    // read only that.
    uint32_t Blind() const { return m_size; }

    // After a read of what had arrived: `available` bytes reported by a query
    // that took `queryUs`.
    void AfterQueried(uint32_t available, uint64_t queryUs);

    // After a blind read of `wanted` bytes that returned `got` in `readUs`.
    void AfterBlind(uint32_t wanted, uint32_t got, uint64_t readUs);

  private:
    uint32_t m_size = 0;
    int m_streak = 0;
};

// Read strategies, chosen by name (LUMORA_WININET_READ on Windows) so the
// benchmark can compare them in one run: "adaptive" (default, ReadWindow),
// "available" (only what has arrived, every time), "block" (always kMax).
enum class ReadMode { kAdaptive, kAvailable, kBlock };
ReadMode ReadModeFromName(const char* name);

}  // namespace plat
