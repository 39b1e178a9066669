// The download pass: at most one wallpaper per pass from a feed's pool into
// the cache, replacing a shown file when the cache or the feed is at its
// limit (download.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "engine/refresh.h"

// What one download pass did (DownloadImages).
enum DownloadPassResult { kPassIdle = 0, kPassDownloaded = 1, kPassFailed = -1 };

class CDownloadPass : public CRefreshPass {
  public:
    using CRefreshPass::CRefreshPass;

    // The largest image a transfer accepts (far above any real wallpaper).
    static constexpr uint64_t kMaxImageBytes = 200ull * 1024 * 1024;

    // One pass; *interval gets the wait before the next one.
    int DownloadImages(uint32_t* interval) EXCLUDES(m_stateLock);
    // One transfer of a pass; *another: it failed for the wallpaper alone,
    // and the pass may try the next one.
    int DownloadOne(uint32_t* interval, bool* another) EXCLUDES(m_stateLock);
    ServiceAnswer DownloadImage(const std::string& url, const std::string& file);

  protected:
    ~CDownloadPass() = default;
    // A cache above its limit gives up one shown file; whether one went.
    bool TrimOverLimitLocked() REQUIRES(m_stateLock);

  private:
    struct PassLimits;
    struct Pick;
    PassLimits ComputeLimitsLocked() const REQUIRES(m_stateLock);
    bool PickItemLocked(const PassLimits& limits, bool cacheFull, const std::string& globalVictim, Pick* pick)
        REQUIRES(m_stateLock);
    void RotateIfExhaustedLocked(int feed) REQUIRES(m_stateLock);
    std::string GlobalVictimLocked(const PassLimits& limits) REQUIRES(m_stateLock);
    bool RecordDownloadLocked(const Pick& pick, const std::string& path, const std::string& temp)
        REQUIRES(m_stateLock);
    int AnswerFailedTransferLocked(const Pick& pick, const ServiceAnswer& answer, uint32_t* interval)
        REQUIRES(m_stateLock);
    void CountFailedAttemptLocked(const Pick& pick) REQUIRES(m_stateLock);
    void AskPageIfPoolLowLocked(int feed) REQUIRES(m_stateLock);
    // The most bytes the next image transfer may write.
    uint64_t ImageCapLocked() REQUIRES(m_stateLock);
    void NoteCacheFullLocked(bool full, int64_t count, int64_t limit) REQUIRES(m_stateLock);
};
