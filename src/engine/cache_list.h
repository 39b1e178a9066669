// The cache list of an image folder: the records of the files cached there
// (in memory), the list file "vdt_vd_files.lst" and its journal
// "vdt_vd_files.jnl". Reads with salvage and journal replay, records changes
// in the journal before the file operation they announce, and writes the
// whole list durably (a "__t" file, flushed, moved over the old one, the
// journal folded in). Both files are read and written in pieces of a bounded
// size, never as one buffer of the whole list.
//
// The object takes no lock of its own: the engine holds it under its lock
// and calls it there. Which folder is the image folder, and whether this
// engine may change it, are the engine's to say.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_list.h"
#include "engine/state_format.h"
#include "platform/datetime.h"

class CFolderGate;

// A date-time with a validity state, held as an OLE automation date.
struct COleDateTime {
    double m_dt = kOleDate2000;
    bool m_valid = true;
};

// Why the engine asks for the whole list to be written (SaveFileList).
enum class ListSave {
    kIfChanged,  // memory differs from the list and a full write is due (small list, long journal, ...)
    kPassEnd,    // as kIfChanged, and a list that went missing is written again (end of a refresh pass)
    kNow,        // memory differs from the list: write it now (worker exit, before a restart)
    kAlways,     // write it whatever changed (the change flag is left to the caller)
};

// Lists of at most this many records are written whole whenever they change,
// as they always were; longer ones leave their changes in the journal until
// it holds a sixteenth of the records.
const int kSmallFileList = 2000;

// Writes a file through a temporary file beside it: write() fills it, it is
// flushed to the device and moved over path. On any failure the old file
// stays as it was and one line names the reason ("who: ...").
bool ReplaceFileDurably(const std::string& path, const char* who, const std::function<bool(FILE*)>& write);

// The lines of a file read in pieces of kListChunk bytes (a line is at most
// the limit, far below that).
class CFileLines : public statefmt::LineSource {
  public:
    explicit CFileLines(size_t limit);
    ~CFileLines() override;
    CFileLines(const CFileLines&) = delete;
    CFileLines& operator=(const CFileLines&) = delete;
    // False with the platform's error code when the file cannot be opened.
    bool Open(const std::string& path, int* error);
    using LineSource::Next;
    bool Next(std::string_view* line, bool* cut = nullptr) override;
    bool LastHadLineFeed() const override { return m_lastLf; }
    bool EndsCut() const override { return m_endsCut; }
    // The file's size when it was opened.
    size_t Size() const { return m_size; }
    // Whether a read failed (what was read is not the whole file).
    bool Failed() const { return m_failed; }
    void Close();

  private:
    bool Fill();  // reads more after what is held; false at the end

    FILE* m_file = nullptr;
    size_t m_limit;
    std::vector<char> m_buf;
    size_t m_begin = 0, m_end = 0;
    std::string m_long;  // a line cut at the limit (its rest is skipped)
    size_t m_size = 0;
    bool m_eof = false;
    bool m_failed = false;
    bool m_lastLf = false;
    bool m_endsCut = false;
};

class CCacheList {
  public:
    enum Status {
        kNotRead,     // no read asked for yet: memory is what callers put there
        kRead,        // the list of Folder() is in memory (a missing list is an empty one)
        kUnreadable,  // the list of Folder() exists but could not be read: never replaced, read again first
    };

    // ---- memory -------------------------------------------------------------
    CFileList& Records() { return m_records; }
    const CFileList& Records() const { return m_records; }
    // Records changed since the list was last written (cleared only by a
    // write that succeeded, or a read).
    bool Dirty() const { return m_dirty; }
    void SetDirty(bool dirty) { m_dirty = dirty; }
    // Whether the host was told the cache holds enough files to show.
    bool Notified() const { return m_notified; }
    void SetNotified(bool notified) { m_notified = notified; }
    // The time of the last refresh, kept in the list.
    COleDateTime& LastTime() { return m_lastTm; }
    const COleDateTime& LastTime() const { return m_lastTm; }

    Status GetStatus() const { return m_status; }
    const std::string& Folder() const { return m_folder; }
    // Why the last read of any folder's list failed (for a clean's message).
    int ReadError() const { return m_readError; }
    int JournalEntries() const { return m_journalEntries; }
    // The memory holds a change the journal does not: the next save writes.
    bool MustWrite() const { return m_mustWrite; }
    void SetMustWrite() { m_mustWrite = true; }

    // ---- reading --------------------------------------------------------------
    struct ReadResult {
        bool read = false;      // the list is in memory (false: it could not be read, logged)
        bool idsStale = false;  // records came from disk: the engine's id set follows them
        bool listFile = false;  // a list file was read (its paging state is read next)
        int version = 0;        // the version of that list file
    };
    // Replaces memory with the list of dir, damaged lines salvaged and the
    // journal replayed. imageFolder: dir is the image folder, whose state is
    // tracked (a second folder is read only to be cleaned).
    ReadResult Read(const std::string& dir, bool imageFolder);
    // Memory no longer mirrors any list; dir's is read before it changes.
    void Forget(const std::string& dir);
    // Whether a write to dir makes memory and dir's list the same (the
    // journal is folded in then).
    bool Mirrors(const std::string& dir, bool imageFolder) const;

    // ---- journal ----------------------------------------------------------------
    // Puts a record ('+' adding, '-' removing) in dir's journal, flushed to
    // the device. False: not recorded (logged).
    bool Record(char op, const CFileData& record, const std::string& dir);
    // Appends encoded entries to the journal of dir (its header when new),
    // flushed to the device.
    static bool AppendJournal(const std::string& dir, const std::string& bytes, int* error);

    // ---- writing ----------------------------------------------------------------
    // The one write of the whole list: to dir, durably; foldJournal: memory
    // holds dir's list and journal, so the journal goes once the list is in
    // place. False when the list was not written (the reason is logged).
    bool Write(const std::string& dir, bool foldJournal, bool imageFolder);
    // Whether a save asked for by how writes now (for kPassEnd, a list file
    // that went missing is the caller's to add).
    bool SaveDue(ListSave how) const;

    // ---- on disk ------------------------------------------------------------------
    // The number of files cached in a folder as its list and journal on disk
    // say. False when the folder holds no readable list.
    static bool CountOnDisk(const std::string& folder, int* count);
    // Calls each with every path inside dir that its list and journal name.
    static void ForEachPathOnDisk(const std::string& dir,
                                  const std::function<void(const std::string&)>& each);

  private:
    bool FullWriteDue() const;
    int ReplayJournal(const std::string& dir, const CFolderGate& gate, bool imageFolder);
    bool MarkRead(bool imageFolder);

    CFileList m_records;
    bool m_dirty = false;
    bool m_notified = false;
    COleDateTime m_lastTm;

    Status m_status = kNotRead;
    std::string m_folder;               // the folder of the list in memory (kRead, kUnreadable)
    int m_journalEntries = 0;           // entries in that folder's journal
    bool m_mustWrite = false;           // memory holds a change the journal does not
    double m_writtenTm = kOleDate2000;  // m_lastTm as the list on disk has it
    int m_lastReadError = 0;            // the read error last logged (logged once)
    int m_readError = 0;
};
