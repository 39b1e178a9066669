// Refresh passes: one page of every enabled feed that wants one, into the
// feed's pool; the pause of page requests while the service is not well; and
// the restart of a feed's paging once it is used up.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "common/host_callback.h"
#include "engine/refresh.h"
#include "engine/line_text.h"
#include "engine/path.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "service/url.h"

namespace {

// Ids and seeds go into line-based state files: a control character would
// split or merge records there. An id that long is no id the service gives.
bool IsUsableId(const std::string& id) {
    return !id.empty() && id.size() <= 255 && !HasControl(id);
}

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

// Page + 1; beyond the 32-bit range it wraps negative: start over.
int NextPage(const CLumoraFeed& feed) {
    const int64_t next = static_cast<int64_t>(feed.Page) + 1;
    return (next < 1 || next > INT_MAX) ? 1 : static_cast<int>(next);
}

// A wallpaper's address must be one a transfer can fetch: http or https with
// a server. Anything else (empty, relative, ftp://, a mail address) would
// sit in the pool for good, since no answer ever counts against it.
bool IsUsableAddress(const std::string& url) {
    CUrlParts parts;
    return SplitUrl(url, parts) && (parts.service == kServiceHttp || parts.service == kServiceHttps) &&
           !HasControl(url);
}

enum FeedLogState { kNoState, kDisabled, kAllPagesDone, kFeedFull, kMaxPhotos };

}  // namespace

int CRefreshPass::Refresh(int) {
    Lock lock(*this);
    ApplyPendingApiKey();
    const double now = m_clock->LocalNow();
    if (m_closing.load()) return 0;

    if (m_cache.LastTime().m_valid && now < m_cache.LastTime().m_dt) {
        m_cache.LastTime() = COleDateTime();
        LogMessage("Refresh: fixed timestamp");
    }
    const double minutes = WholeMinutes(now - m_cache.LastTime().m_dt);
    // A folder that is away (its drive unplugged) takes no pages: their
    // wallpapers could not be stored, and its list cannot be read.
    if (!ImageFolderPresentLocked("Refresh")) return 0;
    HealDeletedFoldersLocked();

    int result = 0;
    for (int i = 0; i < m_feeds.GetSize(); ++i) {
        if (m_closing.load()) break;
        const int next = NextPage(m_feeds[i]);
        if (!FeedWantsPageLocked(i, next)) continue;
        const uint32_t tick = m_clock->TickCount();
        if (m_pacing.ServicePaused(tick) || m_pacing.NoAnswerPaused(tick) ||
            !m_pacing.ApiRequestAllowed(tick))
            break;
        LogMessage("Refresh %d: page=%d, lastTm=%s, min=%.1f, retries=%d", i, next,
                   plat::OleDateToText(m_cache.LastTime().m_dt).c_str(), minutes, m_feeds[i].Retries);

        // The request runs without the lock, on copies: the host's thread
        // must be able to change feeds or clean the cache meanwhile.
        CLumoraFeed asked;
        asked = m_feeds[i];  // fields only, not the pool
        const uint32_t generation = m_generation;
        CItemArray items;
        std::string seed = asked.Seed;
        int lastPage = 0, total = 0;
        const bool sent = asked.Type == 0 || asked.Type == 1;
        ServiceAnswer answer;
        if (!sent) answer.kind = ServiceAnswer::kNotSent;
        lock.Unlock();
        if (sent) {
            if (asked.Type == 0)
                answer = m_client->QuerySearchPage(asked, next, items, seed, lastPage, total);
            else
                answer = m_client->QueryCollectionPage(asked.Username.c_str(), asked.CollId.c_str(),
                                                       asked.Purity.c_str(), next, items, lastPage, total);
        }
        lock.Relock();
        if (sent) m_pacing.NoteApiRequest(m_clock->TickCount());

        if (generation != m_generation || i >= m_feeds.GetSize()) {
            // The feed list or the cache changed under the request: its
            // answer belongs to a state that no longer exists.
            LogMessage("Refresh %d: feeds changed during the request, answer dropped", i);
        } else if (answer.Ok()) {
            NoteAnswerLocked("Refresh");
            TakePageLocked(i, next, asked, items, seed, lastPage);
            result = 1;
        } else if (!m_closing.load()) {
            // A request that a stop cancelled says nothing about the feed.
            if (sent && PageGotNoAnswer(answer)) {
                NoteNoAnswerLocked("Refresh", answer);
            } else {
                if (sent) NoteAnswerLocked("Refresh");
                CountFailedPageLocked(i, asked.Type, answer);
            }
        }
        if (i < m_feeds.GetSize() - 1 && !m_closing.load()) {
            lock.Unlock();
            m_clock->Sleep(1500);
            lock.Relock();
        }
    }

    if (AllEnabledFeedsDone(m_feeds)) {
        LogMessage("Refresh completed");
        m_cache.LastTime().m_dt = m_clock->LocalNow();
        m_cache.LastTime().m_valid = true;
    }
    if (m_closing.load()) LogMessage("Program closing, refresh interrupted");
    // Nothing changed: nothing to write (a list that went missing is
    // written again).
    SaveFileList(ListSave::kPassEnd);
    return result;
}

// Whether feed i asks for a page in this pass; logs the reason when it does
// not, once when that reason begins.
bool CRefreshPass::FeedWantsPageLocked(int i, int next) {
    const CLumoraFeed& feed = m_feeds[i];
    if (!feed.IsEnabled()) {
        if (m_said.Changed(CLoggedStates::kRefreshFeed, i, kDisabled))
            LogMessage("Refresh %d: is disabled (retries %d)", i, feed.Retries);
        return false;
    }
    if (feed.LastPage > 0 && next > feed.LastPage) {
        if (m_said.Changed(CLoggedStates::kRefreshFeed, i, kAllPagesDone))
            LogMessage("Refresh %d: all pages done (last=%d)", i, feed.LastPage);
        return false;
    }
    const int maxLocal = m_settings.MaxLocal;
    const int files = CountFeedFiles(i);
    // A feed at its own limit still asks when its pool is empty and it has a
    // shown file to give up for a new one: otherwise it would keep the same
    // images for good.
    // Wallpapers that failed do not count as pooled: a pool of only those
    // asks for the next page, or the feed would wait on them.
    const int untried = m_pools.CountUntried(i, feed.Items);
    if (files >= maxLocal &&
        (maxLocal <= 0 || untried >= CFeedPools::kLowPool || OwnVictimLocked(i).empty())) {
        if (m_said.Changed(CLoggedStates::kRefreshFeed, i, kFeedFull))
            LogMessage("Refresh %d: per-feed cache full (%d/%d)", i, files, maxLocal);
        return false;
    }
    const int64_t held = static_cast<int64_t>(files) + untried;
    const int64_t maxPhotos = MaxPhotosOf(feed);
    if (held >= maxPhotos && feed.Page > 0) {
        if (m_said.Changed(CLoggedStates::kRefreshFeed, i, kMaxPhotos))
            LogMessage("Refresh %d: max photos reached (%d/%d)", i, static_cast<int>(held),
                       static_cast<int>(std::min<int64_t>(maxPhotos, INT_MAX)));
        return false;
    }
    m_said.Changed(CLoggedStates::kRefreshFeed, i, kNoState);
    return true;
}

// The most a feed holds, cached plus pooled: at least 500, and room for a
// pool beside a cache of MaxLocal files (a fixed 500 would stop a feed with a
// larger cache from ever filling it).
int64_t CRefreshPass::MaxPhotosOf(const CLumoraFeed& feed) const {
    const int64_t byCache = 2 * static_cast<int64_t>(m_settings.MaxLocal);
    return std::max<int64_t>(feed.MaxPhotos, byCache);
}

void CRefreshPass::TakePageLocked(int i, int next, const CLumoraFeed& asked, CItemArray& items,
                                  const std::string& seed, int lastPage) {
    CLumoraFeed& f = m_feeds[i];
    f.Page = next;
    f.LastPage = lastPage;
    if (asked.Type == 0) f.Seed = WithoutControls(seed);
    WritePagingState();
    int usable = 0, badIds = 0, badAddresses = 0;
    for (const CLumoraItem& item : items) {
        if (!IsUsableId(item.Id))
            ++badIds;
        else if (!IsUsableAddress(item.Url))
            ++badAddresses;
        else
            ++usable;
    }
    if (badIds)
        LogMessage("Refresh %d: %s with unusable ids dropped", i, Counted(badIds, "item", "items").c_str());
    if (badAddresses)
        LogMessage("Refresh %d: %s with unusable addresses dropped", i,
                   Counted(badAddresses, "item", "items").c_str());
    LogMessage("Refresh %d: %d items found, page %d/%d %s", i, usable, f.Page, f.LastPage,
               (f.Page >= f.LastPage || f.LastPage == 0) ? "(Completed)" : "");
    f.Retries = 0;
    f.Flg |= CLumoraFeed::kQueried;
    bool gaveNew = false;
    for (const CLumoraItem& item : items) {
        if (!IsUsableId(item.Id) || !IsUsableAddress(item.Url)) continue;
        if (m_ids.insert(item.Id)) {
            f.Items.Add(item);
            gaveNew = true;
        }
    }
    if (gaveNew) m_pacing.NoteFeedGaveNew(i);
    if (m_pacing.NoteServiceWell()) LogMessage("Refresh: the service answers again");
}

void CRefreshPass::CountFailedPageLocked(int i, int type, const ServiceAnswer& got) {
    // The log lines print the number they always did.
    const int answer = got.Code();
    const uint32_t retryAfterMs = got.retryAfterMs;
    CLumoraFeed& f = m_feeds[i];
    if (!PageSaysFeedIsWrong(type, got)) {
        // The service is not well: all page requests pause.
        const uint32_t pause = m_pacing.NoteServiceUnwell(retryAfterMs, m_clock->TickCount());
        // The service did answer: the line says what it answered.
        if (answer == 429 && retryAfterMs)
            LogMessage("Refresh %d: the service asks to wait %u s (%d), next request in %u s", i,
                       retryAfterMs / 1000, answer, pause / 1000);
        else if (answer == 429)
            LogMessage("Refresh %d: the service asks to wait, for no given time (%d), next request in %u s",
                       i, answer, pause / 1000);
        else if (answer >= 500 || answer == 408)
            LogMessage("Refresh %d: the service is not available (%d), next request in %u s", i, answer,
                       pause / 1000);
        else
            LogMessage(
                "Refresh %d: the service sent an answer that cannot be read (%d), next request in %u s", i,
                answer, pause / 1000);
        return;
    }
    if (f.Retries < INT_MAX) ++f.Retries;
    if (f.Retries >= 3) {
        f.Seed.clear();
        f.Page = 0;
        f.LastPage = 0;
    }
    if (f.Retries >= kRetriesBeforeDisable) {
        f.Flg &= ~CLumoraFeed::kEnabled;
        LogMessage("     too many errors, disabled");
    }
}

void CRefreshPass::RotateFeed(int i) {
    Lock lock(*this);
    RotateFeedLocked(i);
}

void CRefreshPass::RotateFeedLocked(int i) {
    CLumoraFeed& feed = m_feeds[i];
    m_pools.ForgetFeed(i);
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
    m_cache.LastTime() = COleDateTime();
}
