// The two run-state files of an image folder: the cache list
// "vdt_vd_files.lst" and the paging state "vdt_vd_paging.lst", and the
// journal "vdt_vd_files.jnl" that keeps the list's changes durable between
// full writes. The bytes are state_format's; this file does the file work.
//
// Nothing on disk may be forgotten: the list and the paging state are
// written whole to a "__t" file beside them, flushed, and then moved over
// the old file; every download and deletion is in the journal, flushed,
// before the file operation it announces; a list that cannot be read is
// read again before anything replaces it, and a damaged one is kept aside.
#include <cstdio>
#include <new>
#include <set>
#include <unordered_map>
#include <vector>

#include "engine/engine.h"
#include "engine/line_text.h"
#include "engine/state_format.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "common/host_callback.h"

using statefmt::kJournalName;
using statefmt::kListName;
using statefmt::kPagingName;

namespace {

const int kKeptAsideMax = 9;  // damaged lists kept: vdt_vd_files.bad1 .. bad9

std::string FolderOf(const char* folder, const CLumoraSettings& settings) {
    return (folder && *folder) ? std::string(folder) : settings.ImgFolder;
}
std::string FileIn(const std::string& folder, const char* name) {
    std::string path = folder;
    AddBackslash(path);
    return path + name;
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

// Writes bytes to path through a temporary file moved over it; on any
// failure the old file stays as it was and one line names the reason.
bool ReplaceFileContents(const std::string& path, const std::string& bytes, const char* who) {
    std::string temp = path;
    ReplaceExtension(temp, "__t");
    int error = 0;
    FILE* f = plat::OpenFileChecked(temp, "wb", &error);
    if (!f) {
        LogMessage("%s: can't create file %s", who, path.c_str());
        return false;
    }
    bool ok = plat::WriteAll(f, bytes.data(), bytes.size());
    ok = plat::FlushClose(f) && ok;
    if (!ok) {
        plat::DeleteFileAt(temp);
        LogMessage("%s: can't write file %s", who, path.c_str());
        return false;
    }
    if (!plat::MoveReplace(temp, path, &error)) {
        plat::DeleteFileAt(temp);
        LogMessage("%s: can't replace file %s, error %d", who, path.c_str(), error);
        return false;
    }
    return true;
}

}  // namespace

// Appends bytes to the journal of a folder (with its header when the file
// is new) and flushes them to the device.
bool CLumoraEngine::AppendJournalTo(const std::string& folder, const std::string& bytes, int* error) {
    const std::string path = FileIn(folder, kJournalName);
    FILE* f = plat::OpenFileChecked(path, "ab", error);
    if (!f) return false;
    std::fseek(f, 0, SEEK_END);
    const bool fresh = std::ftell(f) == 0;
    bool ok = true;
    if (fresh) {
        const std::string head = statefmt::EncodeJournalHeader();
        ok = plat::WriteAll(f, head.data(), head.size());
    }
    ok = ok && plat::WriteAll(f, bytes.data(), bytes.size());
    ok = plat::FlushClose(f) && ok;
    if (!ok && *error == 0) *error = 112;  // ERROR_DISK_FULL, the usual reason
    return ok;
}

namespace {

// The first free name for a damaged list kept aside (the last one when all
// are taken).
std::string AsideName(const std::string& folder) {
    std::string path;
    for (int k = 1; k <= kKeptAsideMax; ++k) {
        path = FileIn(folder, ("vdt_vd_files.bad" + std::to_string(k)).c_str());
        if (!plat::PathExists(path)) break;
    }
    return path;
}

std::string Bytes(uint64_t n) {
    return std::to_string(n / (1024 * 1024)) + " MB";
}

}  // namespace

// ---- reading ------------------------------------------------------------------------

bool CLumoraEngine::IsImageFolder(const std::string& dir) const {
    return dir == m_settings.ImgFolder || SameFolder(dir, m_settings.ImgFolder);
}

void CLumoraEngine::ReadLocalFileList(const char* folder) {
    ReadListFrom(FolderOf(folder, m_settings));
}

bool CLumoraEngine::ReadListFrom(const std::string& dir) {
    m_dirty = 0;
    m_lclfiles.RemoveAll();
    const bool imageFolder = IsImageFolder(dir);
    if (imageFolder) {
        m_list.folder = dir;
        m_list.status = CListState::kUnreadable;
        m_list.journalEntries = 0;
        m_list.mustWrite = false;
    }
    const std::string path = FileIn(dir, kListName);
    const CFolderGate gate(dir);
    std::string bytes;
    int error = 0;
    if (!ReadWholeFile(path, &bytes, &error)) {
        // Only a list that is not there is an empty one. A folder that is
        // missing (a drive not mounted yet) or a list another program holds
        // is read again before anything is written there.
        const bool folderThere = dir.empty() || plat::PathExists(dir);
        if (error != plat::kErrFileNotFound || !folderThere) {
            if (!imageFolder || error != m_list.lastReadError)
                LogMessage(
                    "ReadLocalFileList: can't read %s, error %d; not replaced, read again before a write",
                    path.c_str(), error);
            if (imageFolder) m_list.lastReadError = error;
            m_list.readError = error;
            return false;
        }
        LogMessage("ReadLocalFileList: file list not found");
        // A journal without a list: a crash before the first full write.
        if (ReplayJournal(dir, gate) > 0) {
            m_dirty = 1;
            m_notified = m_lclfiles.GetCount() > 4 ? 1 : 0;
            RebuildIdMap();
        }
        return MarkListRead(imageFolder);
    }

    statefmt::DecodedList list;
    statefmt::DecodeList(bytes.data(), bytes.size(), gate, &list);
    if (list.version == 0) {
        LogMessage("ReadLocalFileList: wrong file header");
        if (!bytes.empty()) {
            // Not a list this build can read: keep its bytes, and take what
            // looks like records from them.
            const std::string aside = AsideName(dir);
            if (!plat::MoveReplace(path, aside, &error)) {
                LogMessage("ReadLocalFileList: can't keep the damaged list aside, error %d; not replaced",
                           error);
                m_list.readError = error;
                return false;
            }
            for (CFileData& d : statefmt::SalvageList(bytes.data(), bytes.size(), gate))
                m_lclfiles.AddTail(std::move(d));
            LogMessage("ReadLocalFileList: damaged list kept as %s, %d records recovered", aside.c_str(),
                       m_lclfiles.GetCount());
            // Written again (without the damage) at the next save.
            m_list.mustWrite = imageFolder;
        }
        if (ReplayJournal(dir, gate) > 0) m_dirty = 1;
        if (!m_lclfiles.IsEmpty()) {
            m_notified = m_lclfiles.GetCount() > 4 ? 1 : 0;
            RebuildIdMap();
        }
        return MarkListRead(imageFolder);
    }

    for (const std::string& line : list.dropped) LogMessage("ReadLocalFileList: %s", line.c_str());
    for (const std::string& line : list.notes) LogMessage("ReadLocalFileList: %s", line.c_str());
    // An empty, missing or unreadable time means "never".
    m_lastTm = COleDateTime();
    double when = 0;
    if (!list.timeText.empty() && plat::TextToOleDate(list.timeText, &when)) m_lastTm.m_dt = when;
    std::swap(m_lclfiles, list.records);

    if (!list.damage.empty()) {
        // Readable, but not as it was written: a copy of the bytes stays for
        // whoever wants to look, and records out of step are searched for.
        const std::string aside = AsideName(dir);
        if (ReplaceFileContents(aside, bytes, "ReadLocalFileList")) {
            LogMessage("ReadLocalFileList: damaged list (%s) copied to %s", list.damage.c_str(),
                       aside.c_str());
            m_list.mustWrite = imageFolder;
        }
        if (!list.dropped.empty()) {
            int found = 0;
            for (CFileData& d : statefmt::SalvageList(bytes.data(), bytes.size(), gate)) {
                if (m_lclfiles.Find(d.Path) != m_lclfiles.end()) continue;
                m_lclfiles.AddTail(std::move(d));
                ++found;
            }
            if (found > 0) LogMessage("ReadLocalFileList: %d records recovered", found);
        }
    }
    if (ReplayJournal(dir, gate) > 0) m_dirty = 1;

    m_notified = m_lclfiles.GetCount() > 4 ? 1 : 0;
    RebuildIdMap();
    ReadPagingState(dir.c_str());
    LogMessage("ReadLocalFileList: file list loaded (%d local, v%d)", m_lclfiles.GetCount(), list.version);
    if (imageFolder) m_list.writtenTm = m_lastTm.m_dt;
    return MarkListRead(imageFolder);
}

bool CLumoraEngine::MarkListRead(bool imageFolder) {
    if (imageFolder) {
        m_list.status = CListState::kRead;
        m_list.lastReadError = 0;
    }
    return true;
}

namespace {

// Applies journal entries to records read from a list; returns the number of
// records added or removed.
int ApplyJournal(const std::vector<statefmt::JournalEntry>& entries, const CFolderGate& gate,
                 CFileList& files) {
    // Each path the journal names: the last record of it. Whether it is in
    // the cache is the disk's answer, not the journal's: the journal is
    // written before the rename or the deletion it announces.
    std::unordered_map<std::string, size_t> last;
    std::vector<size_t> order;
    for (size_t k = 0; k < entries.size(); ++k) {
        const CFileData& r = entries[k].record;
        if (!gate.Contains(r.Path)) continue;
        auto ins = last.emplace(FoldPathCase(r.Path), k);
        if (ins.second)
            order.push_back(k);
        else
            ins.first->second = k;
    }
    int changed = 0;
    for (size_t first : order) {
        const CFileData& r = entries[last[FoldPathCase(entries[first].record.Path)]].record;
        const bool there = plat::PathExists(r.Path);
        CFileList::iterator it = files.Find(r.Path);
        if (there && it == files.end()) {
            files.AddTail(r);
            ++changed;
        } else if (!there) {
            for (; it != files.end(); it = files.Find(r.Path)) {
                files.RemoveAt(it);
                ++changed;
            }
        }
    }
    return changed;
}

}  // namespace

bool CountCachedFiles(const std::string& folder, int* count) {
    const CFolderGate gate(folder);
    std::string bytes;
    int error = 0;
    if (!ReadWholeFile(FileIn(folder, kListName), &bytes, &error)) return false;
    statefmt::DecodedList list;
    statefmt::DecodeList(bytes.data(), bytes.size(), gate, &list);
    if (list.version == 0) return false;
    if (ReadWholeFile(FileIn(folder, kJournalName), &bytes, &error)) {
        std::vector<statefmt::JournalEntry> entries;
        int skipped = 0;
        statefmt::DecodeJournal(bytes.data(), bytes.size(), &entries, &skipped);
        ApplyJournal(entries, gate, list.records);
    }
    *count = list.records.GetCount();
    return true;
}

int CLumoraEngine::ReplayJournal(const std::string& dir, const CFolderGate& gate) {
    const std::string path = FileIn(dir, kJournalName);
    std::string bytes;
    int error = 0;
    if (!ReadWholeFile(path, &bytes, &error)) return 0;
    std::vector<statefmt::JournalEntry> entries;
    int skipped = 0;
    statefmt::DecodeJournal(bytes.data(), bytes.size(), &entries, &skipped);
    if (skipped > 0)
        LogMessage("ReadLocalFileList: journal %s, %d cut entries left out", path.c_str(), skipped);
    const int changed = ApplyJournal(entries, gate, m_lclfiles);
    if (IsImageFolder(dir)) m_list.journalEntries = static_cast<int>(entries.size());
    LogMessage("ReadLocalFileList: journal replayed (%d entries, %d changes)",
               static_cast<int>(entries.size()), changed);
    return static_cast<int>(entries.size());
}

// ---- the image folder's list in memory ----------------------------------------------------

bool CLumoraEngine::FileListReady() {
    const std::string& dir = m_settings.ImgFolder;
    if (m_list.status != CListState::kNotRead && !SameFolder(m_list.folder, dir)) {
        // The image folder changed: the old folder keeps its own list (all
        // of it is on disk there, in the list or its journal), and the new
        // one starts from its own.
        if (m_list.status == CListState::kRead && (m_dirty || m_list.mustWrite) && !m_list.otherOwner &&
            !m_list.takeOver) {
            const std::string old = m_list.folder;
            if (WriteListTo(old, true)) m_dirty = 0;
        }
        LogMessage("ReadLocalFileList: image folder changed to %s", dir.c_str());
        ++m_generation;  // a transfer under way belongs to the old folder
        m_list.otherOwner = false;
        if (!HoldImageFolder()) {
            // Read once the other engine lets the folder go.
            m_lclfiles.RemoveAll();
            m_dirty = 0;
            m_list.folder = dir;
            m_list.status = CListState::kNotRead;
            return false;
        }
        m_list.takeOver = false;
        ReadListFrom(dir);
    } else {
        if (!HoldImageFolder()) return false;
        if (m_list.takeOver) {
            // Another engine changed the folder while this one waited: what
            // memory holds is stale. Start as a worker starts.
            m_list.takeOver = false;
            RemoveStaleTempFiles();
            ReadListFrom(dir);
        } else if (m_list.status == CListState::kUnreadable) {
            ReadListFrom(dir);
        }
    }
    return m_list.status != CListState::kUnreadable;
}

bool CLumoraEngine::HoldImageFolder() {
    if (!m_list.wantOwner) return true;
    const std::string& dir = m_settings.ImgFolder;
    if (dir.empty()) return true;  // no folder: the passes say so themselves
    if (m_list.lock.Held() && SameFolder(m_list.lockFolder, dir)) return true;
    m_list.lock.Release();  // another folder's
    int error = 0;
    if (m_list.lock.Take(FileIn(dir, statefmt::kLockName), &error)) {
        m_list.lockFolder = dir;
        if (m_list.otherOwner) {
            LogMessage("ReadLocalFileList: %s is free again, this host goes on with it", dir.c_str());
            m_list.otherOwner = false;
        }
        return true;
    }
    // A folder that is away or cannot take a file has no lock to hold: the
    // list's own checks decide what can be done there.
    if (error != plat::kErrSharingViolation) return !m_list.otherOwner;
    if (!m_list.otherOwner)
        LogMessage(
            "ReadLocalFileList: %s is in use by another host; no page requests and no downloads "
            "here until it is free",
            dir.c_str());
    m_list.otherOwner = true;
    m_list.takeOver = true;  // the other engine changes the folder meanwhile
    return false;
}

void CLumoraEngine::BeginRun() {
    m_list.wantOwner = true;
    m_list.otherOwner = false;
    m_list.takeOver = false;
    // Without the folder nothing is read or cleaned now: that happens when
    // the other engine lets it go (FileListReady).
    if (!HoldImageFolder()) return;
    RemoveStaleTempFiles();
    ReadLocalFileList();
}

void CLumoraEngine::EndRun() {
    if (HoldImageFolder() && !m_list.takeOver) SaveFileList(ListSave::kNow);
    m_list.lock.Release();
    m_list.wantOwner = false;
    m_list.otherOwner = false;
}

bool CLumoraEngine::RecordInJournal(char op, const CFileData& record) {
    if (!statefmt::FitsList(record)) {
        LogMessage("m_lclfiles: record can't be stored, %s %s", statefmt::Printable(record.Id).c_str(),
                   statefmt::Printable(record.Path).c_str());
        return false;
    }
    if (!FileListReady()) return false;
    const std::string dir = m_list.status == CListState::kNotRead ? m_settings.ImgFolder : m_list.folder;
    if (!PathInsideFolder(record.Path, dir)) {
        LogMessage("m_lclfiles: %s is not in the image folder %s, not recorded", record.Path.c_str(),
                   dir.c_str());
        return false;
    }
    int error = 0;
    if (!AppendJournalTo(dir, statefmt::EncodeJournalRecord(op, record), &error)) {
        LogMessage("m_lclfiles: can't record %s in the journal, error %d", record.Path.c_str(), error);
        return false;
    }
    ++m_list.journalEntries;
    return true;
}

bool CLumoraEngine::RecordFileAdding(const CFileData& record) {
    return RecordInJournal('+', record);
}

void CLumoraEngine::RecordFileGone(const CFileData& record) {
    RecordInJournal('-', record);
}

bool CLumoraEngine::RecordFileRemoving(const CFileData& record) {
    return RecordInJournal('-', record);
}

// ---- writing ------------------------------------------------------------------------------

bool CLumoraEngine::WriteLocalFileList(const char* folder) {
    const std::string dir = FolderOf(folder, m_settings);
    if (IsImageFolder(dir) && !FileListReady()) {
        LogMessage("WriteLocalFileList: the list in %s could not be read; not replaced", dir.c_str());
        return false;
    }
    // Memory holds this folder's list and journal: the write makes the
    // journal obsolete.
    const bool own = m_list.status == CListState::kNotRead
                         ? IsImageFolder(dir)
                         : m_list.status == CListState::kRead && SameFolder(dir, m_list.folder);
    return WriteListTo(dir, own);
}

bool CLumoraEngine::WriteListTo(const std::string& dir, bool foldJournal) {
    const std::string path = FileIn(dir, kListName);
    bool ok = false;
    try {
        std::vector<CFileData> skipped;
        const std::string bytes = statefmt::EncodeList(
            m_lclfiles, plat::OleDateToText(m_lastTm.m_valid ? m_lastTm.m_dt : kOleDate2000), &skipped);
        // Ids and paths come from the service; one with a line break would
        // shift every record after it, so such a record is left out.
        for (const CFileData& d : skipped)
            LogMessage("WriteLocalFileList: record not written, bad id or path %s %s",
                       statefmt::Printable(d.Id).c_str(), statefmt::Printable(d.Path).c_str());
        ok = ReplaceFileContents(path, bytes, "WriteLocalFileList");
    } catch (const std::bad_alloc&) {
        LogMessage("WriteLocalFileList: out of memory, %s not written", path.c_str());
        return false;
    }
    if (!ok || !foldJournal) return ok;
    // Everything the journal held is in the list now.
    plat::DeleteFileAt(FileIn(dir, kJournalName));
    if (m_list.status != CListState::kUnreadable &&
        (m_list.status == CListState::kNotRead ? IsImageFolder(dir) : SameFolder(dir, m_list.folder))) {
        m_list.journalEntries = 0;
        m_list.mustWrite = false;
        m_list.writtenTm = m_lastTm.m_dt;
    }
    return true;
}

bool CLumoraEngine::SaveFileList(ListSave how) {
    // Another engine's folder: nothing of this one's to write there.
    if (!HoldImageFolder()) return true;
    const bool timeChanged = m_lastTm.m_dt != m_list.writtenTm;
    const bool changed = m_dirty || m_list.mustWrite || timeChanged;
    const int count = m_lclfiles.GetCount();
    bool due;
    switch (how) {
        case ListSave::kNow:
            due = changed;
            break;
        case ListSave::kPassEnd:
            // A list that went missing (deleted by hand) is written again.
            due = (changed && (count <= kSmallFileList || FullWriteDue())) ||
                  !plat::PathExists(FileIn(m_settings.ImgFolder, kListName));
            break;
        default:
            due = changed && (count <= kSmallFileList || FullWriteDue());
            break;
    }
    if (!due) return true;
    if (!WriteLocalFileList()) return false;
    m_dirty = 0;
    return true;
}

bool CLumoraEngine::FullWriteDue() const {
    return m_list.mustWrite || m_lastTm.m_dt != m_list.writtenTm || m_list.status == CListState::kNotRead ||
           m_list.journalEntries == 0 || m_list.journalEntries >= m_lclfiles.GetCount() / 16;
}

// ---- paging ---------------------------------------------------------------------------------

void CLumoraEngine::WritePagingState(const char* folder) {
    if ((!folder || !*folder) && !HoldImageFolder()) return;
    ReplaceFileContents(FileIn(FolderOf(folder, m_settings), kPagingName), statefmt::EncodePaging(m_feeds),
                        "WritePagingState");
}

void CLumoraEngine::ReadPagingState(const char* folder) {
    std::string bytes;
    int error = 0;
    if (!ReadWholeFile(FileIn(FolderOf(folder, m_settings), kPagingName), &bytes, &error)) {
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

bool CLumoraEngine::DiskHasRoom() {
    uint64_t available = 0, total = 0;
    int error = 0;
    // A drive that cannot tell is no reason to stop.
    if (!plat::FreeSpace(m_settings.ImgFolder, &available, &total, &error)) return true;
    const uint64_t floor = FreeSpaceFloor(total);
    const bool room = available >= floor;
    if (room == !m_list.lowSpace) return room;
    m_list.lowSpace = !room;
    if (room)
        LogMessage("DownloadImages: free space %s again, downloads go on", Bytes(available).c_str());
    else
        LogMessage("DownloadImages: only %s free on the drive of %s (floor %s), no new downloads",
                   Bytes(available).c_str(), m_settings.ImgFolder.c_str(), Bytes(floor).c_str());
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
    std::string bytes;
    int error = 0;
    if (ReadWholeFile(FileIn(dir, kListName), &bytes, &error)) {
        statefmt::DecodedList list;
        statefmt::DecodeList(bytes.data(), bytes.size(), gate, &list);
        for (const CFileView d : list.records) add(std::string(d.Path));
    }
    if (ReadWholeFile(FileIn(dir, kJournalName), &bytes, &error)) {
        std::vector<statefmt::JournalEntry> entries;
        int skipped = 0;
        statefmt::DecodeJournal(bytes.data(), bytes.size(), &entries, &skipped);
        for (const statefmt::JournalEntry& e : entries)
            if (gate.Contains(e.record.Path)) add(e.record.Path);
    }
    return out;
}

}  // namespace

void CLumoraEngine::RemoveStaleTempFiles(const char* folder) {
    std::string dir = FolderOf(folder, m_settings);
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
    const std::set<std::string> named = FoldersNamedOnDisk(dir);
    for (const plat::FolderEntry& e : top) {
        if (!e.isFolder || e.isLink) continue;
        inner.clear();
        if (!plat::ListFolder(base + e.name, &inner)) continue;
        if (IsPurityFolderName(e.name) || named.count(FoldPathCase(e.name)) || HoldsOnlyCacheFiles(inner))
            clean(base + e.name, inner);
    }
}
