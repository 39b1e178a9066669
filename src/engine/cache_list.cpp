// The cache list of an image folder (see cache_list.h).
//
// Nothing on disk may be forgotten: the list is written whole to a "__t"
// file beside it, flushed, and then moved over the old file; every download
// and deletion is in the journal, flushed, before the file operation it
// announces; a list that cannot be read is read again before anything
// replaces it, and a damaged one is kept aside.
#include "engine/cache_list.h"

#include <cstring>
#include <new>
#include <unordered_map>

#include "common/host_callback.h"
#include "engine/path.h"
#include "platform/datetime.h"
#include "platform/fs.h"

using statefmt::kJournalName;
using statefmt::kListName;

namespace {

const int kKeptAsideMax = 9;  // damaged lists kept: vdt_vd_files.bad1 .. bad9
const int kReadFault = 30;    // ERROR_READ_FAULT

// The first free name for a damaged list kept aside (the last one when all
// are taken).
std::string AsideName(const std::string& folder) {
    std::string path;
    for (int k = 1; k <= kKeptAsideMax; ++k) {
        path = PathInFolder(folder, ("vdt_vd_files.bad" + std::to_string(k)).c_str());
        if (!plat::PathExists(path)) break;
    }
    return path;
}

// A durable copy of a file, read and written in pieces.
bool CopyFileDurably(const std::string& from, const std::string& to, const char* who) {
    int error = 0;
    FILE* in = plat::OpenFileChecked(from, "rb", &error);
    if (!in) {
        LogMessage("%s: can't read %s, error %d", who, from.c_str(), error);
        return false;
    }
    bool readOk = true;
    const bool ok = ReplaceFileDurably(to, who, [&](FILE* out) {
        std::vector<char> piece(statefmt::kListChunk);
        size_t n;
        while ((n = std::fread(piece.data(), 1, piece.size(), in)) > 0)
            if (!plat::WriteAll(out, piece.data(), n)) return false;
        readOk = !std::ferror(in);
        return readOk;
    });
    std::fclose(in);
    return ok;
}

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

// The journal of dir; false when it cannot be read (a missing one among them).
bool ReadJournal(const std::string& dir, std::vector<statefmt::JournalEntry>* entries, int* skipped) {
    CFileLines lines(statefmt::kJournalLineMax);
    int error = 0;
    if (!lines.Open(PathInFolder(dir, kJournalName), &error)) return false;
    statefmt::DecodeJournal(lines, entries, skipped);
    return !lines.Failed();
}

// The list of dir as decoded; false with the platform's error code when it
// cannot be read. *size: the file's bytes.
bool ReadList(const std::string& dir, const CFolderGate& gate, statefmt::DecodedList* list, size_t* size,
              int* error) {
    CFileLines lines(statefmt::kListLineMax);
    if (!lines.Open(PathInFolder(dir, kListName), error)) return false;
    statefmt::DecodeList(lines, lines.Size(), gate, list);
    if (size) *size = lines.Size();
    if (!lines.Failed()) return true;
    *list = statefmt::DecodedList();
    *error = kReadFault;
    return false;
}

}  // namespace

// ---- lines of a file --------------------------------------------------------------

CFileLines::CFileLines(size_t limit) : m_limit(limit) {}

CFileLines::~CFileLines() {
    Close();
}

void CFileLines::Close() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
}

bool CFileLines::Open(const std::string& path, int* error) {
    Close();
    *error = 0;
    m_begin = m_end = m_size = 0;
    m_eof = m_failed = m_lastLf = m_endsCut = false;
    m_file = plat::OpenFileChecked(path, "rb", error);
    if (!m_file) return false;
    const long size = std::fseek(m_file, 0, SEEK_END) == 0 ? std::ftell(m_file) : -1;
    if (size > 0) {
        m_size = static_cast<size_t>(size);
        m_endsCut = std::fseek(m_file, size - 1, SEEK_SET) == 0 && std::fgetc(m_file) != '\n';
    }
    std::rewind(m_file);
    m_buf.resize(statefmt::kListChunk);
    return true;
}

bool CFileLines::Fill() {
    if (!m_file || m_eof) {
        m_eof = true;
        return false;
    }
    if (m_begin > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    const size_t n =
        m_end < m_buf.size() ? std::fread(m_buf.data() + m_end, 1, m_buf.size() - m_end, m_file) : 0;
    if (n == 0) {
        if (std::ferror(m_file)) m_failed = true;
        m_eof = true;
        return false;
    }
    m_end += n;
    return true;
}

bool CFileLines::Next(std::string_view* line, bool* cut) {
    *line = std::string_view();
    if (cut) *cut = false;
    for (;;) {
        const char* start = m_buf.data() + m_begin;
        const size_t held = m_end - m_begin;
        const char* lf = held > 0 ? static_cast<const char*>(std::memchr(start, '\n', held)) : nullptr;
        if (!lf && !m_eof && held >= m_limit) {
            // Longer than the limit: its first limit - 1 bytes, and the rest
            // up to its line feed skipped (it may span several pieces).
            m_long.assign(start, m_limit - 1);
            m_begin = m_end;
            m_lastLf = false;
            while (Fill()) {
                const char* s = m_buf.data() + m_begin;
                const char* f = static_cast<const char*>(std::memchr(s, '\n', m_end - m_begin));
                if (f) {
                    m_begin += static_cast<size_t>(f - s) + 1;
                    m_lastLf = true;
                    break;
                }
                m_begin = m_end;
            }
            size_t n = m_long.size();
            if (n > 0 && m_long[n - 1] == '\r') --n;
            *line = std::string_view(m_long.data(), n);
            if (cut) *cut = true;
            return true;
        }
        if (lf || (m_eof && held > 0)) {
            size_t n = lf ? static_cast<size_t>(lf - start) : held;
            m_begin += n + (lf ? 1 : 0);
            m_lastLf = lf != nullptr;
            *line = statefmt::TakeLine(start, n, m_limit, cut);
            return true;
        }
        if (m_eof) return false;
        Fill();
    }
}

// ---- durable writes -----------------------------------------------------------------

namespace {
// The durable write, where write may ask once to start over on an empty file
// (again set, false returned): the temp file is made anew.
bool ReplaceFileDurablyOrAgain(const std::string& path, const char* who,
                               const std::function<bool(FILE*, bool* again)>& write) {
    std::string temp = path;
    ReplaceExtension(temp, "__t");
    int error = 0;
    bool ok = false;
    for (int round = 0; round < 2; ++round) {
        FILE* f = plat::OpenFileChecked(temp, "wb", &error);
        if (!f) {
            LogMessage("%s: can't create file %s", who, path.c_str());
            return false;
        }
        // Writers hand over whole pieces: stdio's buffer would only split each
        // into more system calls.
        std::setvbuf(f, nullptr, _IONBF, 0);
        bool again = false;
        ok = write(f, round == 0 ? &again : nullptr);
        if (again) {
            plat::CloseFile(f);
            continue;
        }
        ok = plat::FlushClose(f) && ok;
        break;
    }
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

bool ReplaceFileDurably(const std::string& path, const char* who, const std::function<bool(FILE*)>& write) {
    return ReplaceFileDurablyOrAgain(path, who, [&write](FILE* f, bool*) { return write(f); });
}

// ---- reading ------------------------------------------------------------------------

CCacheList::ReadResult CCacheList::Read(const std::string& dir, bool imageFolder) {
    ReadResult result;
    m_dirty = false;
    m_records.RemoveAll();
    if (imageFolder) {
        m_folder = dir;
        m_status = kUnreadable;
        m_journalEntries = 0;
        m_mustWrite = false;
    }
    const std::string path = PathInFolder(dir, kListName);
    const CFolderGate gate(dir);
    statefmt::DecodedList list;
    size_t size = 0;
    int error = 0;
    if (!ReadList(dir, gate, &list, &size, &error)) {
        // Only a list that is not there is an empty one. A folder that is
        // missing (a drive not mounted yet) or a list another program holds
        // is read again before anything is written there.
        const bool folderThere = dir.empty() || plat::PathExists(dir);
        if (error != plat::kErrFileNotFound || !folderThere) {
            if (!imageFolder || error != m_lastReadError)
                LogMessage(
                    "ReadLocalFileList: can't read %s, error %d; not replaced, read again before a write",
                    path.c_str(), error);
            if (imageFolder) m_lastReadError = error;
            m_readError = error;
            return result;
        }
        LogMessage("ReadLocalFileList: file list not found");
        // A journal without a list: a crash before the first full write.
        if (ReplayJournal(dir, gate, imageFolder) > 0) {
            m_dirty = true;
            m_notified = m_records.GetCount() > 4;
            result.idsStale = true;
        }
        result.read = MarkRead(imageFolder);
        return result;
    }

    if (list.version == 0) {
        LogMessage("ReadLocalFileList: wrong file header");
        if (size > 0) {
            // Not a list this build can read: keep its bytes, and take what
            // looks like records from them.
            const std::string aside = AsideName(dir);
            if (!plat::MoveReplace(path, aside, &error)) {
                LogMessage("ReadLocalFileList: can't keep the damaged list aside, error %d; not replaced",
                           error);
                m_readError = error;
                return result;
            }
            CFileLines kept(statefmt::kListLineMax);
            if (kept.Open(aside, &error))
                for (CFileData& d : statefmt::SalvageList(kept, gate)) m_records.AddTail(std::move(d));
            LogMessage("ReadLocalFileList: damaged list kept as %s, %s recovered", aside.c_str(),
                       Counted(m_records.GetCount(), "record", "records").c_str());
            // Written again (without the damage) at the next save.
            m_mustWrite = imageFolder;
        }
        if (ReplayJournal(dir, gate, imageFolder) > 0) m_dirty = true;
        if (!m_records.IsEmpty()) {
            m_notified = m_records.GetCount() > 4;
            result.idsStale = true;
        }
        result.read = MarkRead(imageFolder);
        return result;
    }

    for (const std::string& line : list.dropped) LogMessage("ReadLocalFileList: %s", line.c_str());
    for (const std::string& line : list.notes) LogMessage("ReadLocalFileList: %s", line.c_str());
    // An empty, missing or unreadable time means "never".
    m_lastTm = COleDateTime();
    double when = 0;
    if (!list.timeText.empty() && plat::TextToOleDate(list.timeText, &when)) m_lastTm.m_dt = when;
    std::swap(m_records, list.records);

    if (!list.damage.empty()) {
        // Readable, but not as it was written: a copy of the bytes stays for
        // whoever wants to look, and records out of step are searched for.
        const std::string aside = AsideName(dir);
        if (CopyFileDurably(path, aside, "ReadLocalFileList")) {
            LogMessage("ReadLocalFileList: damaged list (%s) copied to %s", list.damage.c_str(),
                       aside.c_str());
            m_mustWrite = imageFolder;
        }
        CFileLines again(statefmt::kListLineMax);
        if (!list.dropped.empty() && again.Open(path, &error)) {
            int found = 0;
            for (CFileData& d : statefmt::SalvageList(again, gate)) {
                if (m_records.Find(d.Path) != m_records.end()) continue;
                m_records.AddTail(std::move(d));
                ++found;
            }
            if (found > 0)
                LogMessage("ReadLocalFileList: %s recovered", Counted(found, "record", "records").c_str());
        }
    }
    if (ReplayJournal(dir, gate, imageFolder) > 0) m_dirty = true;

    m_notified = m_records.GetCount() > 4;
    result.idsStale = true;
    result.listFile = true;
    result.version = list.version;
    if (imageFolder) m_writtenTm = m_lastTm.m_dt;
    result.read = MarkRead(imageFolder);
    return result;
}

bool CCacheList::MarkRead(bool imageFolder) {
    if (imageFolder) {
        m_status = kRead;
        m_lastReadError = 0;
    }
    return true;
}

void CCacheList::Forget(const std::string& dir) {
    m_records.RemoveAll();
    m_dirty = false;
    m_folder = dir;
    m_status = kNotRead;
}

bool CCacheList::Mirrors(const std::string& dir, bool imageFolder) const {
    return m_status != kUnreadable && (m_status == kNotRead ? imageFolder : SameFolder(dir, m_folder));
}

int CCacheList::ReplayJournal(const std::string& dir, const CFolderGate& gate, bool imageFolder) {
    std::vector<statefmt::JournalEntry> entries;
    int skipped = 0;
    if (!ReadJournal(dir, &entries, &skipped)) return 0;
    if (skipped > 0)
        LogMessage("ReadLocalFileList: journal %s, %s left out", PathInFolder(dir, kJournalName).c_str(),
                   Counted(skipped, "cut entry", "cut entries").c_str());
    const int changed = ApplyJournal(entries, gate, m_records);
    if (imageFolder) m_journalEntries = static_cast<int>(entries.size());
    LogMessage("ReadLocalFileList: journal replayed (%s, %s)",
               Counted(entries.size(), "entry", "entries").c_str(),
               Counted(changed, "change", "changes").c_str());
    return static_cast<int>(entries.size());
}

// ---- journal ------------------------------------------------------------------------

bool CCacheList::AppendJournal(const std::string& folder, const std::string& bytes, int* error) {
    const std::string path = PathInFolder(folder, kJournalName);
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

bool CCacheList::Record(char op, const CFileData& record, const std::string& dir) {
    if (!PathInsideFolder(record.Path, dir)) {
        LogMessage("m_lclfiles: %s is not in the image folder %s, not recorded", record.Path.c_str(),
                   dir.c_str());
        return false;
    }
    int error = 0;
    if (!AppendJournal(dir, statefmt::EncodeJournalRecord(op, record), &error)) {
        LogMessage("m_lclfiles: can't record %s in the journal, error %d", record.Path.c_str(), error);
        return false;
    }
    ++m_journalEntries;
    return true;
}

// ---- writing ------------------------------------------------------------------------

bool CCacheList::Write(const std::string& dir, bool foldJournal, bool imageFolder) {
    const std::string path = PathInFolder(dir, kListName);
    bool ok = false;
    try {
        statefmt::ListEncoder encoder(m_records,
                                      plat::OleDateToText(m_lastTm.m_valid ? m_lastTm.m_dt : kOleDate2000));
        ok = ReplaceFileDurablyOrAgain(path, "WriteLocalFileList", [&encoder](FILE* f, bool* again) {
            const auto sink = [f](const char* data, size_t size) { return plat::WriteAll(f, data, size); };
            if (encoder.Write(sink)) return true;
            if (!encoder.FoundUnfit() || !again) return false;
            // Ids and paths come from the service; one with a line break
            // would shift every record after it, so such a record is left
            // out, and the list written again without it.
            for (const CFileData& d : encoder.Skipped())
                LogMessage("WriteLocalFileList: record not written, bad id or path %s %s",
                           statefmt::Printable(d.Id).c_str(), statefmt::Printable(d.Path).c_str());
            *again = true;
            return false;
        });
    } catch (const std::bad_alloc&) {
        LogMessage("WriteLocalFileList: out of memory, %s not written", path.c_str());
        return false;
    }
    if (!ok || !foldJournal) return ok;
    // Everything the journal held is in the list now.
    plat::DeleteFileAt(PathInFolder(dir, kJournalName));
    if (Mirrors(dir, imageFolder)) {
        m_journalEntries = 0;
        m_mustWrite = false;
        m_writtenTm = m_lastTm.m_dt;
    }
    return true;
}

bool CCacheList::SaveDue(ListSave how) const {
    const bool changed = m_dirty || m_mustWrite || m_lastTm.m_dt != m_writtenTm;
    const bool full = m_records.GetCount() <= kSmallFileList || FullWriteDue();
    switch (how) {
        case ListSave::kAlways:
            return true;
        case ListSave::kNow:
            return changed;
        case ListSave::kPassEnd:
        case ListSave::kIfChanged:
            break;
    }
    return changed && full;
}

bool CCacheList::FullWriteDue() const {
    return m_mustWrite || m_lastTm.m_dt != m_writtenTm || m_status == kNotRead || m_journalEntries == 0 ||
           m_journalEntries >= m_records.GetCount() / 16;
}

// ---- on disk ------------------------------------------------------------------------

bool CCacheList::CountOnDisk(const std::string& folder, int* count) {
    const CFolderGate gate(folder);
    statefmt::DecodedList list;
    int error = 0;
    if (!ReadList(folder, gate, &list, nullptr, &error)) return false;
    if (list.version == 0) return false;
    std::vector<statefmt::JournalEntry> entries;
    int skipped = 0;
    if (ReadJournal(folder, &entries, &skipped)) ApplyJournal(entries, gate, list.records);
    *count = list.records.GetCount();
    return true;
}

void CCacheList::ForEachPathOnDisk(const std::string& dir,
                                   const std::function<void(const std::string&)>& each) {
    const CFolderGate gate(dir);
    // The paths as they are read: a list of 100k records held here only to
    // be walked once would be a peak the host's heap keeps.
    CFileLines lines(statefmt::kListLineMax);
    int error = 0;
    if (lines.Open(PathInFolder(dir, kListName), &error)) {
        statefmt::DecodedList list;
        std::string path;
        statefmt::DecodeList(lines, gate, &list, [&](const CFileView& d) {
            path.assign(d.Path.data(), d.Path.size());
            each(path);
        });
    }
    std::vector<statefmt::JournalEntry> entries;
    int skipped = 0;
    if (ReadJournal(dir, &entries, &skipped))
        for (const statefmt::JournalEntry& e : entries)
            if (gate.Contains(e.record.Path)) each(e.record.Path);
}
