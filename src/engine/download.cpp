// Download passes: at most one wallpaper per pass from a feed's pool into the
// cache. When the cache, or the feed, is at its limit, the new image replaces
// a file the host has already shown, and that file leaves only once the new
// one has arrived: a failing service never shrinks the folder.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/host_callback.h"
#include "engine/download.h"
#include "engine/vprop.h"
#include "engine/path.h"
#include "platform/fs.h"

namespace {

bool IsEmptyFile(const std::string& path) {
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) return false;
    const bool empty = std::fgetc(f) == EOF;
    std::fclose(f);
    return empty;
}

enum FeedLogState { kNoState, kFeedFull };

}  // namespace

struct CDownloadPass::PassLimits {
    int maxLocal;
    int displayedMinimum;  // shown files on record before one is replaced
    int64_t cacheLimit;    // 64-bit: MaxLocal may be up to 9,999,999 and feeds many
    int64_t fastPaceMark;
};

struct CDownloadPass::Pick {
    int feed = -1;
    int slot = -1;
    CLumoraItem item;
    std::string victim;  // the shown file the new image replaces (empty: none)
};

// A pass brings one wallpaper: when a transfer fails for its wallpaper alone
// (missing, refused, no image), the next one is tried at once, up to a few.
int CDownloadPass::DownloadImages(uint32_t* interval) {
    int result = kPassIdle;
    for (int k = 0; k < CPacing::kTransfersPerPass; ++k) {
        bool another = false;
        const uint32_t before = *interval;
        const int r = DownloadOne(interval, &another);
        if (k > 0 && r == kPassIdle) {
            *interval = before;  // nothing left to try: the failure stands
            break;
        }
        result = r;
        if (!another) break;
    }
    return result;
}

int CDownloadPass::DownloadOne(uint32_t* interval, bool* another) {
    Lock lock(*this);
    if (m_closing.load()) return kPassIdle;
    // No download and no eviction while the image folder's list is unknown.
    if (!FileListReady()) {
        *interval = CPacing::kDownloadIntervalMs;
        return kPassIdle;
    }

    const PassLimits limits = ComputeLimitsLocked();
    const int64_t count = m_cache.Records().GetCount();
    const bool cacheFull = count >= limits.cacheLimit;
    const std::string globalVictim = cacheFull ? GlobalVictimLocked(limits) : std::string();
    if (m_feeds.IsEmpty() && !cacheFull) {
        *interval = CPacing::kDownloadIntervalMs;
        return kPassIdle;
    }
    // The image folder's drive is away (unplugged, a share offline): no
    // transfer could be stored, and none is tried.
    if (!ImageFolderPresentLocked("DownloadImages")) {
        *interval = CPacing::kDownloadIntervalMs;
        return kPassIdle;
    }
    const int nextFeed = m_nextfeed;
    Pick pick;
    if (m_feeds.IsEmpty() || !PickItemLocked(limits, cacheFull, globalVictim, &pick)) {
        if (cacheFull) NoteCacheFullLocked(true, count, limits.cacheLimit);
        SaveFileList(ListSave::kIfChanged);
        *interval = CPacing::kDownloadIntervalMs;
        return kPassIdle;
    }
    // Below the free-space floor no new download starts (and so no shown
    // file leaves). Asked only when there is something to fetch: an idle
    // pass touches no file.
    if (!DiskHasRoom()) {
        SaveFileList(ListSave::kIfChanged);
        *interval = CPacing::kDownloadIntervalMs;
        return kPassIdle;
    }
    if (!cacheFull) NoteCacheFullLocked(false, count, limits.cacheLimit);
    // While requests get no answer at all, one goes out now and then to see
    // whether they get one again; this pass waits for it. The feed keeps its
    // turn.
    if (NoAnswerPausedLocked()) {
        m_nextfeed = nextFeed;
        *interval = m_pacing.NoAnswerWait(m_clock->TickCount());
        return kPassFailed;
    }

    std::string path;
    if (!BuildLocalName(pick.item, NamingLocked(), path)) {
        *interval = CPacing::kDownloadIntervalMs;
        return kPassFailed;
    }
    std::string temp = path;
    ReplaceExtension(temp, "__t");

    // The transfer runs without the lock: a dialog's OK or a cache clean on
    // the host's thread must not wait for it.
    const uint32_t generation = m_generation;
    const uint64_t maxBytes = ImageCapLocked();
    lock.Unlock();
    m_client->m_maxImageBytes = maxBytes;
    const ServiceAnswer answer = DownloadImage(pick.item.Url, temp);
    lock.Relock();
    // Whether anything answered: the same for a page request and a transfer.
    if (TransferGotNoAnswer(answer))
        NoteNoAnswerLocked("DownloadImages", answer);
    else if (!TransferSaysNothingOfNetwork(answer) && !m_closing.load())
        NoteAnswerLocked("DownloadImages");

    if (generation != m_generation) {
        // The feeds or the cache were replaced meanwhile: this file belongs
        // to none of them.
        if (answer.Ok()) plat::DeleteFileAt(temp);
        LogMessage("DownloadImages: feeds changed during the transfer, %s dropped", path.c_str());
        return kPassFailed;
    }
    if (!answer.Ok()) {
        const bool refused = answer.kind == ServiceAnswer::kHttpStatus && answer.status == 403;
        *another = refused || (CountsAgainstItem(answer) && !m_closing.load());
        return AnswerFailedTransferLocked(pick, answer, interval);
    }
    if (!RecordDownloadLocked(pick, path, temp)) return kPassFailed;
    *interval = m_pacing.AfterImage(m_cache.Records().GetCount() >= limits.fastPaceMark);
    return kPassDownloaded;
}

CDownloadPass::PassLimits CDownloadPass::ComputeLimitsLocked() const {
    PassLimits l;
    l.maxLocal = m_settings.MaxLocal;
    l.displayedMinimum = l.maxLocal > 9 ? 4 : 1;
    const int enabled = CountEnabledFeeds();
    l.cacheLimit = static_cast<int64_t>(l.maxLocal) * (enabled > 0 ? enabled : 1);
    l.fastPaceMark = l.cacheLimit * 4 / 5;
    return l;
}

// The next feed in turn that has a wallpaper to fetch and room for it: below
// its own limit and, when the cache is full, with the oldest shown file to
// give up; or at its own limit with one of its own shown files to give up.
bool CDownloadPass::PickItemLocked(const PassLimits& limits, bool cacheFull, const std::string& globalVictim,
                                   Pick* pick) {
    const int n = m_feeds.GetSize();
    const int start = ((m_nextfeed % n) + n) % n;
    for (int k = 0; k < n; ++k) {
        const int i = (start + k) % n;
        CLumoraFeed& feed = m_feeds[i];
        if (!feed.IsEnabled()) continue;
        const int files = CountFeedFiles(i);
        std::string victim;
        if (files >= limits.maxLocal) {
            if (limits.maxLocal > 0 && !feed.Items.IsEmpty()) victim = OwnVictimLocked(i);
            if (victim.empty()) {
                if (m_said.Changed(CLoggedStates::kDownloadFeed, i, kFeedFull))
                    LogMessage("DownloadImages: feed %d per-feed cache full (%d/%d)", i, files,
                               limits.maxLocal);
                // A full feed whose pages are used up starts over, so that
                // it has new images to offer once a file of it was shown.
                if (limits.maxLocal > 0 && feed.Items.IsEmpty()) RotateIfExhaustedLocked(i);
                continue;
            }
        } else {
            if (cacheFull) {
                if (globalVictim.empty()) continue;
                victim = globalVictim;
            }
            m_said.Changed(CLoggedStates::kDownloadFeed, i, kNoState);
        }
        if (feed.Items.IsEmpty()) {
            RotateIfExhaustedLocked(i);
            continue;
        }
        // Its failing wallpapers wait for their next try, behind every
        // untried one.
        const bool pagesLeft = feed.LastPage > 0 && feed.Page < feed.LastPage;
        const int slot = m_pools.PickSlot(i, feed.Items, pagesLeft, m_clock->TickCount());
        if (slot < 0) {
            m_refreshSoon.store(true);  // its next page is what it needs
            continue;
        }
        pick->feed = i;
        pick->slot = slot;
        pick->item = feed.Items[pick->slot];
        pick->victim = victim;
        m_nextfeed = (i + 1) % n;
        return true;
    }
    return false;
}

void CDownloadPass::RotateIfExhaustedLocked(int i) {
    const CLumoraFeed& feed = m_feeds[i];
    if (feed.LastPage <= 0 || feed.Page < feed.LastPage) return;
    // A feed whose last round through the pages found only what is cached
    // rests first.
    if (!m_pacing.StartFeedCycle(i, m_clock->TickCount())) return;
    LogMessage("DownloadImages: feed %d pool exhausted, rotating", i);
    RotateFeedLocked(i);
}

// When the cache is full: the least recently shown file, once enough shown
// files are on record. A report of a file that is not in the cache is used
// up without a victim, one per pass.
std::string CDownloadPass::GlobalVictimLocked(const PassLimits& limits) {
    MutexLock shown(m_shownLock);
    if (m_dispfiles.GetCount() < limits.displayedMinimum || m_dispfiles.IsEmpty()) return std::string();
    const std::string head(m_dispfiles.GetHead().Path);
    if (m_cache.Records().Find(head) == m_cache.Records().end()) {
        m_dispfiles.RemoveHead();
        return std::string();
    }
    // A shown file of no feed (an older list's) makes room first.
    const std::string stray = ShownStrayFileLocked(limits.displayedMinimum);
    return stray.empty() ? head : stray;
}

// A cache above its limit (a host that ended between a new image and the
// shown file it replaced, or a limit the user lowered) gives up one shown
// file, with no replacement, per call: a feed above its own limit first, then
// the cache above the limit of all feeds. Replacements alone would keep it
// above for good.
bool CDownloadPass::TrimOverLimitLocked() {
    const PassLimits limits = ComputeLimitsLocked();
    if (limits.maxLocal <= 0) return false;
    std::string victim;
    for (int i = 0; i < m_feeds.GetSize() && victim.empty(); ++i)
        if (m_feeds[i].IsEnabled() && CountFeedFiles(i) > limits.maxLocal) victim = OwnVictimLocked(i);
    if (victim.empty() && m_cache.Records().GetCount() > limits.cacheLimit)
        victim = GlobalVictimLocked(limits);
    if (victim.empty()) return false;
    const int64_t before = m_cache.Records().GetCount();
    LogMessage("DownloadImages: cache above its limit (%s/%s), a shown file leaves",
               std::to_string(before).c_str(), std::to_string(limits.cacheLimit).c_str());
    EvictShownFileLocked(victim);
    return m_cache.Records().GetCount() < before;
}

bool CDownloadPass::RecordDownloadLocked(const Pick& pick, const std::string& path, const std::string& temp) {
    // A transfer stopped before its first byte, or an empty answer, leaves
    // an empty file: that is no image.
    if (IsEmptyFile(temp)) {
        plat::DeleteFileAt(temp);
        LogMessage("DownloadImages: empty file for %s, dropped", pick.item.Url.c_str());
        CountFailedAttemptLocked(pick);
        return false;
    }
    // The record is on disk before the file has its name: a crash between
    // the two leaves no file the list does not know.
    const CFileData record(path, pick.item.Id, pick.feed);
    if (!RecordFileAdding(record)) {
        plat::DeleteFileAt(temp);
        return false;
    }
    int error = 0;
    if (!plat::MoveReplace(temp, path, &error)) {
        // Recording the final path without the file there would count a
        // ghost in the cache and leave the temporary file for good.
        LogMessage("DownloadImages: can't rename %s, error %d", temp.c_str(), error);
        plat::DeleteFileAt(temp);
        RecordFileGone(record);
        return false;
    }
    if (m_settings.VpropTitle || m_settings.VpropDescr)
        WriteVpropFile(path, pick.item, m_settings.VpropTitle, m_settings.VpropDescr);
    LogMessage("m_lclfiles Add: %s %s (feed %d)", path.c_str(), pick.item.Id.c_str(), pick.feed);
    m_cache.Records().AddTail(record);
    CItemArray& pool = m_feeds[pick.feed].Items;
    m_pools.Remove(pick.feed, pool, pick.slot, pick.item.Id);
    LogMessage("feed %d items removed, size=%d", pick.feed, pool.GetSize());
    AskPageIfPoolLowLocked(pick.feed);
    m_cache.SetDirty(true);
    if (!m_cache.Notified() && m_cache.Records().GetCount() > 4 && m_hosttype.load() == 1) {
        NotifyHost(PHC_NOTIFY_IMAGES);
        m_cache.SetNotified(true);
    }
    // The new image is here: now the shown file it replaces may go.
    if (!pick.victim.empty()) EvictShownFileLocked(pick.victim);
    return true;
}

int CDownloadPass::AnswerFailedTransferLocked(const Pick& pick, const ServiceAnswer& answer,
                                              uint32_t* interval) {
    const bool http = answer.kind == ServiceAnswer::kHttpStatus;
    if (http && answer.status == 403) {
        LogMessage("DownloadImages: 403 Access Denied for %s", pick.item.Url.c_str());
        m_pools.Remove(pick.feed, m_feeds[pick.feed].Items, pick.slot, pick.item.Id);
        *interval = CPacing::kDownloadIntervalMs;
        return kPassFailed;
    }
    // A transfer the stop ended says nothing about the wallpaper.
    if (answer.kind == ServiceAnswer::kStopped || m_closing.load()) return kPassFailed;
    if (http && answer.status == 429) {
        *interval = CPacing::AfterTooManyRequests(answer.retryAfterMs);
    } else if (SaysServiceIsBusy(answer)) {
        *interval = CPacing::AfterBusyService(*interval);
    } else if (CountsAgainstItem(answer)) {
        *interval = m_pacing.AfterItemFailure(*interval);
        CountFailedAttemptLocked(pick);
    } else if ((answer.kind == ServiceAnswer::kNotSent || answer.kind == ServiceAnswer::kBroken) &&
               NoAnswerPausedLocked()) {
        // No answer: the shared pause decides when the next request goes.
        *interval = m_pacing.NoAnswerWait(m_clock->TickCount());
    }
    return kPassFailed;
}

void CDownloadPass::CountFailedAttemptLocked(const Pick& pick) {
    // The last of its attempts takes it out of its pool; its id stays known,
    // so refresh passes do not add it again until the id set is rebuilt (a
    // rotation gives it another chance).
    const int attempts = m_pools.CountFailure(pick.feed, m_feeds[pick.feed].Items, pick.slot, pick.item.Id,
                                              m_clock->TickCount());
    if (attempts >= CFeedPools::kMaxItemAttempts)
        LogMessage("DownloadImages: %s dropped after %d failed attempts", pick.item.Url.c_str(), attempts);
    AskPageIfPoolLowLocked(pick.feed);
}

// The next page is asked as soon as few untried wallpapers are left, not at
// the next timed refresh pass: when the last ones left are bad, the pass
// that finds them all failing would otherwise wait for it.
void CDownloadPass::AskPageIfPoolLowLocked(int feed) {
    if (feed < 0 || feed >= m_feeds.GetSize()) return;
    const CLumoraFeed& f = m_feeds[feed];
    if (f.LastPage > 0 && f.Page >= f.LastPage) return;
    if (m_pools.CountUntried(feed, f.Items) < CFeedPools::kLowPool) m_refreshSoon.store(true);
}

// ---- requests that get no answer ----------------------------------------------------------

// ---- the image folder and its drive --------------------------------------------------------

// The most an image may be: the fixed cap, and never more than the room
// above the free-space floor.
uint64_t CDownloadPass::ImageCapLocked() {
    uint64_t available = 0, total = 0;
    int error = 0;
    if (!plat::FreeSpace(m_settings.ImgFolder, &available, &total, &error)) return kMaxImageBytes;
    const uint64_t floor = CPacing::FreeSpaceFloor(total);
    const uint64_t room = available > floor ? available - floor : 0;
    return std::min(kMaxImageBytes, room);
}

void CDownloadPass::NoteCacheFullLocked(bool full, int64_t count, int64_t limit) {
    if (!m_said.Changed(CLoggedStates::kCacheFull, 0, full ? 1 : 0)) return;
    // Formatted as decimal texts: the limit may not fit an int.
    if (full)
        LogMessage("DownloadImages: cache full (%s/%s)", std::to_string(count).c_str(),
                   std::to_string(limit).c_str());
    else
        LogMessage("DownloadImages: cache has room again (%s/%s)", std::to_string(count).c_str(),
                   std::to_string(limit).c_str());
}

ServiceAnswer CDownloadPass::DownloadImage(const std::string& url, const std::string& file) {
    return m_client->DownloadImage(url, file);
}
