// The pacing on its own, driven with tick counts: the pauses and how they
// double, end and recover, the API's budget per minute, Retry-After within
// its bound, the stretch of the download interval, the free-space floor and
// the one reset; and what each kind of answer of the service counts as.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include "engine/pacing.h"

namespace {

constexpr uint32_t kSecond = 1000;
constexpr uint32_t kMinute = 60 * kSecond;

// The length of the current pause: the first tick from `from` at which
// paused(tick) is false (searched by the second, then by the ms).
uint32_t PauseLength(const std::function<bool(uint32_t)>& paused, uint32_t from) {
    uint32_t t = 0;
    while (t < 20 * kMinute && paused(from + t)) t += kSecond;
    while (t > 0 && !paused(from + t - 1)) --t;
    return t;
}

// ---- the two pauses double from their first length to their longest ----------------------------
struct PauseCase {
    const char* name;
    // Notes one failure at `now` on p.
    std::function<void(CPacing& p, uint32_t now)> fail;
    std::function<bool(const CPacing& p, uint32_t now)> paused;
    // Ends the pause as an answer (or a page) does.
    std::function<void(CPacing& p, uint32_t now)> recover;
    std::vector<uint32_t> lengths;  // of the pause after each failure in a row
};

void PrintTo(const PauseCase& c, std::ostream* os) {
    *os << c.name;
}

class PauseTest : public ::testing::TestWithParam<PauseCase> {};

TEST_P(PauseTest, DoublesUpToItsLongestAndStartsOverAfterAnAnswer) {
    const PauseCase& c = GetParam();
    // Near the wrap of the tick count: pauses must not end early or hang there.
    for (uint32_t start : {1000u, 0xFFFFFFFFu - 90 * kSecond}) {
        CPacing p;
        EXPECT_FALSE(c.paused(p, start)) << c.name;
        uint32_t now = start;
        for (size_t k = 0; k < c.lengths.size(); ++k) {
            c.fail(p, now);
            const uint32_t length = PauseLength([&](uint32_t t) { return c.paused(p, t); }, now);
            EXPECT_EQ(length, c.lengths[k]) << c.name << " failure " << k + 1 << " from " << start;
            now += length;  // the next request goes when the pause ends
        }
        // Back: not paused, and the next failure starts from the first length.
        c.recover(p, now);
        EXPECT_FALSE(c.paused(p, now)) << c.name;
        c.fail(p, now);
        EXPECT_EQ(PauseLength([&](uint32_t t) { return c.paused(p, t); }, now), c.lengths[0]) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pacing, PauseTest,
    ::testing::Values(PauseCase{
                          "no answer",
                          [](CPacing& p, uint32_t now) { p.NoteNoAnswer(now); },
                          [](const CPacing& p, uint32_t now) { return p.NoAnswerPaused(now); },
                          [](CPacing& p, uint32_t now) {
                              uint32_t silent = 0;
                              EXPECT_TRUE(p.NoteAnswer(now, &silent));
                          },
                          {5 * kSecond, 10 * kSecond, 20 * kSecond, 40 * kSecond, kMinute, kMinute, kMinute}},
                      PauseCase{"service",
                                [](CPacing& p, uint32_t now) { p.NoteServiceUnwell(0, now); },
                                [](const CPacing& p, uint32_t now) { return p.ServicePaused(now); },
                                [](CPacing& p, uint32_t) { EXPECT_TRUE(p.NoteServiceWell()); },
                                {15 * kSecond, 30 * kSecond, kMinute, kMinute, kMinute}}),
    [](const ::testing::TestParamInfo<PauseCase>& info) {
        return std::string(info.param.name) == "no answer" ? std::string("NoAnswer") : std::string("Service");
    });

// Hours without network, then it comes back at any moment of a pause: the
// first request after that goes within two minutes, and the pause's end is
// said once, with the time without answers.
TEST(Pacing, RequestsComeWithinTwoMinutesOfTheNetworkComingBack) {
    for (uint32_t back : {3 * 3600 * kSecond, 3 * 3600 * kSecond + 59 * kSecond, 5 * 3600 * kSecond + 1}) {
        CPacing p;
        uint32_t now = 0;
        EXPECT_TRUE(p.NoteNoAnswer(now));  // the pause begins: logged
        uint32_t next = now;
        for (;;) {
            while (p.NoAnswerPaused(next)) next += 100;
            if (next >= back) break;
            EXPECT_FALSE(p.NoteNoAnswer(next));  // goes on: not logged again
        }
        EXPECT_LE(next - back, 2 * kMinute) << back;
        uint32_t silent = 0;
        EXPECT_TRUE(p.NoteAnswer(next, &silent));
        EXPECT_EQ(silent, next);
        EXPECT_FALSE(p.NoteAnswer(next + 1, &silent));  // said once
    }
}

// What a download pass held by the no-answer pause waits.
TEST(Pacing, NoAnswerWaitIsWhatIsLeftWithinItsBounds) {
    CPacing p;
    for (int k = 0; k < 5; ++k) p.NoteNoAnswer(0);  // a pause of 60 s from 0
    struct Case {
        uint32_t now, wait;
    } cases[] = {{0, kMinute}, {10 * kSecond, 50 * kSecond}, {59 * kSecond + 500, kSecond}, {59999, kSecond}};
    for (const Case& c : cases) EXPECT_EQ(p.NoAnswerWait(c.now), c.wait) << c.now;
}

// ---- Retry-After: honoured when longer, within its bound ---------------------------------------
TEST(Pacing, RetryAfterIsHonouredWithinItsBound) {
    struct Case {
        uint32_t retryAfterMs;
        uint32_t servicePause;   // of page requests, after a first failure
        uint32_t transferPause;  // of download passes, after a transfer's 429
    } cases[] = {
        {0, 15 * kSecond, 42 * kSecond},                    // none given
        {5 * kSecond, 15 * kSecond, 42 * kSecond},          // shorter than ours
        {20 * kSecond, 20 * kSecond, 42 * kSecond},         // between the two
        {2 * kMinute, 2 * kMinute, 2 * kMinute},            // longer: honoured
        {10 * kMinute, 10 * kMinute, 10 * kMinute},         // the bound itself
        {24 * 3600 * kSecond, 10 * kMinute, 10 * kMinute},  // a day: clamped
        {0xFFFFFFFFu, 10 * kMinute, 10 * kMinute},
    };
    for (const Case& c : cases) {
        CPacing p;
        EXPECT_EQ(p.NoteServiceUnwell(c.retryAfterMs, 500), c.servicePause) << c.retryAfterMs;
        EXPECT_TRUE(p.ServicePaused(500 + c.servicePause - 1)) << c.retryAfterMs;
        EXPECT_FALSE(p.ServicePaused(500 + c.servicePause)) << c.retryAfterMs;
        EXPECT_EQ(CPacing::AfterTooManyRequests(c.retryAfterMs), c.transferPause) << c.retryAfterMs;
    }
}

// ---- the API's budget: 45 page requests in any minute ---------------------------------------
TEST(Pacing, FortyFiveRequestsInAnyMinute) {
    for (uint32_t start : {0u, 0xFFFFFFFFu - 30 * kSecond}) {
        CPacing p;
        // 45 requests spread over the first 44 s.
        for (uint32_t k = 0; k < 45; ++k) {
            const uint32_t t = start + k * kSecond;
            ASSERT_TRUE(p.ApiRequestAllowed(t)) << k;
            p.NoteApiRequest(t);
        }
        EXPECT_FALSE(p.ApiRequestAllowed(start + 45 * kSecond));
        EXPECT_FALSE(p.ApiRequestAllowed(start + kMinute - 1));  // the first is not a minute old
        EXPECT_TRUE(p.ApiRequestAllowed(start + kMinute));       // now it is: one more
        p.NoteApiRequest(start + kMinute);
        EXPECT_FALSE(p.ApiRequestAllowed(start + kMinute + kSecond - 1));
        EXPECT_TRUE(p.ApiRequestAllowed(start + kMinute + kSecond));
    }
}

// ---- the download interval: failures of single wallpapers, a busy service ---------------------
TEST(Pacing, ManyWallpapersFailingInARowStretchTheIntervalUpToItsCap) {
    CPacing p;
    uint32_t interval = CPacing::kDownloadIntervalMs;
    std::vector<uint32_t> seen;
    for (int k = 0; k < 60; ++k) seen.push_back(interval = p.AfterItemFailure(interval));
    const size_t first = CPacing::kItemFailuresBeforeSlowing - 1;  // the 16th failure
    ASSERT_EQ(first, 2u * CPacing::kTransfersPerPass - 1);
    for (size_t k = 0; k < first; ++k) EXPECT_EQ(seen[k], 2000u) << "failure " << k + 1;
    EXPECT_EQ(seen[first], 4000u);
    EXPECT_EQ(seen[first + 1], 6000u);
    EXPECT_EQ(seen.back(), CPacing::kMaxDownloadIntervalMs);
    for (size_t k = first + 1; k < seen.size(); ++k) EXPECT_GE(seen[k], seen[k - 1]);
    EXPECT_EQ(p.ItemFailuresInRow(), 60);

    // An image ends the row: the next failures are at the usual pace again.
    struct Case {
        bool nearlyFull;
        uint32_t interval;
    } images[] = {{false, 2000}, {true, 10000}};
    for (const Case& c : images) {
        for (int k = 0; k < 40; ++k) p.AfterItemFailure(CPacing::kMaxDownloadIntervalMs);
        EXPECT_EQ(p.AfterImage(c.nearlyFull), c.interval);
        EXPECT_EQ(p.ItemFailuresInRow(), 0);
        EXPECT_EQ(p.AfterItemFailure(CPacing::kMaxDownloadIntervalMs), 2000u);
    }
    // A stretched interval that went below the usual pace starts from it.
    for (int k = 0; k < 20; ++k) p.AfterItemFailure(2000);
    EXPECT_EQ(p.AfterItemFailure(0), 4000u);
}

TEST(Pacing, BusyServiceStretchesTheIntervalUpToItsCap) {
    struct Case {
        uint32_t before, after;
    } cases[] = {{2000, 4000}, {10000, 12000}, {58000, 60000}, {59000, 60000}, {60000, 60000}};
    for (const Case& c : cases) EXPECT_EQ(CPacing::AfterBusyService(c.before), c.after) << c.before;
}

// ---- a feed whose pages gave nothing new rests before it starts over --------------------------
TEST(Pacing, FeedRestsAfterACycleThatGaveNothingNew) {
    CPacing p;
    const uint32_t hour = CPacing::kRestAfterEmptyCycleMs;
    EXPECT_TRUE(p.StartFeedCycle(2, 1000));   // never seen: starts over at once
    EXPECT_FALSE(p.StartFeedCycle(2, 2000));  // that cycle gave nothing: rests
    EXPECT_FALSE(p.StartFeedCycle(2, 1000 + hour - 1));
    EXPECT_TRUE(p.StartFeedCycle(2, 1000 + hour));
    // A cycle that gave a new wallpaper starts over at once; other feeds are
    // their own.
    p.NoteFeedGaveNew(2);
    EXPECT_TRUE(p.StartFeedCycle(2, 1000 + hour + 1));
    EXPECT_TRUE(p.StartFeedCycle(0, 1000 + hour + 1));
    EXPECT_FALSE(p.StartFeedCycle(2, 1000 + hour + 2));
}

// ---- the free-space floor ----------------------------------------------------------------------
TEST(Pacing, FreeSpaceFloorIsFivePercentWithinOneAndFourGigabytes) {
    constexpr uint64_t GB = 1024ull * 1024 * 1024;
    struct Case {
        uint64_t drive, floor;
    } cases[] = {{0, GB},
                 {8 * GB, GB},
                 {20 * GB, GB},
                 {40000000000ull, 2000000000ull},  // 5 % between the bounds
                 {80000000000ull, 4000000000ull},
                 {100000000000ull, 4 * GB},
                 {2048 * GB, 4 * GB},  // not 100 GB: a user with 80 GB free gets images
                 {UINT64_MAX, 4 * GB}};
    for (const Case& c : cases) EXPECT_EQ(CPacing::FreeSpaceFloor(c.drive), c.floor) << c.drive;
}

TEST(Pacing, RoomBelowTheFloorIsSaidWhenItEndsAndWhenItComesBack) {
    constexpr uint64_t GB = 1024ull * 1024 * 1024;
    using Change = CPacing::SpaceChange;
    struct Step {
        uint64_t available;
        bool room;
        Change change;
    } steps[] = {{50 * GB, true, Change::kNone},     {GB, true, Change::kNone},  // at the floor: room
                 {GB - 1, false, Change::kLow},      {GB / 2, false, Change::kNone},
                 {3 * GB, true, Change::kRoomAgain}, {3 * GB, true, Change::kNone}};
    CPacing p;
    for (const Step& s : steps) {
        Change change = Change::kRoomAgain;
        EXPECT_EQ(p.HasRoom(s.available, 20 * GB, &change), s.room) << s.available;
        EXPECT_EQ(change, s.change) << s.available;
    }
}

// ---- the one reset -----------------------------------------------------------------------------
// A new run, new feeds or a cleared cache start the interval, the failures in
// a row and the feeds' cycles over; the state of the service, the network and
// the drive stays what it is.
TEST(Pacing, ResetStartsThePassesOverAndKeepsTheServiceState) {
    constexpr uint64_t GB = 1024ull * 1024 * 1024;
    CPacing p;
    const uint32_t now = 5000;
    p.SetDownloadInterval(CPacing::kMaxDownloadIntervalMs);
    for (int k = 0; k < 30; ++k) p.AfterItemFailure(CPacing::kMaxDownloadIntervalMs);
    ASSERT_TRUE(p.StartFeedCycle(0, now));
    ASSERT_FALSE(p.StartFeedCycle(0, now));
    p.NoteNoAnswer(now);
    p.NoteServiceUnwell(0, now);
    for (int k = 0; k < CPacing::kApiRequestsPerMinute; ++k) p.NoteApiRequest(now);
    CPacing::SpaceChange change;
    ASSERT_FALSE(p.HasRoom(GB / 2, 20 * GB, &change));

    p.Reset();

    EXPECT_EQ(p.DownloadInterval(), CPacing::kDownloadIntervalMs);
    EXPECT_EQ(p.ItemFailuresInRow(), 0);
    EXPECT_EQ(p.AfterItemFailure(CPacing::kMaxDownloadIntervalMs), CPacing::kDownloadIntervalMs);
    EXPECT_TRUE(p.StartFeedCycle(0, now + 1));
    EXPECT_TRUE(p.NoAnswerPaused(now + 1));
    EXPECT_TRUE(p.ServicePaused(now + 1));
    EXPECT_FALSE(p.ApiRequestAllowed(now + 1));
    EXPECT_FALSE(p.HasRoom(GB / 2, 20 * GB, &change));
    EXPECT_EQ(change, CPacing::SpaceChange::kNone);  // still low: not said again
}

// ---- what an answer says -------------------------------------------------------------------------
ServiceAnswer Got(ServiceAnswer::Kind kind, int status) {
    ServiceAnswer a;
    a.kind = kind;
    a.status = status;
    return a;
}

// A row per kind of answer a transfer can come to (and the kinds only a page
// request comes to, which say nothing of an item).
TEST(Pacing, EachTransferAnswerCountsWhereItBelongs) {
    using A = ServiceAnswer;
    struct Case {
        const char* name;
        A::Kind kind;
        int status;
        bool againstItem, serviceBusy, noAnswer, nothingOfNetwork;
    } cases[] = {
        {"image", A::kDone, 200, false, false, false, false},
        {"404", A::kHttpStatus, 404, true, false, false, false},
        {"410", A::kHttpStatus, 410, true, false, false, false},
        {"400", A::kHttpStatus, 400, true, false, false, false},
        {"403", A::kHttpStatus, 403, true, false, false, false},
        {"408", A::kHttpStatus, 408, false, true, false, false},
        {"429", A::kHttpStatus, 429, false, true, false, false},
        {"500", A::kHttpStatus, 500, false, true, false, false},
        {"503", A::kHttpStatus, 503, false, true, false, false},
        {"not sent", A::kNotSent, 0, false, false, true, false},
        {"write failed after an answer", A::kNotSent, 200, false, false, false, false},
        {"no connection", A::kBroken, 0, false, false, true, false},
        {"stopped", A::kStopped, 0, false, false, false, true},
        {"not an image", A::kNotImage, 200, true, false, false, false},
        {"cut", A::kCutBody, 200, true, false, false, false},
        {"unusable address", A::kUnusableUrl, 0, true, false, false, true},
        {"too large", A::kTooLarge, 200, true, false, false, false},
        {"empty answer", A::kEmpty, 0, false, false, false, false},
        {"answer too large", A::kAnswerTooLarge, 200, false, false, false, false},
        {"unreadable", A::kUnreadable, 200, false, false, false, false},
    };
    for (const Case& c : cases) {
        const ServiceAnswer a = Got(c.kind, c.status);
        EXPECT_EQ(CountsAgainstItem(a), c.againstItem) << c.name;
        EXPECT_EQ(SaysServiceIsBusy(a), c.serviceBusy) << c.name;
        EXPECT_EQ(TransferGotNoAnswer(a), c.noAnswer) << c.name;
        EXPECT_EQ(TransferSaysNothingOfNetwork(a), c.nothingOfNetwork) << c.name;
    }
}

// A row per kind of answer a page request can come to, for both feed types.
TEST(Pacing, EachPageAnswerSaysWhetherTheFeedIsWrong) {
    using A = ServiceAnswer;
    struct Case {
        const char* name;
        A::Kind kind;
        int status;
        bool searchWrong, collectionWrong, noAnswer;
    } cases[] = {
        {"unreadable page", A::kUnreadable, 200, false, false, false},
        {"400", A::kHttpStatus, 400, true, true, false},
        {"401", A::kHttpStatus, 401, true, true, false},
        {"403", A::kHttpStatus, 403, true, true, false},
        {"422", A::kHttpStatus, 422, true, true, false},
        {"404", A::kHttpStatus, 404, false, true,
         false},  // a collection gone; a search's 404 is the service's
        {"410", A::kHttpStatus, 410, false, true, false},
        {"408", A::kHttpStatus, 408, false, false, false},
        {"429", A::kHttpStatus, 429, false, false, false},
        {"500", A::kHttpStatus, 500, false, false, false},
        {"not sent", A::kNotSent, 0, false, false, true},
        {"no connection", A::kBroken, 0, false, false, true},
        {"broken after a status", A::kBroken, 200, false, false, false},
        {"no connection, no text", A::kEmpty, 0, false, false, true},
        {"empty answer", A::kEmpty, 200, false, false, false},
        {"answer too large", A::kAnswerTooLarge, 200, false, false, false},
        {"stopped", A::kStopped, 0, false, false, true},
    };
    for (const Case& c : cases) {
        const ServiceAnswer a = Got(c.kind, c.status);
        EXPECT_EQ(PageSaysFeedIsWrong(0, a), c.searchWrong) << c.name;
        EXPECT_EQ(PageSaysFeedIsWrong(1, a), c.collectionWrong) << c.name;
        EXPECT_EQ(PageGotNoAnswer(a), c.noAnswer) << c.name;
        EXPECT_TRUE(PageSaysFeedIsWrong(2, a)) << c.name;  // a feed of no known type
    }
}

}  // namespace
