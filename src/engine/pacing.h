// The pacing of the worker's requests: the interval between download passes
// and what stretches it, the pause while requests get no answer, the pause of
// page requests while the service is not well, the API's per-minute budget,
// the rest of a feed whose pages gave nothing new, and the free-space floor.
// It holds times as tick counts handed in by the caller: it never sleeps,
// reads no clock and takes no lock (the engine holds it under its own). It
// writes no log either: the methods say when a state begins or ends, and the
// engine says so in its log.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "service/api.h"

// ---- what an answer says, for the passes ------------------------------------------------------
// A transfer's answer that is about the wallpaper itself: it is missing or
// refused (404, 410, another 4xx), or what came is no wallpaper (a page, a
// body cut off, one beyond the size cap, an address that cannot be fetched).
// Each counts against the item.
bool CountsAgainstItem(const ServiceAnswer& answer);
// A transfer's answer that is the state of the service: 429, 408 or a 5xx.
bool SaysServiceIsBusy(const ServiceAnswer& answer);
// A transfer that got no answer at all (no HTTP status came), the state of
// the network.
bool TransferGotNoAnswer(const ServiceAnswer& answer);
// A transfer that says nothing about the network either way: ended by the
// stop, or an address never sent.
bool TransferSaysNothingOfNetwork(const ServiceAnswer& answer);
// A failed page request of a feed of this type: whether its answer says the
// feed itself is wrong (a bad request or key, a collection that does not
// exist, a feed of no known type), so asking again cannot help. Anything
// else says the service or the network is not well, which passes.
bool PageSaysFeedIsWrong(int type, const ServiceAnswer& answer);
// A failed page request that got no answer at all (the network's state).
bool PageGotNoAnswer(const ServiceAnswer& answer);

class CPacing {
  public:
    // ---- the download interval ---------------------------------------------
    // The usual pause between download passes, and the one after an image
    // when the cache is nearly full (no hurry for the last fifth).
    static constexpr uint32_t kDownloadIntervalMs = 2000;
    static constexpr uint32_t kSlowIntervalMs = 10000;
    // The loop's wait after a pass that had work, and after one that found
    // nothing it could fetch (every feed with wallpapers pooled was at its
    // limit, or none had any). What would give it work wakes the loop: a
    // shown-file report, a dialog's OK, a cache clean; and the next refresh
    // pass comes with the wait.
    static constexpr uint32_t kBusyWaitMs = 1000;
    static constexpr uint32_t kIdleWaitMs = 30000;
    // Transfers one pass may try while each fails for its wallpaper alone
    // (a 404 or a page answers at once): one bad wallpaper must not cost the
    // feed a whole interval.
    static constexpr int kTransfersPerPass = 8;
    // Failures of different wallpapers in a row before they stretch the
    // download interval (a host that fails everything is not hammered).
    // Two passes' worth: one unlucky pass among many bad wallpapers must not
    // hold the next image back by the stretched interval.
    static constexpr int kItemFailuresBeforeSlowing = 2 * kTransfersPerPass;
    // What each stretch adds, and the longest pause between download passes
    // that failures can ask for; a 429's Retry-After may ask longer, up to
    // kMaxRetryAfterMs.
    static constexpr uint32_t kStretchStepMs = 2000;
    static constexpr uint32_t kMaxDownloadIntervalMs = 60000;
    static constexpr uint32_t kMaxRetryAfterMs = 10 * 60000;
    // The pause after a transfer's 429 that gave no longer Retry-After.
    static constexpr uint32_t kTooManyRequestsPauseMs = 42000;

    // ---- pauses --------------------------------------------------------------
    // Pause of all requests while they get no answer at all (no network, no
    // name, no connection): doubles from the first to the longest, so the
    // first request after the network is back comes within two minutes.
    static constexpr uint32_t kFirstNoAnswerPauseMs = 5000;
    static constexpr uint32_t kLongestNoAnswerPauseMs = 60000;
    // The shortest wait of a download pass held by that pause.
    static constexpr uint32_t kShortestNoAnswerWaitMs = 1000;
    // Pause of page requests after an answer that says the service is not
    // well (no connection, 5xx, 429): doubles from the first to the longest.
    static constexpr uint32_t kFirstServicePauseMs = 15000;
    static constexpr uint32_t kLongestServicePauseMs = 60000;
    // The service's rate limit for API requests, and its window.
    static constexpr int kApiRequestsPerMinute = 45;
    static constexpr uint32_t kApiWindowMs = 60000;
    // A feed whose pages gave nothing new (all of it is cached) starts over
    // only after this rest, instead of asking the same pages again and again.
    static constexpr uint32_t kRestAfterEmptyCycleMs = 60 * 60000;

    // ---- the free-space floor: 5 % of the drive, at least 1 GB, at most 4 GB
    // (5 % of a large drive would keep a user with plenty of room waiting).
    static constexpr uint64_t kFloorMinBytes = 1024ull * 1024 * 1024;
    static constexpr uint64_t kFloorMaxBytes = 4 * kFloorMinBytes;
    static constexpr int kFloorPercent = 5;
    static uint64_t FreeSpaceFloor(uint64_t driveBytes);

    // The one reset, when a run starts and when the feeds or the cache are
    // replaced: the interval, the failures in a row and the feeds' cycles
    // start over. The pauses, the API budget and the free-space state stay:
    // they are the state of the service, the network and the drive, which a
    // new run or a new feed list does not change.
    void Reset();

    // ---- the download interval ---------------------------------------------
    // The interval the last download pass asked for (what the worker waits).
    uint32_t DownloadInterval() const { return m_downloadInterval; }
    void SetDownloadInterval(uint32_t ms) { m_downloadInterval = ms; }
    // The loop's wait after a download pass (busy: it had work).
    static uint32_t WaitAfterPass(bool busy) { return busy ? kBusyWaitMs : kIdleWaitMs; }
    // After a new image: the next one comes at the usual pace, or slower
    // once the cache is nearly full; failures in a row start over.
    uint32_t AfterImage(bool nearlyFull);
    // After a transfer that failed for its wallpaper alone: one wallpaper
    // failing says nothing about the others, only many in a row stretch the
    // interval (from at least the usual pace).
    uint32_t AfterItemFailure(uint32_t interval);
    // After a transfer the service refused as busy (5xx, 408): a stretch.
    static uint32_t AfterBusyService(uint32_t interval);
    // After a transfer's 429: its Retry-After when longer than the usual
    // pause, within kMaxRetryAfterMs.
    static uint32_t AfterTooManyRequests(uint32_t retryAfterMs);
    int ItemFailuresInRow() const { return m_itemFailuresInRow; }

    // ---- requests that get no answer ---------------------------------------
    bool NoAnswerPaused(uint32_t now) const;
    // What a download pass held by the pause waits: what is left of it,
    // within kShortestNoAnswerWaitMs and kLongestNoAnswerPauseMs.
    uint32_t NoAnswerWait(uint32_t now) const;
    // A request got no answer: the pause doubles, up to the longest. True
    // when the pause begins (the engine logs that, not every request).
    bool NoteNoAnswer(uint32_t now);
    // A request got an answer. True when that ends a pause; *silentMs is
    // then how long answers stayed away.
    bool NoteAnswer(uint32_t now, uint32_t* silentMs);

    // ---- the service's pause of page requests ------------------------------
    bool ServicePaused(uint32_t now) const;
    // The service is not well: page requests pause, longer after each
    // failure in a row, and never shorter than the service asked for
    // (within kMaxRetryAfterMs). Returns the pause.
    uint32_t NoteServiceUnwell(uint32_t retryAfterMs, uint32_t now);
    // A page came: the pause ends. True when one was on.
    bool NoteServiceWell();

    // ---- the API budget ------------------------------------------------------
    bool ApiRequestAllowed(uint32_t now);
    void NoteApiRequest(uint32_t now);

    // ---- a feed's rest after a cycle of pages that gave nothing new ---------
    void NoteFeedGaveNew(int feed);
    // Whether a feed whose pages are used up may start over now; when it
    // may, its rest and its new cycle begin (the caller rotates it).
    bool StartFeedCycle(int feed, uint32_t now);

    // ---- the free-space floor --------------------------------------------------
    enum class SpaceChange { kNone, kLow, kRoomAgain };
    // Whether available bytes of a drive of total bytes are above the floor;
    // *change says when downloads stop or go on (the engine logs it once).
    bool HasRoom(uint64_t available, uint64_t total, SpaceChange* change);

  private:
    uint32_t m_downloadInterval = kDownloadIntervalMs;
    int m_itemFailuresInRow = 0;
    // Requests that get no answer at all pause every request (page or
    // transfer) until m_noAnswerUntil; m_noAnswerPauseMs 0: not paused.
    uint32_t m_noAnswerPauseMs = 0;
    uint32_t m_noAnswerUntil = 0;
    uint32_t m_noAnswerSince = 0;
    uint32_t m_servicePauseMs = 0;           // the current pause; 0: none
    uint32_t m_servicePauseUntil = 0;        // tick at which page requests may go again
    std::deque<uint32_t> m_apiRequestTicks;  // page requests of the last minute
    // Per feed: whether its pages gave a new wallpaper since it last started
    // over, and until when one that gave none rests before starting again.
    std::vector<char> m_cycleGaveNew;
    std::vector<uint32_t> m_restUntil;
    bool m_lowSpace = false;  // downloads wait for free space
};
