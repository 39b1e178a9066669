#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/read_window.h"

using plat::ReadWindow;

namespace {

// One event seen by the window, and the blind size expected after it.
struct Step {
    char kind;  // 'q': a query answered (a = available, us = its time); 'b': a blind read (a = got, us = its
                // time)
    uint32_t a;
    uint64_t us;
    uint32_t blindAfter;
};

const uint32_t K = 1024;

// Data waiting four times in a row opens the window; it is then read blind.
std::vector<Step> Opening() {
    return {
        {'q', 8 * K, 50, 0}, {'q', 8 * K, 50, 0}, {'q', 8 * K, 50, 0}, {'q', 8 * K, 50, ReadWindow::kFirst}};
}

}  // namespace

TEST(ReadWindow, OpensGrowsAndClosesWithThePaceOfTheData) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"starts closed, stays closed while the server sets the pace",
         {{'q', 4 * K, 900000, 0},
          {'q', 4 * K, 1000000, 0},
          {'q', 4 * K, 800000, 0},
          {'q', 4 * K, 950000, 0},
          {'q', 4 * K, 1000000, 0}}},
        {"one wait in the streak starts it over",
         {{'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, ReadWindow::kWaitingUs + 1, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, ReadWindow::kFirst}}},
        {"an empty answer is no data waiting",
         {{'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 0, 50, 0},
          {'q', 8 * K, 50, 0}}},
        {"a query that took exactly the limit still found data waiting",
         {{'q', 1, ReadWindow::kWaitingUs, 0},
          {'q', 1, ReadWindow::kWaitingUs, 0},
          {'q', 1, ReadWindow::kWaitingUs, 0},
          {'q', 1, ReadWindow::kWaitingUs, ReadWindow::kFirst}}},
        {"quick full reads double it up to the block size and no further",
         {{'b', 16 * K, 300, 32 * K},
          {'b', 32 * K, 300, 64 * K},
          {'b', 64 * K, 300, 128 * K},
          {'b', 128 * K, ReadWindow::kQuickUs, 256 * K},
          {'b', 256 * K, 300, 256 * K}}},
        {"a read between quick and slow keeps the size",
         {{'b', 16 * K, ReadWindow::kQuickUs + 1, 16 * K}, {'b', 16 * K, ReadWindow::kSlowUs, 16 * K}}},
        {"a short read (end of the body) does not grow it", {{'b', 9 * K, 300, 16 * K}}},
        {"a slow read closes it, and it opens again only after a new streak",
         {{'b', 16 * K, 300, 32 * K},
          {'b', 32 * K, ReadWindow::kSlowUs + 1, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, 0},
          {'q', 8 * K, 50, ReadWindow::kFirst}}},
        {"a slow short read closes it too", {{'b', 100, 2000000, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadWindow w;
        EXPECT_EQ(w.Blind(), 0u);
        std::vector<Step> steps = c.steps;
        if (steps.front().kind == 'b') {
            std::vector<Step> open = Opening();
            steps.insert(steps.begin(), open.begin(), open.end());
        }
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            if (s.kind == 'q') {
                w.AfterQueried(s.a, s.us);
            } else {
                uint32_t wanted = w.Blind();
                ASSERT_NE(wanted, 0u) << "step " << i;
                w.AfterBlind(wanted, s.a, s.us);
            }
            EXPECT_EQ(w.Blind(), s.blindAfter) << "step " << i;
        }
    }
}

// The caller's block buffer is kMax bytes: no blind read may ask for more,
// however long the quick reads go on.
TEST(ReadWindow, NeverAsksForMoreThanTheBlock) {
    ReadWindow w;
    for (const Step& s : Opening()) w.AfterQueried(s.a, s.us);
    for (int i = 0; i < 100; ++i) {
        uint32_t wanted = w.Blind();
        ASSERT_GT(wanted, 0u);
        ASSERT_LE(wanted, ReadWindow::kMax);
        w.AfterBlind(wanted, wanted, 1);
    }
    EXPECT_EQ(w.Blind(), ReadWindow::kMax);
}

TEST(ReadWindow, ModesByName) {
    struct Case {
        const char* name;
        plat::ReadMode mode;
    } cases[] = {
        {"available", plat::ReadMode::kAvailable}, {"block", plat::ReadMode::kBlock},
        {"adaptive", plat::ReadMode::kAdaptive},   {"", plat::ReadMode::kAdaptive},
        {nullptr, plat::ReadMode::kAdaptive},      {"Block", plat::ReadMode::kAdaptive},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::ReadModeFromName(c.name), c.mode) << (c.name ? c.name : "null");
}
