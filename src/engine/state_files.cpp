// The two run-state files of an image folder: the cache list
// "vdt_vd_files.lst" and the paging state "vdt_vd_paging.lst".
//
// Both are written whole to a "__t" file beside them, flushed, and then moved
// over the old file, so a crash or a full disk leaves the previous list
// rather than a cut one (a lost list would orphan every cached file).
// Lines end with CR LF on every build; readers take LF or CR LF.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "engine/line_text.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "common/host_callback.h"

namespace {

const char kListName[] = "vdt_vd_files.lst";
const char kPagingName[] = "vdt_vd_paging.lst";
const char kListHeader1[] = "[Veduta Lumora List]";
const char kListHeader2[] = "[Veduta Lumora List v2]";
const char kListHeader3[] = "[Veduta Lumora List v3]";
const char kPagingHeader[] = "[Lumora Paging v1]";

// Line limits of the two files (a path, id or seed is far shorter).
const size_t kListLineMax = 8192;
const size_t kPagingLineMax = 1024;

// Reads a file line by line. A line longer than the limit is cut to
// limit - 1 bytes and flagged, and the rest of it up to its line feed is
// skipped: the lines after it stay in step (a fixed-size line buffer would
// otherwise hand the rest out as the next lines and shift every record).
class LineReader {
public:
    LineReader(FILE* f, size_t limit) : m_file(f), m_limit(limit), m_buf(65536) {}

    // The next line without its LF (and a CR before it); false at the end
    // of the file or on a read error.
    bool Next(std::string* line, bool* cut = nullptr) {
        line->clear();
        bool tooLong = false, any = false;
        for (;;) {
            if (m_pos == m_len && !Fill()) break;
            any = true;
            const char* start = m_buf.data() + m_pos;
            const char* lf = static_cast<const char*>(std::memchr(start, '\n', m_len - m_pos));
            size_t n = lf ? static_cast<size_t>(lf - start) : m_len - m_pos;
            size_t room = m_limit - 1 > line->size() ? m_limit - 1 - line->size() : 0;
            if (n > room) tooLong = true;
            line->append(start, n < room ? n : room);
            m_pos += n;
            if (lf) {
                ++m_pos;
                break;
            }
        }
        if (!any) return false;
        if (!line->empty() && line->back() == '\r') line->pop_back();
        if (cut) *cut = tooLong;
        return true;
    }

private:
    bool Fill() {
        if (m_eof) return false;
        m_len = std::fread(m_buf.data(), 1, m_buf.size(), m_file);
        m_pos = 0;
        if (m_len == 0) m_eof = true;
        return m_len > 0;
    }

    FILE* m_file;
    size_t m_limit;
    std::vector<char> m_buf;  // on the heap: the worker's stack stays small
    size_t m_pos = 0, m_len = 0;
    bool m_eof = false;
};

// A number line as strtol with base 0 reads it, held to the int range.
int ParseNumber(const std::string& line) {
    long v = std::strtol(line.c_str(), nullptr, 0);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// A text fit for a log line (control characters shown as "?").
std::string Printable(const std::string& s) {
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

// Whether a text can be one line of a state file that reads back unchanged.
bool FitsLine(const std::string& s, size_t limit) { return s.size() < limit && !HasControl(s); }

void AppendNumberLine(std::string& out, long long n) {
    out += std::to_string(n);
    out += "\r\n";
}

void AppendLine(std::string& out, const std::string& text) {
    out += text;
    out += "\r\n";
}

// Writes bytes to path through a temporary file moved over it; on any
// failure the old file stays as it was and one line names the reason.
bool ReplaceFileContents(const std::string& path, const std::string& bytes, const char* who) {
    std::string temp = path;
    ReplaceExtension(temp, "__t");
    FILE* f = plat::OpenFile(temp, "wb");
    if (!f) {
        LogMessage("%s: can't create file %s", who, path.c_str());
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = plat::FlushClose(f) && ok;
    if (!ok) {
        plat::DeleteFileAt(temp);
        LogMessage("%s: can't write file %s", who, path.c_str());
        return false;
    }
    int error = 0;
    if (!plat::MoveReplace(temp, path, &error)) {
        plat::DeleteFileAt(temp);
        LogMessage("%s: can't replace file %s, error %d", who, path.c_str(), error);
        return false;
    }
    return true;
}

std::string FolderOf(const char* folder, const CLumoraSettings& settings) {
    return (folder && *folder) ? std::string(folder) : settings.ImgFolder;
}
std::string FileIn(const std::string& folder, const char* name) {
    std::string path = folder;
    AddBackslash(path);
    return path + name;
}

}  // namespace

void CLumoraEngine::WriteLocalFileList(const char* folder) {
    std::string path = FileIn(FolderOf(folder, m_settings), kListName);

    std::string body;
    int written = 0;
    for (const CFileData& d : m_lclfiles) {
        // Ids and paths come from the service; one with a line break would
        // shift every record after it, so such a record is left out.
        if (!FitsLine(d.Id, kListLineMax) || !FitsLine(d.Path, kListLineMax)) {
            LogMessage("WriteLocalFileList: record not written, bad id or path %s %s", Printable(d.Id).c_str(),
                       Printable(d.Path).c_str());
            continue;
        }
        AppendLine(body, d.Id);
        AppendLine(body, d.Path);
        AppendNumberLine(body, d.FeedIndex);
        ++written;
    }

    std::string out;
    out.reserve(body.size() + 128);
    AppendLine(out, kListHeader3);
    AppendNumberLine(out, written);
    AppendNumberLine(out, 0);
    AppendLine(out, plat::OleDateToText(m_lastTm.m_valid ? m_lastTm.m_dt : kOleDate2000));
    out += body;
    ReplaceFileContents(path, out, "WriteLocalFileList");
}

void CLumoraEngine::ReadLocalFileList(const char* folder) {
    m_dirty = 0;
    m_lclfiles.RemoveAll();

    std::string dir = FolderOf(folder, m_settings);
    std::string path = FileIn(dir, kListName);
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) {
        LogMessage("ReadLocalFileList: file list not found");
        return;
    }
    LineReader in(f, kListLineMax);
    std::string line;
    int version = 0;
    if (in.Next(&line)) {
        if (line == kListHeader1) version = 1;
        else if (line == kListHeader2) version = 2;
        else if (line == kListHeader3) version = 3;
    }
    if (version == 0) {
        std::fclose(f);
        LogMessage("ReadLocalFileList: wrong file header");
        return;
    }

    long long count = in.Next(&line) ? ParseNumber(line) : 0;
    int blocks = in.Next(&line) ? ParseNumber(line) : 0;

    // An empty, missing or unreadable time means "never".
    m_lastTm = COleDateTime();
    double when = 0;
    if (in.Next(&line) && !line.empty() && plat::TextToOleDate(line, &when)) m_lastTm.m_dt = when;

    // A negative count reads to the end of the file.
    // A sane count sizes the index up front; a huge or negative one is no
    // promise of what follows.
    if (count > 0 && count <= 10000000) m_lclfiles.Reserve(static_cast<size_t>(count));
    const CFolderGate gate(dir);
    std::string id, filePath, index;
    while (count != 0) {
        --count;
        bool cutId = false, cutPath = false;
        if (!in.Next(&id, &cutId) || !in.Next(&filePath, &cutPath)) break;
        int feedIndex = -1;
        if (version >= 2) {
            if (!in.Next(&index)) break;
            feedIndex = ParseNumber(index);
        }
        if (id.empty()) continue;
        if (cutId || cutPath || HasControl(id) || HasControl(filePath)) {
            LogMessage("ReadLocalFileList: bad record dropped %s %s", Printable(id).c_str(),
                       Printable(filePath).c_str());
            continue;
        }
        // Whatever the list says, the engine deletes nothing outside the
        // folder the list belongs to.
        if (!gate.Contains(filePath)) {
            LogMessage("ReadLocalFileList: record outside the folder dropped %s", filePath.c_str());
            continue;
        }
        m_lclfiles.AddTail(CFileData(std::move(filePath), std::move(id), feedIndex));
    }
    if (version == 2) {
        for (int b = 0; b < blocks; ++b) {
            bool more = true;
            for (int k = 0; k < 8 && more; ++k) more = in.Next(&line);
            if (!more) break;
        }
    }
    std::fclose(f);

    m_notified = m_lclfiles.GetCount() > 4 ? 1 : 0;
    RebuildIdMap();
    ReadPagingState(folder);
    LogMessage("ReadLocalFileList: file list loaded (%d local, v%d)", m_lclfiles.GetCount(), version);
}

void CLumoraEngine::WritePagingState(const char* folder) {
    std::string path = FileIn(FolderOf(folder, m_settings), kPagingName);
    std::string out;
    AppendLine(out, kPagingHeader);
    AppendNumberLine(out, m_feeds.GetSize());
    for (const CLumoraFeed& feed : m_feeds) {
        // A seed is the service's text: without control characters it
        // stays one line.
        AppendLine(out, WithoutControls(feed.Seed));
        AppendNumberLine(out, feed.Page);
        AppendNumberLine(out, feed.LastPage);
    }
    ReplaceFileContents(path, out, "WritePagingState");
}

void CLumoraEngine::ReadPagingState(const char* folder) {
    std::string path = FileIn(FolderOf(folder, m_settings), kPagingName);
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) {
        LogMessage("ReadPagingState: file not found");
        return;
    }
    LineReader in(f, kPagingLineMax);
    std::string line;
    if (!in.Next(&line) || line != kPagingHeader) {
        std::fclose(f);
        LogMessage("ReadPagingState: wrong header");
        return;
    }
    int stored = in.Next(&line) ? ParseNumber(line) : 0;
    int feeds = m_feeds.GetSize();
    int m = stored < feeds ? stored : feeds;
    if (m < 0) m = 0;

    std::string seed, page, lastPage;
    for (int k = 0; k < stored; ++k) {
        bool cut = false;
        if (!in.Next(&seed, &cut) || !in.Next(&page) || !in.Next(&lastPage)) break;
        if (k >= m) continue;
        CLumoraFeed& feed = m_feeds[k];
        // A seed that does not fit its line is no seed the service gave:
        // an empty one asks for a new order.
        feed.Seed = cut ? std::string() : WithoutControls(seed);
        feed.Page = ParseNumber(page);
        feed.LastPage = ParseNumber(lastPage);
        LogMessage("ReadPagingState: %d current page = %d", k, feed.Page);
    }
    std::fclose(f);
    LogMessage("ReadPagingState: loaded (%d feeds)", m);
}

void CLumoraEngine::RemoveStaleTempFiles(const char* folder) {
    std::string dir = FolderOf(folder, m_settings);
    // Without an image folder the names would be relative to whatever the
    // current folder is: touch nothing there.
    if (dir.empty()) return;
    auto isTemp = [](const std::string& name) {
        return name.size() > 4 && plat::FoldCase(name.substr(name.size() - 4)) == ".__t";
    };
    auto clean = [&](const std::string& where, bool descend) {
        std::vector<plat::FolderEntry> entries;
        if (!plat::ListFolder(where, &entries)) return entries;
        std::string base = where;
        AddBackslash(base);
        for (const plat::FolderEntry& e : entries) {
            if (e.isFolder || !isTemp(e.name)) continue;
            int error = 0;
            if (plat::DeleteFileAt(base + e.name, &error))
                LogMessage("RemoveStaleTempFiles: removed %s%s", base.c_str(), e.name.c_str());
            else
                LogMessage("RemoveStaleTempFiles: Unable to Remove %s%s, error %d", base.c_str(), e.name.c_str(),
                           error);
        }
        if (!descend) entries.clear();
        return entries;
    };
    std::string base = dir;
    AddBackslash(base);
    for (const plat::FolderEntry& e : clean(dir, true))
        if (e.isFolder) clean(base + e.name, false);
}
