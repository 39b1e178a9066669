// Shown-file reports, eviction of shown files, clearing a folder's cache,
// and the status rows of the Local Cache dialog.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/image_folder.h"
#include "engine/path.h"
#include "engine/state_format.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "common/host_callback.h"

namespace {

// A delete that failed because the file, or its whole folder (a purity
// folder the user deleted), is not there: the record goes all the same.
bool FileIsGone(int error) {
    return error == plat::kErrFileNotFound || error == plat::kErrPathNotFound;
}

// The first bytes of a file (the status rows need the first lines only; a
// list of 100k records is megabytes).
bool ReadHead(const std::string& path, size_t limit, std::string* bytes) {
    bytes->clear();
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) return false;
    bytes->resize(limit);
    bytes->resize(std::fread(&(*bytes)[0], 1, limit, f));
    std::fclose(f);
    return true;
}

// Deletes the image and, with withSide, its side file; on failure *error
// gets the platform code.
int DeleteImageAndSide(const std::string& path, bool withSide, int* error) {
    std::string side = SidePathOf(path);
    if (withSide && plat::PathExists(side)) plat::DeleteFileAt(side);
    int err = 0;
    bool ok = plat::DeleteFileAt(path, &err);
    if (error) *error = ok ? 0 : err;
    return ok ? 1 : 0;
}

}  // namespace

bool IsCacheFileEntry(const plat::FolderEntry& e) {
    if (e.isFolder || e.isLink) return false;
    const size_t dot = e.name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string ext = plat::FoldCase(e.name.substr(dot + 1));
    bool known = ext == "vprop" || ext == "__t";
    for (const char* k : kImageExtensions) known = known || ext == k;
    return known;
}

void CImageFolder::CleanDispFiles(int count) {
    while (count != 0) {
        --count;
        if (m_dispfiles.IsEmpty()) break;
        std::string shown(m_dispfiles.GetHead().Path);
        m_dispfiles.RemoveHead();

        CFileList::iterator it = m_cache.Records().Find(shown);
        if (it == m_cache.Records().end()) continue;  // not a file of this cache
        std::string path(it->Path);
        // The removal is on disk before the file goes: a crash in between
        // leaves a record the next start checks against the disk.
        if (!RecordFileRemoving(*it)) {
            LogMessage("CleanDispFiles: Unable to Remove %s, the removal can't be recorded", path.c_str());
            continue;
        }
        int error = 0;
        if (DeleteLocalFile(path, &error) || FileIsGone(error)) {
            m_cache.Records().RemoveAt(it);
            LogMessage("CleanDispFiles: Removed %s", path.c_str());
            m_cache.SetDirty(true);
        } else {
            LogMessage("CleanDispFiles: Unable to Remove %s, error %d", path.c_str(), error);
        }
    }
}

int CImageFolder::DeleteLocalFile(const std::string& path, int* error) {
    return DeleteImageAndSide(path, !SideFileShared(path, m_cache.Records()), error);
}

// Deletes a shown file and its record. A file already gone (the user deleted
// it, or its whole folder) leaves with its record; when the folder is gone,
// every record in it does.
void CImageFolder::EvictShownFileLocked(const std::string& shownPath) {
    {
        MutexLock shown(m_shownLock);
        CFileList::iterator r = m_dispfiles.Find(shownPath);
        if (r != m_dispfiles.end()) m_dispfiles.RemoveAt(r);
    }
    CFileList::iterator it = m_cache.Records().Find(shownPath);
    if (it == m_cache.Records().end()) return;
    const std::string path(it->Path);
    // The removal is on disk before the file goes.
    if (!RecordFileRemoving(*it)) {
        LogMessage("CleanDispFiles: Unable to Remove %s, the removal can't be recorded", path.c_str());
        return;
    }
    int error = 0;
    if (DeleteLocalFile(path, &error) || error == plat::kErrFileNotFound || error == plat::kErrPathNotFound) {
        m_cache.Records().RemoveAt(it);
        LogMessage("CleanDispFiles: Removed %s", path.c_str());
        m_cache.SetDirty(true);
        // Its folder gone too (the user deleted a purity folder): every
        // record in it goes now. A file gone alone needs no walk of the list.
        if (error == plat::kErrPathNotFound) HealDeletedFoldersLocked(true);
    } else {
        LogMessage("CleanDispFiles: Unable to Remove %s, error %d", path.c_str(), error);
    }
}

bool CImageFolder::TrimStrayFilesLocked() {
    const int enabled = CountEnabledFeeds();
    const int64_t limit = static_cast<int64_t>(m_settings.MaxLocal) * (enabled > 0 ? enabled : 1);
    if (m_cache.Records().GetCount() <= limit) return false;
    std::string victim;
    {
        MutexLock shown(m_shownLock);
        victim = ShownStrayFileLocked(m_settings.MaxLocal > 9 ? 4 : 1);
    }
    if (victim.empty()) return false;
    const int64_t before = m_cache.Records().GetCount();
    EvictShownFileLocked(victim);
    return m_cache.Records().GetCount() < before;
}

std::string CImageFolder::ShownStrayFileLocked(int displayedMinimum) {
    // The most recent reports stay alone, as for any eviction: the host may
    // be showing them.
    int candidates = m_dispfiles.GetCount() - (displayedMinimum - 1);
    for (CFileList::iterator r = m_dispfiles.begin(); r != m_dispfiles.end() && candidates > 0;
         ++r, --candidates) {
        CFileList::iterator rec = m_cache.Records().Find(r->Path);
        if (rec != m_cache.Records().end() && (rec->FeedIndex < 0 || rec->FeedIndex >= m_feeds.GetSize()))
            return std::string(rec->Path);
    }
    return std::string();
}

// Leaves the most recent reports alone as the global rule does: the host may
// be showing them.
std::string CImageFolder::OwnVictimLocked(int feed) {
    const int displayedMinimum = m_settings.MaxLocal > 9 ? 4 : 1;
    MutexLock shown(m_shownLock);
    int candidates = m_dispfiles.GetCount() - (displayedMinimum - 1);
    for (CFileList::iterator r = m_dispfiles.begin(); r != m_dispfiles.end() && candidates > 0;) {
        CFileList::iterator rec = m_cache.Records().Find(r->Path);
        if (rec == m_cache.Records().end()) {
            // Not (or no longer) a file of this cache: no eviction will use it.
            r = m_dispfiles.RemoveAt(r);
            --candidates;
            continue;
        }
        if (rec->FeedIndex == feed) return std::string(rec->Path);
        ++r;
        --candidates;
    }
    return std::string();
}

void CImageFolder::CleanLocalFiles(ClearCacheResult* result) {
    for (CFileList::iterator it = m_cache.Records().begin(); it != m_cache.Records().end();) {
        std::string path(it->Path);
        int error = 0;
        // Every record goes: a side file shared by two of them goes too.
        if (DeleteImageAndSide(path, true, &error) || FileIsGone(error)) {
            it = m_cache.Records().RemoveAt(it);
            LogMessage("CleanLocalFiles: Removed %s", path.c_str());
            m_cache.SetDirty(true);
            if (result) ++result->deleted;
        } else {
            LogMessage("CleanLocalFiles: Unable to Remove %s, error %d", path.c_str(), error);
            if (result && result->failed++ == 0) {
                result->firstFailed = path;
                result->firstError = error;
            }
            ++it;
        }
    }
}

ClearCacheResult CImageFolder::ClearCacheLocked(const std::string& folder) {
    ClearCacheResult result;
    if (folder.empty()) return result;
    // A folder another host's engine works in is not cleaned under it: its
    // list would name deleted files and the files it adds meanwhile would be
    // left out of this one's. Asked before anything changes.
    const std::string lockPath = PathInFolder(folder, statefmt::kLockName);
    const bool ours = m_hold.lock.Held() && SameFolder(m_hold.lockFolder, folder);
    const bool inUse = IsImageFolder(folder) && m_hold.wantOwner
                           ? !HoldImageFolder()
                           : !ours && plat::FileLock::HeldByOther(lockPath);
    if (inUse) {
        LogMessage("ClearCache: %s is in use by another host, nothing deleted", folder.c_str());
        result.listUnusable = true;
        result.firstFailed = lockPath;
        result.firstError = plat::kErrSharingViolation;
        return result;
    }
    ++m_generation;

    // The cache list always mirrors the image folder's list. Cleaning another
    // folder (the Local Cache dialog shows a folder typed but not yet
    // confirmed) must not put that folder's records in its place: the next
    // write would then drop the image folder's list and orphan its files.
    const bool otherFolder = !IsImageFolder(folder);
    CFileList kept;
    const bool keptDirty = m_cache.Dirty(), keptNotified = m_cache.Notified();
    if (otherFolder) std::swap(kept, m_cache.Records());

    // A list that cannot be read is not replaced by an empty one. While the
    // image folder's list is dirty, memory is the newer (and complete)
    // copy: clean that.
    bool known;
    if (otherFolder)
        known = ReadListFrom(folder);
    else
        known = FileListReady() && (m_cache.Dirty() || ReadListFrom(folder));
    if (!known) {
        LogMessage("ClearCache: the list in %s can't be read, nothing deleted", folder.c_str());
        if (otherFolder) {
            std::swap(kept, m_cache.Records());
            m_cache.SetDirty(keptDirty);
            m_cache.SetNotified(keptNotified);
        }
        result.listUnusable = true;
        result.firstFailed = PathInFolder(folder, statefmt::kListName);
        result.firstError = m_cache.ReadError();  // no such folder, the list in use, ...
        return result;
    }

    // Every removal is on disk before the first file goes (one flush for
    // all): a crash halfway leaves records the next start checks.
    bool recorded = true;
    if (!m_cache.Records().IsEmpty()) {
        std::string entries;
        for (const CFileView d : m_cache.Records())
            if (statefmt::FitsList(d)) entries += statefmt::EncodeJournalRecord('-', d);
        int error = 0;
        recorded = CCacheList::AppendJournal(folder, entries, &error);
        if (!recorded) {
            LogMessage("ClearCache: can't record the removals in %s, error %d; nothing deleted",
                       folder.c_str(), error);
            result.listUnusable = true;
            result.firstFailed = folder;
            result.firstError = error;
        }
    }
    if (recorded) CleanLocalFiles(&result);
    for (CLumoraFeed& feed : m_feeds) {
        feed.Items.RemoveAll();
        feed.Seed.clear();
        feed.Page = 0;
        feed.LastPage = 0;
    }
    m_ids.clear();
    m_cache.LastTime() = COleDateTime();
    if (!m_cache.Write(folder, true, !otherFolder) && !otherFolder) m_cache.SetMustWrite();
    plat::DeleteFileAt(PathInFolder(folder, statefmt::kPagingName));

    if (otherFolder) {
        std::swap(kept, m_cache.Records());
        m_cache.SetDirty(keptDirty);
        m_cache.SetNotified(keptNotified);
        // The pools are empty now; the ids of the files still cached stay
        // known so they are not fetched a second time.
        RebuildIdMap();
    }
    return result;
}

void CImageFolder::GetCacheStatus(const std::string& folder, std::vector<std::string>& names,
                                  std::vector<std::string>& values) {
    AppendListStatus(folder, names, values);
    // Downloads wait while the drive has less free space than the floor:
    // both figures side by side tell a user who sees no new picture why.
    uint64_t available = 0, total = 0;
    int error = 0;
    if (!folder.empty() && plat::FreeSpace(folder, &available, &total, &error)) {
        names.push_back("Free space:");
        values.push_back(std::to_string(available >> 20) + " MB; downloads wait below " +
                         std::to_string(CPacing::FreeSpaceFloor(total) >> 20) + " MB");
    }
}

void CImageFolder::AppendListStatus(const std::string& folder, std::vector<std::string>& names,
                                    std::vector<std::string>& values) {
    // Reads only the two files (no engine data), so it takes no lock.
    std::string bytes;
    int count = 0, found = 0;
    if (!ReadHead(PathInFolder(folder, statefmt::kListName), 4 * statefmt::kListLineMax, &bytes) ||
        !statefmt::DecodeListCounts(bytes.data(), bytes.size(), &count, &found))
        return;
    // A long list on disk lags memory until its journal is folded in: with
    // a journal beside it, the count is the list's and the journal's.
    int cached = 0;
    if (plat::PathExists(PathInFolder(folder, statefmt::kJournalName)) &&
        CCacheList::CountOnDisk(folder, &cached))
        count = cached;
    names.push_back("Cached Files:");
    values.push_back(std::to_string(count));
    if (found > 0) {
        names.push_back("Total Files found:");
        values.push_back(std::to_string(found));
    }

    if (!ReadHead(PathInFolder(folder, statefmt::kPagingName), 16 << 20, &bytes)) return;
    statefmt::DecodedPaging paging;
    statefmt::DecodePaging(bytes.data(), bytes.size(), &paging);
    if (!paging.ok) return;
    names.push_back("Feeds Status:");
    values.push_back(std::string());
    for (const statefmt::PagingEntry& e : paging.entries) {
        if (e.lastPage == 0) continue;
        names.push_back("Current Page:");
        values.push_back(std::to_string(e.page));
        names.push_back("Last Page:");
        values.push_back(std::to_string(e.lastPage));
    }
}
