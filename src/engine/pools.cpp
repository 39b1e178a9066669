// The pick of the download passes and the failures of pooled wallpapers.
#include "engine/pools.h"

#include <algorithm>
#include <chrono>

#include "platform/random.h"

CPickSource::CPickSource() {
    uint32_t high = 0, low = 0;
    if (plat::SystemRandom32(&high) && plat::SystemRandom32(&low)) {
        m_state = (static_cast<uint64_t>(high) << 32) | low;
        return;
    }
    // No system generator: the time and where this object lives still
    // differ between runs, which is all a pick needs.
    const uint64_t t =
        static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    m_state = t ^ (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)) << 16);
}

// splitmix64: small, fast, and every seed gives a sequence of its own.
unsigned CPickSource::Below(unsigned n) {
    if (n <= 1) return 0;  // also guards n == 0 against a division by zero
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32) % n;
}

namespace {

// Where the wallpaper id sits in the pool, trying slot first; -1: not there.
int FindInPool(const CItemArray& pool, int slot, const std::string& id) {
    if (slot >= 0 && slot < pool.GetSize() && pool[slot].Id == id) return slot;
    for (int k = 0; k < pool.GetSize(); ++k)
        if (pool[k].Id == id) return k;
    return -1;
}

}  // namespace

std::vector<CFeedPools::Failure>& CFeedPools::Synced(int feed, const CItemArray& pool) {
    const size_t k = static_cast<size_t>(feed);
    if (m_failed.size() <= k) m_failed.resize(k + 1);
    std::vector<Failure>& failed = m_failed[k];
    for (size_t r = 0; r < failed.size();) {
        failed[r].slot = FindInPool(pool, failed[r].slot, failed[r].id);
        if (failed[r].slot < 0) {
            failed[r] = std::move(failed.back());
            failed.pop_back();
        } else {
            ++r;
        }
    }
    return failed;
}

int CFeedPools::CountUntried(int feed, const CItemArray& pool) {
    if (feed < 0) return pool.GetSize();
    return pool.GetSize() - static_cast<int>(Synced(feed, pool).size());
}

int CFeedPools::PickSlot(int feed, const CItemArray& pool, bool pagesLeft, uint32_t now) {
    if (feed < 0 || pool.IsEmpty()) return -1;
    const std::vector<Failure>& failed = Synced(feed, pool);
    const int size = pool.GetSize();
    const int untried = size - static_cast<int>(failed.size());
    if (untried == size) return static_cast<int>(m_source.Below(static_cast<unsigned>(size)));
    std::vector<int> failedSlots;
    failedSlots.reserve(failed.size());
    for (const Failure& f : failed) failedSlots.push_back(f.slot);
    std::sort(failedSlots.begin(), failedSlots.end());
    if (untried > 0) {
        // The k-th slot that holds no failed wallpaper.
        int slot = static_cast<int>(m_source.Below(static_cast<unsigned>(untried)));
        for (int s : failedSlots) {
            if (s > slot) break;
            ++slot;
        }
        return slot;
    }
    // Only failed ones: while the feed has pages left, its next page comes
    // first; then each when its pause after the last failure is over.
    if (pagesLeft) return -1;
    std::vector<int> due;
    for (const Failure& f : failed)
        if (static_cast<uint32_t>(now - f.lastTick) >= kItemRetryDelayMs * static_cast<uint32_t>(f.attempts))
            due.push_back(f.slot);
    if (due.empty()) return -1;
    std::sort(due.begin(), due.end());
    return due[m_source.Below(static_cast<unsigned>(due.size()))];
}

int CFeedPools::CountFailure(int feed, CItemArray& pool, int slot, const std::string& id, uint32_t now) {
    if (feed < 0) return 0;
    std::vector<Failure>& failed = Synced(feed, pool);
    auto it = std::find_if(failed.begin(), failed.end(), [&id](const Failure& f) { return f.id == id; });
    if (it == failed.end()) {
        const int at = FindInPool(pool, slot, id);
        if (at < 0) return 0;
        Failure f;
        f.id = id;
        f.slot = at;
        failed.push_back(std::move(f));
        it = failed.end() - 1;
    }
    it->lastTick = now;
    const int attempts = ++it->attempts;
    if (attempts >= kMaxItemAttempts) Remove(feed, pool, it->slot, id);
    return attempts;
}

bool CFeedPools::Remove(int feed, CItemArray& pool, int slot, const std::string& id) {
    const int at = FindInPool(pool, slot, id);
    if (at < 0) return false;
    const int last = pool.GetSize() - 1;
    if (feed >= 0 && static_cast<size_t>(feed) < m_failed.size()) {
        std::vector<Failure>& failed = m_failed[static_cast<size_t>(feed)];
        for (size_t r = 0; r < failed.size();) {
            if (failed[r].id == id) {
                failed[r] = std::move(failed.back());
                failed.pop_back();
                continue;
            }
            if (failed[r].slot == last) failed[r].slot = at;  // the last one moves into its place
            ++r;
        }
    }
    if (at != last) pool[at] = pool[last];
    pool.RemoveAt(last);
    return true;
}

void CFeedPools::ForgetFeed(int feed) {
    if (feed >= 0 && static_cast<size_t>(feed) < m_failed.size()) m_failed[static_cast<size_t>(feed)].clear();
}
