// Refresh passes: one page of every enabled feed that still has room, into
// the feed's pool; and the restart of a feed's paging once it is used up.
#include <climits>
#include <cmath>
#include <cstdint>

#include "engine/engine.h"
#include "engine/line_text.h"
#include "engine/worker.h"
#include "platform/datetime.h"
#include "common/host_callback.h"

namespace {

// Ids and seeds go into line-based state files: a control character would
// split or merge records there. An id that long is no id the service gives.
bool IsUsableId(const std::string& id) { return !id.empty() && id.size() <= 255 && !HasControl(id); }

// Whole minutes of a span in days, rounded to the nearest second first.
double WholeMinutes(double days) {
    const double halfSecond = 0.5 / 86400.0;
    days += days < 0 ? -halfSecond : halfSecond;
    return std::trunc(days * 1440.0);
}

bool AllEnabledFeedsDone(const CFeedArray& feeds) {
    for (const CLumoraFeed& f : feeds)
        if (f.IsEnabled() && (f.LastPage == 0 || f.Page < f.LastPage)) return false;
    return true;
}

}  // namespace

int CLumoraEngine::Refresh(int) {
    std::unique_lock<std::recursive_mutex> lock(m_data);
    ApplyPendingApiKey();
    const double now = m_clock->LocalNow();
    if (m_closing.load()) return 0;

    if (m_lastTm.m_valid && now < m_lastTm.m_dt) {
        m_lastTm = COleDateTime();
        LogMessage("Refresh: fixed timestamp");
    }
    const double minutes = WholeMinutes(now - m_lastTm.m_dt);

    int result = 0;
    for (int i = 0; i < m_feeds.GetSize(); ++i) {
        if (m_closing.load()) break;
        {
            CLumoraFeed& feed = m_feeds[i];
            if (!feed.IsEnabled()) {
                LogMessage("Refresh %d: is disabled (retries %d)", i, feed.Retries);
                continue;
            }
            // Page + 1 beyond the 32-bit range wraps negative: start over.
            const int64_t next64 = static_cast<int64_t>(feed.Page) + 1;
            const int next = (next64 < 1 || next64 > INT_MAX) ? 1 : static_cast<int>(next64);
            if (feed.LastPage > 0 && next > feed.LastPage) {
                LogMessage("Refresh %d: all pages done (last=%d)", i, feed.LastPage);
                continue;
            }
            const int maxLocal = m_settings.MaxLocal;
            const int files = CountFeedFiles(i);
            if (files >= maxLocal) {
                LogMessage("Refresh %d: per-feed cache full (%d/%d)", i, files, maxLocal);
                continue;
            }
            const int64_t held = static_cast<int64_t>(files) + feed.Items.GetSize();
            if (held >= feed.MaxPhotos && feed.Page > 0) {
                LogMessage("Refresh %d: max photos reached (%d/%d)", i, static_cast<int>(held), feed.MaxPhotos);
                continue;
            }
            LogMessage("Refresh %d: page=%d, lastTm=%s, min=%.1f, retries=%d", i, next,
                       plat::OleDateToText(m_lastTm.m_dt).c_str(), minutes, feed.Retries);

            // The request runs without the lock, on copies: the host's thread
            // must be able to change feeds or clean the cache meanwhile.
            CLumoraFeed query;
            query = feed;  // fields only, not the pool
            const uint32_t generation = m_generation;
            CItemArray items;
            std::string seed = feed.Seed;
            int lastPage = 0, total = 0, ok = 0;
            lock.unlock();
            if (query.Type == 0)
                ok = m_client->QuerySearchPage(query, next, items, seed, lastPage, total);
            else if (query.Type == 1)
                ok = m_client->QueryCollectionPage(query.Username.c_str(), query.CollId.c_str(),
                                                   query.Purity.c_str(), next, items, lastPage, total);
            lock.lock();

            if (generation != m_generation || i >= m_feeds.GetSize()) {
                // The feed list or the cache changed under the request: its
                // answer belongs to a state that no longer exists.
                LogMessage("Refresh %d: feeds changed during the request, answer dropped", i);
            } else if (ok) {
                CLumoraFeed& f = m_feeds[i];
                f.Page = next;
                f.LastPage = lastPage;
                if (query.Type == 0) f.Seed = WithoutControls(seed);
                WritePagingState();
                int usable = 0;
                for (const CLumoraItem& item : items)
                    if (IsUsableId(item.Id)) ++usable;
                if (usable != items.GetSize())
                    LogMessage("Refresh %d: %d items with unusable ids dropped", i, items.GetSize() - usable);
                LogMessage("Refresh %d: %d items found, page %d/%d %s", i, usable, f.Page, f.LastPage,
                           (f.Page >= f.LastPage || f.LastPage == 0) ? "(Completed)" : "");
                f.Retries = 0;
                f.Flg |= CLumoraFeed::kQueried;
                for (const CLumoraItem& item : items) {
                    if (!IsUsableId(item.Id)) continue;
                    if (m_ids.emplace(item.Id, 1).second) f.Items.Add(item);
                }
                result = 1;
            } else {
                CLumoraFeed& f = m_feeds[i];
                if (f.Retries < INT_MAX) ++f.Retries;
                if (f.Retries >= 3) {
                    f.Seed.clear();
                    f.Page = 0;
                    f.LastPage = 0;
                }
                if (f.Retries >= 10) {
                    f.Flg &= ~CLumoraFeed::kEnabled;
                    LogMessage("     too many errors, disabled");
                }
            }
        }
        if (i < m_feeds.GetSize() - 1 && !m_closing.load()) {
            lock.unlock();
            m_clock->Sleep(1500);
            lock.lock();
        }
    }

    if (AllEnabledFeedsDone(m_feeds)) {
        LogMessage("Refresh completed");
        m_lastTm.m_dt = m_clock->LocalNow();
        m_lastTm.m_valid = true;
    }
    if (m_closing.load()) LogMessage("Program closing, refresh interrupted");
    WriteLocalFileList();
    return result;
}

void CLumoraEngine::RotateFeed(int i) {
    std::lock_guard<std::recursive_mutex> g(m_data);
    CLumoraFeed& feed = m_feeds[i];
    feed.Items.RemoveAll();
    if (feed.Sorting != 0 && feed.Type != 1) {
        if (feed.LastPage > 0 && feed.Page >= feed.LastPage) {
            feed.Page = 0;
            feed.LastPage = 0;
            LogMessage("RotateFeed %d: restarting pagination", i);
        }
    } else {
        feed.Seed.clear();
        feed.Page = 0;
        feed.LastPage = 0;
        LogMessage("RotateFeed %d: new paging seed", i);
    }
    WritePagingState();
    RebuildIdMap();
    m_lastTm = COleDateTime();
}
