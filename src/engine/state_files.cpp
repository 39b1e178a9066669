// The engine's side of the run-state files of an image folder: which
// folder's cache list is in memory and when it is read and written (the
// list, its journal and their bytes are CCacheList's), the folder's lock,
// the paging state "vdt_vd_paging.lst", free space and stale temporary
// files.
//
// Nothing on disk may be forgotten: the paging state is written whole to a
// "__t" file beside it, flushed, and then moved over the old file.
#include <cstdio>
#include <new>
#include <set>
#include <unordered_map>
#include <vector>

#include "engine/image_folder.h"
#include "engine/line_text.h"
#include "engine/path.h"
#include "engine/state_format.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "common/host_callback.h"

using statefmt::kJournalName;
using statefmt::kListName;
using statefmt::kPagingName;

namespace {

// The folder a state-file call names: its argument, or the image folder.
std::string TargetFolder(const char* folder, const CLumoraSettings& settings) {
    return (folder && *folder) ? std::string(folder) : settings.ImgFolder;
}

// Reads a whole file; false with the platform's error code when it cannot.
bool ReadWholeFile(const std::string& path, std::string* bytes, int* error) {
    bytes->clear();
    *error = 0;
    FILE* f = plat::OpenFileChecked(path, "rb", error);
    if (!f) return false;
    // One read of the size the file has now; what a writer adds meanwhile
    // is read after it.
    long size = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
    std::rewind(f);
    if (size > 0) {
        bytes->resize(static_cast<size_t>(size));
        bytes->resize(std::fread(&(*bytes)[0], 1, bytes->size(), f));
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) *error = 30;  // ERROR_READ_FAULT
    return ok;
}

std::string Bytes(uint64_t n) {
    return std::to_string(n / (1024 * 1024)) + " MB";
}

}  // namespace

// ---- reading ------------------------------------------------------------------------

bool CImageFolder::IsImageFolder(const std::string& dir) const {
    return dir == m_settings.ImgFolder || SameFolder(dir, m_settings.ImgFolder);
}

void CImageFolder::ReadLocalFileList(const char* folder) {
    ReadListFrom(TargetFolder(folder, m_settings));
}

bool CImageFolder::ReadListFrom(const std::string& dir) {
    const CCacheList::ReadResult read = m_cache.Read(dir, IsImageFolder(dir));
    if (read.idsStale) RebuildIdMap();
    if (read.listFile) {
        ReadPagingState(dir.c_str());
        LogMessage("ReadLocalFileList: file list loaded (%d local, v%d)", m_cache.Records().GetCount(),
                   read.version);
    }
    return read.read;
}

// ---- the image folder's list in memory ----------------------------------------------------

bool CImageFolder::FileListReady() {
    const std::string& dir = m_settings.ImgFolder;
    if (m_cache.GetStatus() != CCacheList::kNotRead && !SameFolder(m_cache.Folder(), dir)) {
        // The image folder changed: the old folder keeps its own list (all
        // of it is on disk there, in the list or its journal), and the new
        // one starts from its own.
        if (m_cache.GetStatus() == CCacheList::kRead && (m_cache.Dirty() || m_cache.MustWrite()) &&
            !m_hold.otherOwner && !m_hold.takeOver) {
            const std::string old = m_cache.Folder();
            if (m_cache.Write(old, true, IsImageFolder(old))) m_cache.SetDirty(false);
        }
        LogMessage("ReadLocalFileList: image folder changed to %s", dir.c_str());
        ++m_generation;  // a transfer under way belongs to the old folder
        m_hold.otherOwner = false;
        if (!HoldImageFolder()) {
            // Read once the other engine lets the folder go.
            m_cache.Forget(dir);
            return false;
        }
        m_hold.takeOver = false;
        ReadListFrom(dir);
    } else {
        if (!HoldImageFolder()) return false;
        if (m_hold.takeOver) {
            // Another engine changed the folder while this one waited: what
            // memory holds is stale. Start as a worker starts.
            m_hold.takeOver = false;
            RemoveStaleTempFiles();
            ReadListFrom(dir);
        } else if (m_cache.GetStatus() == CCacheList::kUnreadable) {
            ReadListFrom(dir);
        }
    }
    return m_cache.GetStatus() != CCacheList::kUnreadable;
}

bool CImageFolder::HoldImageFolder() {
    if (!m_hold.wantOwner) return true;
    const std::string& dir = m_settings.ImgFolder;
    if (dir.empty()) return true;  // no folder: the passes say so themselves
    if (m_hold.lock.Held() && SameFolder(m_hold.lockFolder, dir)) return true;
    m_hold.lock.Release();  // another folder's
    int error = 0;
    if (m_hold.lock.Take(PathInFolder(dir, statefmt::kLockName), &error)) {
        m_hold.lockFolder = dir;
        if (m_hold.otherOwner) {
            LogMessage("ReadLocalFileList: %s is free again, this host goes on with it", dir.c_str());
            m_hold.otherOwner = false;
        }
        return true;
    }
    // A folder that is away or cannot take a file has no lock to hold: the
    // list's own checks decide what can be done there.
    if (error != plat::kErrSharingViolation) return !m_hold.otherOwner;
    if (!m_hold.otherOwner)
        LogMessage(
            "ReadLocalFileList: %s is in use by another host; no page requests and no downloads "
            "here until it is free",
            dir.c_str());
    m_hold.otherOwner = true;
    m_hold.takeOver = true;  // the other engine changes the folder meanwhile
    return false;
}

void CImageFolder::BeginRun() {
    m_hold.wantOwner = true;
    m_hold.otherOwner = false;
    m_hold.takeOver = false;
    // Without the folder nothing is read or cleaned now: that happens when
    // the other engine lets it go (FileListReady).
    if (!HoldImageFolder()) return;
    RemoveStaleTempFiles();
    ReadLocalFileList();
}

void CImageFolder::EndRun() {
    if (HoldImageFolder() && !m_hold.takeOver) SaveFileList(ListSave::kNow);
    m_hold.lock.Release();
    m_hold.wantOwner = false;
    m_hold.otherOwner = false;
}

bool CImageFolder::RecordInJournal(char op, const CFileData& record) {
    if (!statefmt::FitsList(record)) {
        LogMessage("m_lclfiles: record can't be stored, %s %s", statefmt::Printable(record.Id).c_str(),
                   statefmt::Printable(record.Path).c_str());
        return false;
    }
    if (!FileListReady()) return false;
    const std::string dir =
        m_cache.GetStatus() == CCacheList::kNotRead ? m_settings.ImgFolder : m_cache.Folder();
    return m_cache.Record(op, record, dir);
}

bool CImageFolder::RecordFileAdding(const CFileData& record) {
    return RecordInJournal('+', record);
}

void CImageFolder::RecordFileGone(const CFileData& record) {
    RecordInJournal('-', record);
}

bool CImageFolder::RecordFileRemoving(const CFileData& record) {
    return RecordInJournal('-', record);
}

// ---- writing ------------------------------------------------------------------------------

bool CImageFolder::SaveFileList(ListSave how, const char* folder) {
    const std::string dir = TargetFolder(folder, m_settings);
    const bool imageFolder = IsImageFolder(dir);
    if (how != ListSave::kAlways) {
        // Another engine's folder: nothing of this one's to write there.
        if (!HoldImageFolder()) return true;
        // At the end of a pass, a list that went missing (deleted by hand)
        // is written again.
        const bool due = m_cache.SaveDue(how) ||
                         (how == ListSave::kPassEnd && !plat::PathExists(PathInFolder(dir, kListName)));
        if (!due) return true;
    }
    if (imageFolder && !FileListReady()) {
        LogMessage("WriteLocalFileList: the list in %s could not be read; not replaced", dir.c_str());
        return false;
    }
    // Memory holds this folder's list and journal: the write makes the
    // journal obsolete.
    if (!m_cache.Write(dir, m_cache.Mirrors(dir, imageFolder), imageFolder)) return false;
    if (how != ListSave::kAlways) m_cache.SetDirty(false);
    return true;
}

// ---- paging ---------------------------------------------------------------------------------

void CImageFolder::WritePagingState(const char* folder) {
    if ((!folder || !*folder) && !HoldImageFolder()) return;
    const std::string bytes = statefmt::EncodePaging(m_feeds);
    ReplaceFileDurably(PathInFolder(TargetFolder(folder, m_settings), kPagingName), "WritePagingState",
                       [&bytes](FILE* f) { return plat::WriteAll(f, bytes.data(), bytes.size()); });
}

void CImageFolder::ReadPagingState(const char* folder) {
    std::string bytes;
    int error = 0;
    if (!ReadWholeFile(PathInFolder(TargetFolder(folder, m_settings), kPagingName), &bytes, &error)) {
        LogMessage("ReadPagingState: file not found");
        return;
    }
    statefmt::DecodedPaging paging;
    statefmt::DecodePaging(bytes.data(), bytes.size(), &paging);
    if (!paging.ok) {
        LogMessage("ReadPagingState: wrong header");
        return;
    }
    int m = paging.stored < m_feeds.GetSize() ? paging.stored : m_feeds.GetSize();
    if (m < 0) m = 0;
    for (int k = 0; k < m && k < static_cast<int>(paging.entries.size()); ++k) {
        CLumoraFeed& feed = m_feeds[k];
        feed.Seed = paging.entries[k].seed;
        feed.Page = paging.entries[k].page;
        feed.LastPage = paging.entries[k].lastPage;
        LogMessage("ReadPagingState: %d current page = %d", k, feed.Page);
    }
    LogMessage("ReadPagingState: loaded (%d feeds)", m);
}

// ---- free space -------------------------------------------------------------------------------

bool CImageFolder::DiskHasRoom() {
    uint64_t available = 0, total = 0;
    int error = 0;
    // A drive that cannot tell is no reason to stop.
    if (!plat::FreeSpace(m_settings.ImgFolder, &available, &total, &error)) return true;
    CPacing::SpaceChange change;
    const bool room = m_pacing.HasRoom(available, total, &change);
    if (change == CPacing::SpaceChange::kRoomAgain)
        LogMessage("DownloadImages: free space %s again, downloads go on", Bytes(available).c_str());
    else if (change == CPacing::SpaceChange::kLow)
        LogMessage("DownloadImages: only %s free on the drive of %s (floor %s), no new downloads",
                   Bytes(available).c_str(), m_settings.ImgFolder.c_str(),
                   Bytes(CPacing::FreeSpaceFloor(total)).c_str());
    return room;
}

// ---- stale temporary files ------------------------------------------------------------------------

namespace {

// The first name below dir of every path the list and the journal on disk
// name (folded): the purity folders of files cached in earlier runs, known
// before the list is read.
std::set<std::string> FoldersNamedOnDisk(const std::string& dir) {
    std::set<std::string> out;
    const CFolderGate gate(dir);
    std::string base = dir;
    AddBackslash(base);
    const std::string foldedBase = FoldPathCase(base);
    auto add = [&](const std::string& path) {
        const std::string p = FoldPathCase(path);
        if (p.compare(0, foldedBase.size(), foldedBase) != 0) return;
        const size_t end = p.find_first_of("/\\", foldedBase.size());
        if (end != std::string::npos) out.insert(p.substr(foldedBase.size(), end - foldedBase.size()));
    };
    CCacheList::ForEachPathOnDisk(dir, add);
    return out;
}

}  // namespace

void CImageFolder::RemoveStaleTempFiles(const char* folder) {
    std::string dir = TargetFolder(folder, m_settings);
    // Without an image folder the names would be relative to whatever the
    // current folder is: touch nothing there.
    if (dir.empty()) return;
    auto isTemp = [](const std::string& name) {
        return name.size() > 4 && plat::FoldCase(name.substr(name.size() - 4)) == ".__t";
    };
    auto clean = [&](const std::string& where, const std::vector<plat::FolderEntry>& entries) {
        std::string base = where;
        AddBackslash(base);
        for (const plat::FolderEntry& e : entries) {
            if (e.isFolder || e.isLink || !isTemp(e.name)) continue;
            int error = 0;
            if (plat::DeleteFileAt(base + e.name, &error))
                LogMessage("RemoveStaleTempFiles: removed %s%s", base.c_str(), e.name.c_str());
            else
                LogMessage("RemoveStaleTempFiles: Unable to Remove %s%s, error %d", base.c_str(),
                           e.name.c_str(), error);
        }
    };
    std::vector<plat::FolderEntry> top, inner;
    if (!plat::ListFolder(dir, &top)) return;
    clean(dir, top);
    std::string base = dir;
    AddBackslash(base);
    // Only the folders this plug-in makes (a purity folder), and never
    // through a link or junction to somewhere else. This runs before the
    // list is read: a purity folder is known by its name, by the list and
    // journal on disk, or by holding nothing but the plug-in's kinds of
    // files (the first download into a new one may have been cut).
    // A purity folder holds the cached files (100k of them, maybe): one
    // known by its name or the list is asked for its temporary files alone
    // (a whole listing of it leaves wine holding megabytes); only another
    // folder is listed whole, to see whether all it holds is of the
    // plug-in's kinds.
    const std::set<std::string> named = FoldersNamedOnDisk(dir);
    for (const plat::FolderEntry& e : top) {
        if (!e.isFolder || e.isLink) continue;
        inner.clear();
        const std::string sub = base + e.name;
        auto keepTemp = [&](const plat::FolderEntry& f) {
            if (!f.isFolder && !f.isLink && isTemp(f.name)) inner.push_back(f);
        };
        if (IsPurityFolderName(e.name, m_settings.ImgFolder, m_cache.Records()) ||
            named.count(FoldPathCase(e.name))) {
            if (plat::ForEachFolderEntryEndingIn(sub, ".__t", keepTemp)) clean(sub, inner);
            continue;
        }
        bool any = false, onlyCacheFiles = true;
        const bool listed = plat::ForEachFolderEntry(sub, [&](const plat::FolderEntry& f) {
            any = true;
            if (!IsCacheFileEntry(f)) onlyCacheFiles = false;
            keepTemp(f);
        });
        if (listed && any && onlyCacheFiles) clean(sub, inner);
    }
}

// ---- records, the folder and its drive ----------------------------------------------------

int CImageFolder::CountFeedFiles(int feedIndex) const {
    return m_cache.Records().CountFeed(feedIndex);
}

void CImageFolder::RebuildIdMap() {
    m_ids.clear();
    size_t expected = static_cast<size_t>(m_cache.Records().GetCount());
    for (const CLumoraFeed& f : m_feeds) expected += static_cast<size_t>(f.Items.GetSize());
    m_ids.reserve(expected);
    for (const CFileView d : m_cache.Records())
        if (!d.Id.empty()) m_ids.insert(d.Id);
    for (const CLumoraFeed& f : m_feeds)
        for (const CLumoraItem& item : f.Items)
            if (!item.Id.empty()) m_ids.insert(item.Id);
}

bool CImageFolder::ImageFolderPresentLocked(const char* who) {
    const std::string& dir = m_settings.ImgFolder;
    if (dir.empty()) return true;  // nothing configured: the passes say so themselves
    const bool present = plat::PathExists(dir);
    if (present == !m_folderAway) return present;
    m_folderAway = !present;
    if (present)
        LogMessage("%s: image folder %s is back, work goes on", who, dir.c_str());
    else
        LogMessage(
            "%s: image folder %s is missing (a drive unplugged, a share offline?); "
            "no page requests and no downloads until it is back",
            who, dir.c_str());
    return present;
}

LocalNaming CImageFolder::NamingLocked() const {
    LocalNaming where;
    where.imgFolder = m_settings.ImgFolder;
    where.localNow = m_clock ? m_clock->LocalNow() : plat::LocalNowOle();
    where.records = &m_cache.Records();
    return where;
}

// Records whose files the user deleted, one by one or with their purity
// folder, are dropped: they name no file, so they would never be shown,
// never evicted, and would hold their feed at its limit for good. The look
// is one file-system call per folder (its oldest record's file), every five
// minutes or at once when an eviction found a file gone; a folder whose
// sample is missing has all its records looked at.
void CImageFolder::HealDeletedFoldersLocked(bool now) {
    const uint32_t tick = m_clock->TickCount();
    if (!now && m_recordFoldersKnown && static_cast<uint32_t>(tick - m_lastFolderCheck) < 5 * 60000) return;
    m_lastFolderCheck = tick;
    m_recordFoldersKnown = true;
    std::set<std::string, std::less<>> sampled, suspect;
    for (const CFileView d : m_cache.Records()) {
        const std::string_view folder = ParentFolderOf(d.Path);
        if (sampled.find(folder) != sampled.end()) continue;
        sampled.emplace(folder);
        if (!plat::PathExists(std::string(d.Path))) suspect.emplace(folder);
    }
    for (const std::string& folder : suspect) {
        int dropped = 0;
        for (CFileList::iterator it = m_cache.Records().begin(); it != m_cache.Records().end();) {
            if (ParentFolderOf(it->Path) == folder && !plat::PathExists(std::string(it->Path))) {
                it = m_cache.Records().RemoveAt(it);
                ++dropped;
            } else {
                ++it;
            }
        }
        if (dropped) {
            LogMessage("HealRecords: %s in %s without their files dropped",
                       Counted(dropped, "record", "records").c_str(), folder.c_str());
            m_cache.SetDirty(true);
        }
    }
}
