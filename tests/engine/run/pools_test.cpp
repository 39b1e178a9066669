// The pick of the download passes and the failures of pooled wallpapers,
// on the pools part alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/pools.h"

namespace {

constexpr uint32_t kDelay = CFeedPools::kItemRetryDelayMs;

CItemArray Pool(int n, const char* prefix = "w") {
    CItemArray pool;
    for (int k = 0; k < n; ++k) {
        CLumoraItem item;
        item.Id = prefix + std::to_string(k);
        item.Url = "http://images.test/" + item.Id + ".jpg";
        pool.Add(item);
    }
    return pool;
}

// ---- which slot a pass tries ------------------------------------------------------
struct Failed {
    int slot;
    int attempts;   // below kMaxItemAttempts: it stays pooled
    uint32_t tick;  // when each of them failed
};
struct PickCase {
    const char* name;
    int size;
    std::vector<Failed> failed;
    bool pagesLeft;
    uint32_t now;
    std::set<int> picks;  // every slot the pick may give, and over many seeds does
};

void PrintTo(const PickCase& c, std::ostream* os) {
    *os << c.name;
}

class PickTable : public ::testing::TestWithParam<PickCase> {};

TEST_P(PickTable, GivesOnlyAndEveryAllowedSlot) {
    const PickCase& c = GetParam();
    std::set<int> seen;
    for (uint64_t seed = 1; seed <= 200; ++seed) {
        CFeedPools pools;
        pools.Source().Seed(seed);
        CItemArray pool = Pool(c.size);
        for (const Failed& f : c.failed)
            for (int k = 0; k < f.attempts; ++k)
                ASSERT_EQ(pools.CountFailure(0, pool, f.slot, pool[f.slot].Id, f.tick), k + 1);
        ASSERT_EQ(pool.GetSize(), c.size);
        const int slot = pools.PickSlot(0, pool, c.pagesLeft, c.now);
        ASSERT_TRUE(c.picks.count(slot)) << c.name << ": slot " << slot << " (seed " << seed << ")";
        seen.insert(slot);
    }
    EXPECT_EQ(seen, c.picks) << c.name;
}

const uint32_t kLater = 10 * kDelay;

INSTANTIATE_TEST_SUITE_P(
    Pools, PickTable,
    ::testing::Values(
        PickCase{"empty pool", 0, {}, false, kLater, {-1}},
        PickCase{"all untried: any", 5, {}, true, kLater, {0, 1, 2, 3, 4}},
        PickCase{"untried before failed ones, even when those are due",
                 5,
                 {{1, 1, 0}, {3, 2, 0}},
                 false,
                 kLater,
                 {0, 2, 4}},
        PickCase{"one untried left", 4, {{0, 1, 0}, {1, 1, 0}, {3, 1, 0}}, false, kLater, {2}},
        PickCase{"only failed ones while pages are left: the page first",
                 2,
                 {{0, 1, 0}, {1, 1, 0}},
                 true,
                 kLater,
                 {-1}},
        PickCase{"only failed ones: not before the delay",
                 2,
                 {{0, 1, 1000}, {1, 1, 1000}},
                 false,
                 1000 + kDelay - 1,
                 {-1}},
        PickCase{"only failed ones: due at the delay",
                 2,
                 {{0, 1, 1000}, {1, 1, 1000}},
                 false,
                 1000 + kDelay,
                 {0, 1}},
        PickCase{"the delay grows with the failures", 2, {{0, 2, 0}, {1, 1, 0}}, false, 2 * kDelay - 1, {1}},
        PickCase{"twice the delay after two failures", 2, {{0, 2, 0}, {1, 1, 0}}, false, 2 * kDelay, {0, 1}},
        PickCase{"the tick counter wrapped", 1, {{0, 1, 0xFFFFFF00u}}, false, kDelay, {0}}),
    [](const ::testing::TestParamInfo<PickCase>& info) { return "case" + std::to_string(info.index); });

// ---- failures, removals and the count of untried wallpapers -----------------------------
enum Op { kFail, kTake, kAddOne, kMoveLastFirst, kStartOver };
struct Step {
    Op op;
    int slot;     // kFail, kTake: the slot
    int untried;  // after the step
    int size;     // after the step
    int gone;     // kFail: 1 when this failure took it out of the pool
};
struct CountCase {
    const char* name;
    int size;
    std::vector<Step> steps;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.name;
}

class CountTable : public ::testing::TestWithParam<CountCase> {};

// Runs the steps on feed 1 (feed 0 holds a pool of its own that nothing
// touches) and checks, after each, the counts and that a pick never gives a
// wallpaper that failed while an untried one is pooled.
TEST_P(CountTable, FollowsThePool) {
    const CountCase& c = GetParam();
    CFeedPools pools;
    pools.Source().Seed(7);
    CItemArray other = Pool(3, "o");
    CItemArray pool = Pool(c.size);
    int added = 0;
    std::set<std::string> failed;
    for (size_t n = 0; n < c.steps.size(); ++n) {
        const Step& s = c.steps[n];
        SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(n));
        switch (s.op) {
            case kFail: {
                const std::string id = pool[s.slot].Id;
                const int attempts = pools.CountFailure(1, pool, s.slot, id, 0);
                EXPECT_EQ(attempts >= CFeedPools::kMaxItemAttempts, s.gone == 1) << attempts;
                if (s.gone)
                    failed.erase(id);
                else
                    failed.insert(id);
                break;
            }
            case kTake: {
                const std::string id = pool[s.slot].Id;
                EXPECT_TRUE(pools.Remove(1, pool, s.slot, id));
                EXPECT_FALSE(pools.Remove(1, pool, s.slot, id));  // gone already
                failed.erase(id);
                break;
            }
            case kAddOne: {
                CLumoraItem item;
                item.Id = "new" + std::to_string(added++);
                pool.Add(item);
                break;
            }
            case kMoveLastFirst: {  // the pool changed without the part being told
                for (int k = pool.GetSize() - 1; k > 0; --k) std::swap(pool[k], pool[k - 1]);
                break;
            }
            case kStartOver:  // its pages start over and give the same wallpapers again
                pool.RemoveAll();
                pools.ForgetFeed(1);
                pool = Pool(c.size);
                failed.clear();
                break;
        }
        EXPECT_EQ(pool.GetSize(), s.size);
        EXPECT_EQ(pools.CountUntried(1, pool), s.untried);
        EXPECT_EQ(pools.CountUntried(0, other), 3);
        std::set<std::string> ids;
        for (const CLumoraItem& item : pool) ids.insert(item.Id);
        for (const std::string& id : failed) EXPECT_TRUE(ids.count(id)) << id << " left its pool";
        if (s.untried > 0)
            for (int k = 0; k < 20; ++k) {
                const int slot = pools.PickSlot(1, pool, false, 0);
                ASSERT_GE(slot, 0);
                ASSERT_LT(slot, pool.GetSize());
                EXPECT_FALSE(failed.count(pool[slot].Id)) << pool[slot].Id << " failed and was picked";
            }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pools, CountTable,
    ::testing::Values(
        CountCase{"empty", 0, {{kAddOne, 0, 1, 1, 0}}},
        CountCase{"a failure counts once however often",
                  4,
                  {{kFail, 2, 3, 4, 0}, {kFail, 2, 3, 4, 0}, {kFail, 0, 2, 4, 0}}},
        CountCase{"dropped after the attempts",
                  3,
                  {{kFail, 1, 2, 3, 0}, {kFail, 1, 2, 3, 0}, {kFail, 1, 2, 2, 1}, {kFail, 1, 1, 2, 0}}},
        // Taking an untried one moves the failed last one into its slot.
        CountCase{"a removal moves the last into the gap",
                  4,
                  {{kFail, 3, 3, 4, 0}, {kTake, 0, 2, 3, 0}, {kTake, 1, 1, 2, 0}, {kTake, 0, 1, 1, 0}}},
        CountCase{"taking a failed one", 3, {{kFail, 0, 2, 3, 0}, {kTake, 0, 2, 2, 0}}},
        CountCase{"the pool changed outside",
                  4,
                  {{kFail, 3, 3, 4, 0},
                   {kMoveLastFirst, 0, 3, 4, 0},
                   {kFail, 0, 3, 4, 0},
                   {kFail, 0, 3, 3, 1},
                   {kAddOne, 0, 4, 4, 0}}},
        CountCase{
            "starting over forgets the failures",
            3,
            {{kFail, 0, 2, 3, 0}, {kFail, 1, 1, 3, 0}, {kStartOver, 0, 3, 3, 0}, {kAddOne, 0, 4, 4, 0}}}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return "case" + std::to_string(info.index); });

// A wallpaper whose failures were forgotten (a new run) is untried again.
TEST(Pools, ForgetAllMakesEveryWallpaperUntried) {
    CFeedPools pools;
    CItemArray pool = Pool(3);
    pools.CountFailure(0, pool, 1, pool[1].Id, 0);
    pools.CountFailure(0, pool, 2, pool[2].Id, 0);
    ASSERT_EQ(pools.CountUntried(0, pool), 1);
    pools.ForgetAll();
    EXPECT_EQ(pools.CountUntried(0, pool), 3);
}

// ---- the source of the picks -----------------------------------------------------------
std::vector<int> Picks(CFeedPools& pools, int n) {
    const CItemArray pool = Pool(1000);
    std::vector<int> v;
    for (int k = 0; k < n; ++k) v.push_back(pools.PickSlot(0, pool, false, 0));
    return v;
}

// A seeded run replays its picks exactly (a failing simulation can be run
// again); another seed gives another sequence; the product's source, seeded
// from the system's generator, differs from one engine to the next.
TEST(PickSource, TheSameSeedGivesTheSamePicks) {
    CFeedPools a, b, c;
    a.Source().Seed(42);
    b.Source().Seed(42);
    c.Source().Seed(43);
    const std::vector<int> first = Picks(a, 64);
    EXPECT_EQ(Picks(b, 64), first);
    EXPECT_NE(Picks(c, 64), first);
    a.Source().Seed(42);
    EXPECT_EQ(Picks(a, 64), first);
    CFeedPools s1, s2;
    EXPECT_NE(Picks(s1, 64), Picks(s2, 64));
}

TEST(PickSource, StaysBelowNAndReachesEveryIndex) {
    for (uint64_t seed : {uint64_t{0}, uint64_t{7}}) {
        CPickSource source(seed);
        for (int i = 0; i < 200; ++i) EXPECT_EQ(source.Below(1), 0u);
        EXPECT_EQ(source.Below(0), 0u);  // never divides by zero
        std::set<unsigned> seen;
        for (int i = 0; i < 2000; ++i) {
            const unsigned v = source.Below(7);
            ASSERT_LT(v, 7u);
            seen.insert(v);
        }
        EXPECT_EQ(seen.size(), 7u);
    }
    CPickSource system;
    std::set<unsigned> seen;
    for (int i = 0; i < 2000; ++i) seen.insert(system.Below(7));
    EXPECT_EQ(seen.size(), 7u);
}

}  // namespace
