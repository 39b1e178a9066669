// The feeds' pools as the download passes see them: which pooled wallpaper
// is tried next, and what is known of the ones whose transfers failed.
//
// The pools themselves are the feed records' (CLumoraFeed::Items); this part
// keeps, per feed, a record of each pooled wallpaper that failed, with the
// slot it sits in, so that counting and picking cost the failed wallpapers,
// not a lookup of every pooled one. The object takes no lock of its own: the
// engine holds it under its lock and calls it there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"

// A seedable source of random indexes for the pick. The product seeds it
// from the system's generator; a test, a simulation or a benchmark gives a
// seed and gets the same sequence every run.
class CPickSource {
  public:
    CPickSource();  // seeded from the system's generator
    explicit CPickSource(uint64_t seed) : m_state(seed) {}
    void Seed(uint64_t seed) { m_state = seed; }
    // A number from 0 to n - 1; 0 (and no draw) when n <= 1.
    unsigned Below(unsigned n);

  private:
    uint64_t m_state;
};

class CFeedPools {
  public:
    // A wallpaper that failed this many transfers leaves its pool.
    static constexpr int kMaxItemAttempts = 3;
    // A wallpaper that failed is tried again only when its feed has no
    // untried one, and not before this long (times its failures) after its
    // last failure.
    static constexpr uint32_t kItemRetryDelayMs = 60000;
    // A feed at its own limit asks its next page once fewer untried
    // wallpapers than this are pooled, so the next image never waits for a
    // page (or behind wallpapers that failed).
    static constexpr int kLowPool = 8;

    CPickSource& Source() { return m_source; }

    // The slot of feed's pool to try: an untried wallpaper at random; else,
    // when the feed has no pages left to ask, a failed one whose next try is
    // due at now, at random; -1 when none is.
    int PickSlot(int feed, const CItemArray& pool, bool pagesLeft, uint32_t now);
    // Pooled wallpapers of feed that never failed.
    int CountUntried(int feed, const CItemArray& pool);
    // Counts a failed transfer of the wallpaper at slot (id) at now; returns
    // its failures so far (0: it is not in the pool). The one that makes
    // kMaxItemAttempts takes it out of the pool (as Remove does); its id
    // stays known to the engine, so a page does not pool it again until the
    // feed starts over.
    int CountFailure(int feed, CItemArray& pool, int slot, const std::string& id, uint32_t now);
    // Takes the wallpaper id out of the pool, trying slot first (the last
    // one fills its place), and forgets its failures. False when it is no
    // longer pooled.
    bool Remove(int feed, CItemArray& pool, int slot, const std::string& id);
    // The feed's pool was emptied (it starts over): its failures go.
    void ForgetFeed(int feed);
    // A new run: every failure is forgotten.
    void ForgetAll() { m_failed.clear(); }

  private:
    struct Failure {
        std::string id;
        int slot = -1;  // where it sits in the pool
        int attempts = 0;
        uint32_t lastTick = 0;  // when the last one failed
    };
    // The feed's records, each pointing at its wallpaper's slot: records
    // whose slot no longer holds their wallpaper (the pool changed outside)
    // find it again, and those of wallpapers no longer pooled go.
    std::vector<Failure>& Synced(int feed, const CItemArray& pool);

    std::vector<std::vector<Failure>> m_failed;  // by feed index
    CPickSource m_source;
};
