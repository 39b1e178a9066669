// Download passes: at most one wallpaper per pass from a feed's pool into the
// cache, one eviction of a shown file when the cache is full, and the pace of
// the next pass.
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/engine.h"
#include "platform/fs.h"
#include "common/host_callback.h"

namespace {

bool IsEmptyFile(const std::string& path) {
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) return false;
    const bool empty = std::fgetc(f) == EOF;
    std::fclose(f);
    return empty;
}

// Takes the item with this id out of the pool (the last item fills its slot),
// trying the picked index first. False when the item is no longer there.
bool RemovePoolItem(CItemArray& pool, int picked, const std::string& id) {
    int at = -1;
    if (picked < pool.GetSize() && pool[picked].Id == id) {
        at = picked;
    } else {
        for (int k = 0; k < pool.GetSize(); ++k)
            if (pool[k].Id == id) {
                at = k;
                break;
            }
    }
    if (at < 0) return false;
    const int last = pool.GetSize() - 1;
    if (at != last) pool[at] = pool[last];
    pool.RemoveAt(last);
    return true;
}

}  // namespace

int CLumoraEngine::DownloadImages(uint32_t* interval) {
    std::unique_lock<std::recursive_mutex> lock(m_data);
    if (m_closing.load()) return 0;

    // 64-bit: MaxLocal may be up to 9,999,999 and feeds many.
    const int maxLocal = m_settings.MaxLocal;
    const int displayedMinimum = maxLocal > 9 ? 4 : 1;
    const int enabled = CountEnabledFeeds();
    const int64_t cacheLimit = static_cast<int64_t>(maxLocal) * (enabled > 0 ? enabled : 1);
    const int64_t fastPaceMark = cacheLimit * 4 / 5;
    int64_t count = m_lclfiles.GetCount();
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_dispfiles.GetCount() >= displayedMinimum && count >= fastPaceMark && count >= cacheLimit) {
            CleanDispFiles(1);
            count = m_lclfiles.GetCount();
        }
    }
    if (count >= cacheLimit) {
        // Formatted as decimal texts: the limit may not fit an int.
        LogMessage("DownloadImages: cache full (%s/%s)", std::to_string(count).c_str(),
                   std::to_string(cacheLimit).c_str());
        if (m_dirty) WriteLocalFileList();
        m_dirty = 0;
        *interval = 2000;
        return 0;
    }
    if (m_feeds.IsEmpty()) {
        *interval = 2000;
        return 0;
    }

    const int n = m_feeds.GetSize();
    const int start = ((m_nextfeed % n) + n) % n;
    int feedIndex = -1, picked = -1;
    CLumoraItem item;
    for (int k = 0; k < n && feedIndex < 0; ++k) {
        const int i = (start + k) % n;
        CLumoraFeed& feed = m_feeds[i];
        if (!feed.IsEnabled()) continue;
        const int files = CountFeedFiles(i);
        if (files >= maxLocal) {
            LogMessage("DownloadImages: feed %d per-feed cache full (%d/%d)", i, files, maxLocal);
            continue;
        }
        if (feed.Items.IsEmpty()) {
            if (feed.LastPage > 0 && feed.Page >= feed.LastPage) {
                LogMessage("DownloadImages: feed %d pool exhausted, rotating", i);
                RotateFeed(i);
            }
            continue;
        }
        picked = static_cast<int>(GetRandomIndex(static_cast<unsigned>(feed.Items.GetSize())));
        m_nextfeed = (i + 1) % n;
        item = feed.Items[picked];
        feedIndex = i;
    }
    if (feedIndex < 0) {
        if (m_dirty) WriteLocalFileList();
        m_dirty = 0;
        *interval = 2000;
        return 0;
    }

    std::string path;
    BuildLocalName(item, path);
    std::string temp = path;
    ReplaceExtension(temp, "__t");

    // The transfer runs without the lock: a dialog's OK or a cache clean on
    // the host's thread must not wait for it.
    const uint32_t generation = m_generation;
    lock.unlock();
    const int result = DownloadImage(item.Url, temp);
    lock.lock();

    if (generation != m_generation) {
        // The feeds or the cache were replaced meanwhile: this file belongs
        // to none of them.
        if (result == 0) plat::DeleteFileAt(temp);
        LogMessage("DownloadImages: feeds changed during the transfer, %s dropped", path.c_str());
        return -1;
    }
    if (result == 403) {
        LogMessage("DownloadImages: 403 Access Denied for %s", item.Url.c_str());
        RemovePoolItem(m_feeds[feedIndex].Items, picked, item.Id);
        *interval = 2000;
        return -1;
    }
    if (result == 0) {
        // A transfer stopped before its first byte, or an empty answer, leaves
        // an empty file: that is no image.
        if (IsEmptyFile(temp)) {
            plat::DeleteFileAt(temp);
            LogMessage("DownloadImages: empty file for %s, dropped", item.Url.c_str());
            return -1;
        }
        int error = 0;
        if (!plat::MoveReplace(temp, path, &error)) {
            // Recording the final path without the file there would count a
            // ghost in the cache and leave the temporary file for good.
            LogMessage("DownloadImages: can't rename %s, error %d", temp.c_str(), error);
            plat::DeleteFileAt(temp);
            return -1;
        }
        if (m_settings.VpropTitle || m_settings.VpropDescr) WriteVpropFile(path, item);
        LogMessage("m_lclfiles Add: %s %s (feed %d)", path.c_str(), item.Id.c_str(), feedIndex);
        m_lclfiles.AddTail(CFileData(path, item.Id, feedIndex));
        CItemArray& pool = m_feeds[feedIndex].Items;
        RemovePoolItem(pool, picked, item.Id);
        LogMessage("feed %d items removed, size=%d", feedIndex, pool.GetSize());
        m_dirty = 1;
        if (!m_notified && m_lclfiles.GetCount() > 4 && m_hosttype.load() == 1) {
            NotifyHost(PHC_NOTIFY_IMAGES);
            m_notified = 1;
        }
        *interval = m_lclfiles.GetCount() < fastPaceMark ? 2000 : 10000;
        return 1;
    }
    if (result == 429) *interval = 40000;
    if (result >= 400) *interval += 2000;
    return -1;
}

int CLumoraEngine::DownloadImage(const std::string& url, const std::string& file) {
    return m_client->DownloadImage(url, file);
}
