// The bytes of the run-state files of an image folder, and nothing else:
// encoders and decoders of the cache list (versions 1 to 3, version 3
// written), its journal, and the paging state. No file access here; the
// cache list (cache_list.cpp) and the engine (state_files.cpp, cleaning.cpp)
// read and write the files and hand the bytes or lines to these functions.
//
// Lines end with CR LF when written; readers take LF or CR LF.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/records.h"
#include "engine/file_list.h"

class CFolderGate;

namespace statefmt {

extern const char kListName[];     // "vdt_vd_files.lst"
extern const char kPagingName[];   // "vdt_vd_paging.lst"
extern const char kJournalName[];  // "vdt_vd_files.jnl": changes since the list was last written
extern const char kLockName[];     // "vdt_vd_files.lck": held by the one engine that changes the folder
extern const char kPagingHeader[];

// Line limits: a reader holds at most limit - 1 bytes of a line, its CR
// included (a path, id or seed is far shorter).
const size_t kListLineMax = 8192;
const size_t kPagingLineMax = 1024;

// The header line of a cache list version (1, 2, 3), and the version a
// header line names (0: none; the comparison is exact, case included).
const char* ListHeader(int version);
int ListVersionOf(const std::string& line);

// Whether a text can be one line of a file with this limit and read back
// unchanged: no control character, and short enough with its CR.
bool FitsLine(std::string_view text, size_t limit);
// Whether a record can be written to the cache list (and its journal) and
// read back as it is.
bool FitsList(const CFileView& record);
inline bool FitsList(const CFileData& record) {
    return FitsList(record.View());
}

// A number line as strtol with base 0 reads it, held to the int range.
int ParseNumber(std::string_view line);
// Whether a line is a number as the writer writes it ("-12", "0").
bool IsWrittenNumber(const std::string& line);

// A text fit for a log line (control characters shown as "?").
std::string Printable(const std::string& text);

// Where the decoders take their lines from: bytes in memory, or a file read
// in pieces (CFileLines in cache_list.h), so a long list never has to be one
// buffer.
class LineSource {
  public:
    virtual ~LineSource() = default;
    // The next line without its LF (and a CR before it), valid until the next
    // call; false at the end. A line longer than the limit is cut to limit -
    // 1 bytes and flagged, and the rest of it up to its line feed is skipped,
    // so the lines after it stay in step.
    virtual bool Next(std::string_view* line, bool* cut = nullptr) = 0;
    bool Next(std::string* line, bool* cut = nullptr) {
        std::string_view view;
        const bool more = Next(&view, cut);
        line->assign(view.data(), view.size());
        return more;
    }
    // Whether the last line returned ended with a line feed.
    virtual bool LastHadLineFeed() const = 0;
    // Whether the bytes end without a line feed (the last line cut short).
    virtual bool EndsCut() const = 0;
};

// One line of n bytes at start as every line source hands it on: cut to
// limit - 1 bytes (*cut says so) and without the CR before its LF.
inline std::string_view TakeLine(const char* start, size_t n, size_t limit, bool* cut) {
    const bool tooLong = n > limit - 1;
    if (tooLong) n = limit - 1;
    if (n > 0 && start[n - 1] == '\r') --n;
    if (cut) *cut = tooLong;
    return std::string_view(start, n);
}

// Splits bytes in memory into lines.
class LineSplitter : public LineSource {
  public:
    LineSplitter(const char* data, size_t size, size_t limit) : m_data(data), m_size(size), m_limit(limit) {}
    using LineSource::Next;
    bool Next(std::string_view* line, bool* cut = nullptr) override;
    bool LastHadLineFeed() const override { return m_lastLf; }
    bool EndsCut() const override { return m_size > 0 && m_data[m_size - 1] != '\n'; }
    bool AtEnd() const { return m_pos >= m_size; }

  private:
    const char* m_data;
    size_t m_size;
    size_t m_limit;
    size_t m_pos = 0;
    bool m_lastLf = false;
};

// ---- cache list ---------------------------------------------------------------
// Records are checked against the folder the list lies in: a record naming a
// path outside it is dropped (whatever the list says, the engine deletes
// nothing outside its folder).
struct DecodedList {
    int version = 0;       // 0: no header of a cache list
    std::string timeText;  // line 4 (empty when missing)
    CFileList records;
    std::vector<std::string> dropped;  // log texts of records left out
    std::vector<std::string> notes;    // log texts of what the format allows (a count above the records)
    // Signs of damage (beyond what the format allows): a record line that is
    // not a record (lines out of step), the last line cut short. Records of
    // another folder and a count above the records are no damage. Empty when
    // none.
    std::string damage;
};
void DecodeList(const char* data, size_t size, const CFolderGate& gate, DecodedList* out);
// The same from lines of kListLineMax; sizeHint (the bytes there are, 0 when
// not known) only sizes the list up front.
void DecodeList(LineSource& in, size_t sizeHint, const CFolderGate& gate, DecodedList* out);
// The same, each record that would be kept handed to each instead (views
// valid during the call) and out->records left empty: a caller that only
// looks at the records holds no list of them.
void DecodeList(LineSource& in, const CFolderGate& gate, DecodedList* out,
                const std::function<void(const CFileView&)>& each);

// Records found in the bytes of a damaged list (a wrong header, lines of
// garbage, records out of step): every group of an id line, a path line
// inside the folder and a number line, in file order; a path line followed
// by something else gets feed -1. Each path at most once.
std::vector<CFileData> SalvageList(const char* data, size_t size, const CFolderGate& gate);
std::vector<CFileData> SalvageList(LineSource& in, const CFolderGate& gate);

// The version 3 list of the records that fit (FitsList), handed out in
// pieces of at most kListWritePiece bytes, so writing a long list needs no
// buffer of its size. Each record is checked as it is copied: the first
// Write counts on all of them fitting (the count line comes first), and
// when one does not it stops with FoundUnfit(); copies of those that do not
// fit are in Skipped() from then on, and the next Write leaves them out.
// Files are read in pieces of kListChunk bytes; a written piece is larger,
// since each is one system call (a 7 MB list: 28 calls rather than 110).
const size_t kListChunk = 64 * 1024;
const size_t kListWritePiece = 256 * 1024;
class ListEncoder {
  public:
    ListEncoder(const CFileList& records, const std::string& timeText);
    const std::vector<CFileData>& Skipped() const { return m_skipped; }
    bool FoundUnfit() const { return m_unfitFound; }
    // Calls sink with each piece in order; false as soon as sink says false,
    // or when a record is found not to fit (start over on an empty sink).
    // The list must not change between the making and the last call.
    bool Write(const std::function<bool(const char* data, size_t size)>& sink);

  private:
    void NoteUnfit();
    void MakeHead();
    const CFileList& m_records;
    size_t m_count;  // records in the list when the encoder was made
    std::string m_timeText;
    std::string m_head;
    bool m_unfitFound = false;
    std::vector<size_t> m_skippedAt;  // positions in list order of the records left out, ascending
    std::vector<CFileData> m_skipped;
};
// The whole list as one text (small lists, tests).
std::string EncodeList(const CFileList& records, const std::string& timeText,
                       std::vector<CFileData>* skipped);

// The first lines of a cache list, for the status rows: false when the bytes
// do not start with a cache list header.
bool DecodeListCounts(const char* data, size_t size, int* count, int* found);

// ---- journal --------------------------------------------------------------------
// An append-only file beside the list: each line one change made since the
// list was last written. A reader replays it over the list; the next full
// write of the list makes it obsolete and deletes it.
//   "[Lumora Journal v1]"              header
//   "+\tid\tpath\tfeed\tcheck"          a file is (about to be) in the cache
//   "-\tid\tpath\tfeed\tcheck"          a file is (about to be) deleted
// check: 8 hex digits of FNV-1a over the text before it. Every entry is
// written after a line break of its own, so a write cut short (a crash, a
// full disk) spoils only its own line, which the reader leaves out.
// A record is written before the file operation it announces: the reader
// asks the disk whether the file is there, so a crash between the two
// leaves neither an orphan nor a ghost.
struct JournalEntry {
    char op = 0;  // '+' or '-'
    CFileData record;
};
std::string EncodeJournalHeader();
std::string EncodeJournalRecord(char op, const CFileView& record);
inline std::string EncodeJournalRecord(char op, const CFileData& record) {
    return EncodeJournalRecord(op, record.View());
}
// The whole entries; *skipped counts the lines left out (a header cut short
// among them).
const size_t kJournalLineMax = 2 * kListLineMax + 64;
void DecodeJournal(const char* data, size_t size, std::vector<JournalEntry>* entries, int* skipped);
// The same from lines of kJournalLineMax.
void DecodeJournal(LineSource& in, std::vector<JournalEntry>* entries, int* skipped);

// ---- paging state ------------------------------------------------------------------
struct PagingEntry {
    std::string seed;  // empty when the line was too long for a seed
    int page = 0;
    int lastPage = 0;
};
struct DecodedPaging {
    bool ok = false;                   // the header was right
    int stored = 0;                    // the count line
    std::vector<PagingEntry> entries;  // whole entries, at most 'stored'
};
void DecodePaging(const char* data, size_t size, DecodedPaging* out);
std::string EncodePaging(const CFeedArray& feeds);

}  // namespace statefmt
