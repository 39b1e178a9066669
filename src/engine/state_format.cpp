// Encoders and decoders of the run-state files (see state_format.h).
#include "engine/state_format.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "engine/path.h"
#include "engine/line_text.h"

namespace statefmt {

const char kListName[] = "vdt_vd_files.lst";
const char kPagingName[] = "vdt_vd_paging.lst";
const char kJournalName[] = "vdt_vd_files.jnl";
const char kLockName[] = "vdt_vd_files.lck";
const char kPagingHeader[] = "[Lumora Paging v1]";

namespace {

const char* const kListHeaders[] = {"[Veduta Lumora List]", "[Veduta Lumora List v2]",
                                    "[Veduta Lumora List v3]"};
const char kJournalHeader[] = "[Lumora Journal v1]";

void AppendLine(std::string& out, std::string_view text) {
    out.append(text.data(), text.size());
    out += "\r\n";
}

void AppendNumberLine(std::string& out, long long n) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
    out += "\r\n";
}

// Splits a line at its tabs.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

}  // namespace

const char* ListHeader(int version) {
    return version >= 1 && version <= 3 ? kListHeaders[version - 1] : "";
}

int ListVersionOf(const std::string& line) {
    for (int v = 1; v <= 3; ++v)
        if (line == kListHeaders[v - 1]) return v;
    return 0;
}

bool FitsLine(std::string_view text, size_t limit) {
    // The reader keeps limit - 1 bytes of a line, and the CR is one of them.
    return text.size() + 2 <= limit && !HasControl(text);
}

bool FitsList(const CFileView& record) {
    return !record.Id.empty() && FitsLine(record.Id, kListLineMax) && FitsLine(record.Path, kListLineMax);
}

int ParseNumber(std::string_view line) {
    // strtol reads up to a NUL: a short line goes through a buffer on the
    // stack (the bytes after a view are the next line's).
    char buf[64];
    long v;
    if (line.size() < sizeof buf) {
        std::memcpy(buf, line.data(), line.size());
        buf[line.size()] = 0;
        v = std::strtol(buf, nullptr, 0);
    } else {
        v = std::strtol(std::string(line).c_str(), nullptr, 0);
    }
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

bool IsWrittenNumber(const std::string& line) {
    size_t i = line.size() > 1 && line[0] == '-' ? 1 : 0;
    if (i == line.size() || line.size() > 11) return false;
    for (; i < line.size(); ++i)
        if (line[i] < '0' || line[i] > '9') return false;
    return true;
}

std::string Printable(const std::string& text) {
    std::string out(text);
    for (char& c : out)
        if (IsControlChar(static_cast<unsigned char>(c))) c = '?';
    return out;
}

bool LineSplitter::Next(std::string_view* line, bool* cut) {
    *line = std::string_view();
    if (m_pos >= m_size) return false;
    const char* start = m_data + m_pos;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', m_size - m_pos));
    size_t n = lf ? static_cast<size_t>(lf - start) : m_size - m_pos;
    m_pos += n + (lf ? 1 : 0);
    m_lastLf = lf != nullptr;
    *line = TakeLine(start, n, m_limit, cut);
    return true;
}

// ---- cache list -------------------------------------------------------------------

namespace {
// Records of another folder named one by one in the log; the rest are counted.
const int kOutsideNamed = 10;
}  // namespace

void DecodeList(const char* data, size_t size, const CFolderGate& gate, DecodedList* out) {
    LineSplitter in(data, size, kListLineMax);
    DecodeList(in, size, gate, out);
}

namespace {
// each: where the records go (nullptr: into out->records).
void DecodeListTo(LineSource& in, size_t size, const CFolderGate& gate, DecodedList* out,
                  const std::function<void(const CFileView&)>* each) {
    *out = DecodedList();
    std::string_view line;
    if (in.Next(&line)) out->version = ListVersionOf(std::string(line));
    if (out->version == 0) return;

    long long count = in.Next(&line) ? ParseNumber(line) : 0;
    const int blocks = in.Next(&line) ? ParseNumber(line) : 0;
    if (in.Next(&line)) out->timeText.assign(line.data(), line.size());

    // A sane count sizes the list up front (its characters are fewer than
    // the file's bytes, and a record takes at least four of them); a huge or
    // negative one is no promise of what follows.
    if (!each && count > 0 && count <= 10000000 && size > 0)
        out->records.Reserve(std::min(static_cast<size_t>(count), size / 4 + 1), size);
    // A negative count reads to the end of the file.
    const long long promised = count;
    long long read = 0;
    bool misaligned = false;
    int outside = 0;
    // A line is valid until the next is read (a file is read in pieces):
    // the id and the path are copied into buffers that keep their capacity.
    std::string idText, pathText;
    std::string_view id, path, index;
    while (count != 0) {
        --count;
        bool cutId = false, cutPath = false;
        if (!in.Next(&id, &cutId)) break;
        idText.assign(id.data(), id.size());
        id = idText;
        if (!in.Next(&path, &cutPath)) break;
        if (out->version >= 2) {
            pathText.assign(path.data(), path.size());
            path = pathText;
        }
        int feedIndex = -1;
        if (out->version >= 2) {
            if (!in.Next(&index)) break;
            feedIndex = ParseNumber(index);
        }
        ++read;
        if (id.empty()) continue;
        if (cutId || cutPath || HasControl(id) || HasControl(path)) {
            out->dropped.push_back("bad record dropped " + Printable(std::string(id)) + " " +
                                   Printable(std::string(path)));
            misaligned = true;
            continue;
        }
        if (!gate.Contains(path)) {
            // A record whose lines are not an id, a path and a feed number
            // is a sign of lines out of step (a line lost or added).
            if (IsWrittenNumber(std::string(path)) ||
                (out->version >= 2 && !IsWrittenNumber(std::string(index)))) {
                out->dropped.push_back("bad record dropped " + Printable(std::string(id)) + " " +
                                       Printable(std::string(path)));
                misaligned = true;
                continue;
            }
            // A list of another folder (one copied or moved here) is no
            // damage: its records are left out and said, a few by name.
            if (++outside <= kOutsideNamed)
                out->dropped.push_back("record outside the folder dropped " + std::string(path));
            continue;
        }
        if (each)
            (*each)(CFileView{path, id, feedIndex});
        else
            out->records.AddTail(path, id, feedIndex);
    }
    if (out->version == 2) {
        for (int b = 0; b < blocks; ++b) {
            bool more = true;
            for (int k = 0; k < 8 && more; ++k) more = in.Next(&line);
            if (!more) break;
        }
    }
    if (outside > kOutsideNamed)
        out->dropped.push_back(std::to_string(outside) + " records outside the folder dropped");
    // The reader stops at the end of the file whatever the count said: the
    // records there are whole, so this is said, not kept aside.
    if (promised > 0 && read < promised && !misaligned)
        out->notes.push_back("the file ends after " + std::to_string(read) + " of " +
                             std::to_string(promised) + " records");
    if (misaligned)
        out->damage = "records out of step";
    else if (in.EndsCut())
        out->damage = "the last line is cut";
}
}  // namespace

void DecodeList(LineSource& in, size_t size, const CFolderGate& gate, DecodedList* out) {
    DecodeListTo(in, size, gate, out, nullptr);
}

void DecodeList(LineSource& in, const CFolderGate& gate, DecodedList* out,
                const std::function<void(const CFileView&)>& each) {
    DecodeListTo(in, 0, gate, out, &each);
}

std::vector<CFileData> SalvageList(const char* data, size_t size, const CFolderGate& gate) {
    LineSplitter in(data, size, kListLineMax);
    return SalvageList(in, gate);
}

std::vector<CFileData> SalvageList(LineSource& in, const CFolderGate& gate) {
    // A window of three lines: the id before a path, the path, and the feed
    // number after it.
    struct Line {
        std::string text;
        bool usable = false;
    };
    Line window[3];
    size_t have = 0;
    std::vector<CFileData> out;
    std::unordered_set<std::string> seen;
    // Looks at window[1] as a path, window[2] (if there) as its feed line.
    auto look = [&](bool withNext) {
        const Line& idLine = window[0];
        const Line& pathLine = window[1];
        const std::string& path = pathLine.text;
        if (!pathLine.usable || !idLine.usable || path.empty() || idLine.text.empty()) return;
        if (IsWrittenNumber(idLine.text) || !gate.Contains(path)) return;
        if (!seen.insert(FoldPathCase(path)).second) return;
        int feed = -1;
        if (withNext && window[2].usable && IsWrittenNumber(window[2].text))
            feed = ParseNumber(window[2].text);
        out.push_back(CFileData(path, idLine.text, feed));
    };
    std::string line;
    bool cut = false;
    while (in.Next(&line, &cut)) {
        // A line cut by the end of the file may be a path cut short.
        Line next;
        next.usable = !cut && in.LastHadLineFeed() && !HasControl(line);
        next.text.swap(line);
        if (have < 3) {
            window[have++] = std::move(next);
            if (have < 3) continue;
        } else {
            window[0] = std::move(window[1]);
            window[1] = std::move(window[2]);
            window[2] = std::move(next);
        }
        look(true);
    }
    // The last line as a path (nothing after it).
    if (have == 3) {
        window[0] = std::move(window[1]);
        window[1] = std::move(window[2]);
        look(false);
    } else if (have == 2) {
        look(false);
    }
    return out;
}

namespace {
char* PutLine(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    p += text.size();
    std::memcpy(p, "\r\n", 2);
    return p + 2;
}

// PutLine when the text fits a list line (FitsLine), else nullptr: the
// check rides on the copy, so each record is read once.
char* PutFittingLine(char* p, std::string_view text) {
    const size_t n = text.size();
    if (n + 2 > kListLineMax) return nullptr;
#if defined(__SSE2__)
    if (n >= 16) {
        // As HasControl: a byte below 0x20 equals its unsigned minimum with
        // 0x1F. The last sixteen bytes overlap the block before them.
        const __m128i low = _mm_set1_epi8(0x1F), del = _mm_set1_epi8(0x7F);
        const char* s = text.data();
        __m128i seen = _mm_setzero_si128();
        auto copy = [&](size_t at) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + at), v);
            seen = _mm_or_si128(
                seen, _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, low), v), _mm_cmpeq_epi8(v, del)));
        };
        size_t at = 0;
        for (; at + 16 <= n; at += 16) copy(at);
        if (at < n) copy(n - 16);
        if (_mm_movemask_epi8(seen) != 0) return nullptr;
        p += n;
        std::memcpy(p, "\r\n", 2);
        return p + 2;
    }
#endif
    if (HasControl(text)) return nullptr;
    return PutLine(p, text);
}
}  // namespace

ListEncoder::ListEncoder(const CFileList& records, const std::string& timeText)
    : m_records(records), m_count(static_cast<size_t>(records.GetCount())), m_timeText(timeText) {
    MakeHead();
}

void ListEncoder::MakeHead() {
    m_head.clear();
    AppendLine(m_head, ListHeader(3));
    AppendNumberLine(m_head, static_cast<long long>(m_count - m_skipped.size()));
    AppendNumberLine(m_head, 0);
    AppendLine(m_head, m_timeText);
}

void ListEncoder::NoteUnfit() {
    // Rare: only the positions of those that do not fit are kept.
    m_unfitFound = true;
    size_t k = 0;
    for (const CFileView d : m_records) {
        if (k == m_count) break;
        if (!FitsList(d)) {
            m_skippedAt.push_back(k);
            m_skipped.push_back(CFileData(d));
        }
        ++k;
    }
    MakeHead();
}

bool ListEncoder::Write(const std::function<bool(const char*, size_t)>& sink) {
    // One piece of kListWritePiece bytes, filled with whole records and
    // handed on when the next record might not fit (a record is at most two
    // lines of kListLineMax and a number).
    const size_t kRecordMax = 2 * kListLineMax + 32;
    static_assert(kListWritePiece > 2 * (2 * kListLineMax + 32), "a piece holds at least two records");
    // Not value-initialised: every byte handed on is written first.
    const std::unique_ptr<char[]> piece(new char[kListWritePiece]);
    char* const begin = piece.get();
    char* const limit = begin + kListWritePiece - kRecordMax;
    char* p = begin;
    if (m_head.size() > kListWritePiece - kRecordMax) {
        if (!sink(m_head.data(), m_head.size())) return false;
    } else {
        std::memcpy(p, m_head.data(), m_head.size());
        p += m_head.size();
    }
    size_t k = 0, skip = 0;
    for (const CFileView d : m_records) {
        if (k == m_count) break;  // a record added since the encoder was made
        if (skip < m_skippedAt.size() && m_skippedAt[skip] == k++) {
            ++skip;
            continue;
        }
        if (p > limit) {
            if (!sink(begin, static_cast<size_t>(p - begin))) return false;
            p = begin;
        }
        char* next = d.Id.empty() ? nullptr : PutFittingLine(p, d.Id);
        if (next) next = PutFittingLine(next, d.Path);
        if (!next) {
            // Already noted, this cannot happen unless the list changed.
            if (!m_unfitFound) NoteUnfit();
            return false;
        }
        p = next;
        if (d.FeedIndex >= 0 && d.FeedIndex <= 9) {
            *p++ = static_cast<char>('0' + d.FeedIndex);
        } else {
            char* const end = p + 12;  // "-2147483648"
            p = std::to_chars(p, end, d.FeedIndex).ptr;
        }
        std::memcpy(p, "\r\n", 2);
        p += 2;
    }
    return p == begin || sink(begin, static_cast<size_t>(p - begin));
}

std::string EncodeList(const CFileList& records, const std::string& timeText,
                       std::vector<CFileData>* skipped) {
    ListEncoder encoder(records, timeText);
    std::string out;
    const auto sink = [&out](const char* data, size_t size) {
        out.append(data, size);
        return true;
    };
    if (!encoder.Write(sink)) {
        out.clear();
        encoder.Write(sink);
    }
    if (skipped) skipped->insert(skipped->end(), encoder.Skipped().begin(), encoder.Skipped().end());
    return out;
}

bool DecodeListCounts(const char* data, size_t size, int* count, int* found) {
    LineSplitter in(data, size, kListLineMax);
    std::string line;
    if (!in.Next(&line) || ListVersionOf(line) == 0) return false;
    *count = in.Next(&line) ? ParseNumber(line) : 0;
    *found = in.Next(&line) ? ParseNumber(line) : 0;
    return true;
}

// ---- journal -------------------------------------------------------------------------

std::string EncodeJournalHeader() {
    return std::string(kJournalHeader) + "\r\n";
}

namespace {
// FNV-1a of an entry's text, as 8 hex digits: a line cut short or run into
// by the next write does not pass for an entry.
std::string Check(const std::string& text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", h);
    return hex;
}
}  // namespace

std::string EncodeJournalRecord(char op, const CFileView& record) {
    std::string line(1, op);
    line += '\t';
    line.append(record.Id.data(), record.Id.size());
    line += '\t';
    line.append(record.Path.data(), record.Path.size());
    line += '\t';
    line += std::to_string(record.FeedIndex);
    // Each entry starts on a line of its own, even after a write that a
    // full disk or a crash cut short.
    return "\r\n" + line + "\t" + Check(line) + "\r\n";
}

void DecodeJournal(const char* data, size_t size, std::vector<JournalEntry>* entries, int* skipped) {
    LineSplitter in(data, size, kJournalLineMax);
    DecodeJournal(in, entries, skipped);
}

void DecodeJournal(LineSource& in, std::vector<JournalEntry>* entries, int* skipped) {
    entries->clear();
    *skipped = 0;
    std::string line;
    bool cut = false;
    bool first = true;
    while (in.Next(&line, &cut)) {
        // The header, or a header a crash cut short: the entries after it
        // carry their own checks.
        if (first) {
            first = false;
            if (line != kJournalHeader) ++*skipped;
            continue;
        }
        if (line.empty()) continue;
        // A line without its line feed, or whose check does not match, is a
        // write that a crash or a full disk cut short: it is left out.
        std::vector<std::string> f = Fields(line);
        JournalEntry e;
        bool whole = !cut && in.LastHadLineFeed() && f.size() == 5 && (f[0] == "+" || f[0] == "-") &&
                     IsWrittenNumber(f[3]) && Check(line.substr(0, line.size() - f[4].size() - 1)) == f[4];
        if (whole) {
            e.op = f[0][0];
            e.record = CFileData(f[2], f[1], ParseNumber(f[3]));
            whole = FitsList(e.record);
        }
        if (!whole) {
            ++*skipped;
            continue;
        }
        entries->push_back(std::move(e));
    }
}

// ---- paging state ----------------------------------------------------------------------

void DecodePaging(const char* data, size_t size, DecodedPaging* out) {
    *out = DecodedPaging();
    LineSplitter in(data, size, kPagingLineMax);
    std::string line;
    if (!in.Next(&line) || line != kPagingHeader) return;
    out->ok = true;
    out->stored = in.Next(&line) ? ParseNumber(line) : 0;
    std::string seed, page, lastPage;
    for (int k = 0; k < out->stored; ++k) {
        bool cut = false;
        if (!in.Next(&seed, &cut) || !in.Next(&page) || !in.Next(&lastPage)) break;
        PagingEntry e;
        // A seed that does not fit its line is no seed the service gave: an
        // empty one asks for a new order.
        e.seed = cut ? std::string() : WithoutControls(seed);
        e.page = ParseNumber(page);
        e.lastPage = ParseNumber(lastPage);
        out->entries.push_back(std::move(e));
    }
}

std::string EncodePaging(const CFeedArray& feeds) {
    std::string out;
    AppendLine(out, kPagingHeader);
    AppendNumberLine(out, feeds.GetSize());
    for (const CLumoraFeed& feed : feeds) {
        // A seed is the service's text: without control characters it stays
        // one line.
        AppendLine(out, WithoutControls(feed.Seed));
        AppendNumberLine(out, feed.Page);
        AppendNumberLine(out, feed.LastPage);
    }
    return out;
}

}  // namespace statefmt
