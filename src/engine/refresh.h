// The refresh pass: one page of every enabled feed that wants one, into the
// feed's pool, and the restart of a feed's paging once it is used up
// (refresh.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "engine/image_folder.h"

class CRefreshPass : public CImageFolder {
  public:
    using CImageFolder::CImageFolder;

    // Failed page requests that said the feed is wrong before it is disabled.
    static constexpr int kRetriesBeforeDisable = 10;

    // One pass; returns the number of feeds that took a page.
    int Refresh(int unused) EXCLUDES(m_stateLock);
    // Starts the feed's paging over (a new seed, page 1).
    void RotateFeed(int feed) EXCLUDES(m_stateLock);

  protected:
    ~CRefreshPass() = default;
    void RotateFeedLocked(int feed) REQUIRES(m_stateLock);

  private:
    bool FeedWantsPageLocked(int i, int next) REQUIRES(m_stateLock);
    void TakePageLocked(int i, int next, const CLumoraFeed& asked, CItemArray& items, const std::string& seed,
                        int lastPage) REQUIRES(m_stateLock);
    void CountFailedPageLocked(int i, int type, const ServiceAnswer& answer) REQUIRES(m_stateLock);
    int64_t MaxPhotosOf(const CLumoraFeed& feed) const REQUIRES(m_stateLock);
};
