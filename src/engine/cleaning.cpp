// Shown-file reports, eviction of shown files, clearing a folder's cache,
// and the status rows of the Local Cache dialog.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/engine.h"
#include "engine/worker.h"
#include "platform/fs.h"
#include "common/host_callback.h"

namespace {

const char kListName[] = "vdt_vd_files.lst";
const char kPagingName[] = "vdt_vd_paging.lst";

std::string FileIn(const std::string& folder, const char* name) {
    std::string path = folder;
    AddBackslash(path);
    return path + name;
}

// Reads the first lines of a state file for the status rows: false when
// the file is missing or its first line is not one of the headers given.
class StatusReader {
public:
    explicit StatusReader(const std::string& path) : m_file(plat::OpenFile(path, "rb")) {}
    ~StatusReader() {
        if (m_file) std::fclose(m_file);
    }
    bool Open() const { return m_file != nullptr; }
    // The next line without its line end; false at the end of the file.
    bool Next(std::string* line) {
        line->clear();
        if (!m_file) return false;
        int c;
        bool any = false;
        while ((c = std::fgetc(m_file)) != EOF) {
            any = true;
            if (c == '\n') break;
            if (line->size() < 8191) line->push_back(static_cast<char>(c));
        }
        if (!line->empty() && line->back() == '\r') line->pop_back();
        return any;
    }
    int NextNumber() {
        std::string line;
        return Next(&line) ? Number(line) : 0;
    }
    // A number line as strtol with base 0 reads it, held to the int range.
    static int Number(const std::string& line) {
        long v = std::strtol(line.c_str(), nullptr, 0);
        return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
    }

private:
    FILE* m_file;
};

}  // namespace

void CLumoraEngine::OnFileDisplayed(const char* path) {
    if (!path || !*path) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        CFileList::iterator it = m_dispfiles.Find(path);
        if (it != m_dispfiles.end()) m_dispfiles.RemoveAt(it);
        m_dispfiles.AddTail(CFileData(path, std::string(), -1));
    }
    // Woken after the lock is released, so the worker never waits on it.
    std::shared_ptr<CLumoraThread> worker = m_thread;
    if (worker) worker->RequestDownload();
}

void CLumoraEngine::CleanDispFiles(int count) {
    while (count != 0) {
        --count;
        if (m_dispfiles.IsEmpty()) break;
        std::string shown = m_dispfiles.GetHead().Path;
        m_dispfiles.RemoveHead();

        CFileList::iterator it = m_lclfiles.Find(shown);
        if (it == m_lclfiles.end()) continue;  // not a file of this cache
        std::string path = it->Path;
        int error = 0;
        if (DeleteLocalFile(path, &error) || error == plat::kErrFileNotFound) {
            m_lclfiles.RemoveAt(it);
            LogMessage("CleanDispFiles: Removed %s", path.c_str());
            m_dirty = 1;
        } else {
            LogMessage("CleanDispFiles: Unable to Remove %s, error %d", path.c_str(), error);
        }
    }
}

int CLumoraEngine::DeleteLocalFile(const std::string& path, int* error) {
    std::string side = SidePathOf(path);
    if (plat::PathExists(side)) plat::DeleteFileAt(side);
    int err = 0;
    bool ok = plat::DeleteFileAt(path, &err);
    if (error) *error = ok ? 0 : err;
    return ok ? 1 : 0;
}

void CLumoraEngine::CleanLocalFiles() {
    for (CFileList::iterator it = m_lclfiles.begin(); it != m_lclfiles.end();) {
        std::string path = it->Path;
        int error = 0;
        if (DeleteLocalFile(path, &error) || error == plat::kErrFileNotFound) {
            it = m_lclfiles.RemoveAt(it);
            LogMessage("CleanLocalFiles: Removed %s", path.c_str());
            m_dirty = 1;
        } else {
            LogMessage("CleanLocalFiles: Unable to Remove %s, error %d", path.c_str(), error);
            ++it;
        }
    }
}

void CLumoraEngine::ClearCache(const std::string& folder) {
    if (folder.empty()) return;
    // Held for the whole clean: a pass on the worker thread waits, and one
    // that released the lock for a transfer sees the generation change.
    std::lock_guard<std::recursive_mutex> guard(m_data);
    ++m_generation;

    // m_lclfiles always mirrors the image folder's list. Cleaning another
    // folder (the Local Cache dialog shows a folder typed but not yet
    // confirmed) must not put that folder's records in its place: the next
    // write would then drop the image folder's list and orphan its files.
    const bool otherFolder = !SameFolder(folder, m_settings.ImgFolder);
    CFileList kept;
    int keptDirty = m_dirty, keptNotified = m_notified;
    if (otherFolder) std::swap(kept, m_lclfiles);

    // Records the worker added since its last write exist only in memory; a
    // re-read from disk would drop them and orphan their files. While the
    // list is dirty, memory is the newer (and complete) copy: clean that.
    if (otherFolder || !m_dirty) ReadLocalFileList(folder.c_str());
    CleanLocalFiles();
    for (CLumoraFeed& feed : m_feeds) {
        feed.Items.RemoveAll();
        feed.Seed.clear();
        feed.Page = 0;
        feed.LastPage = 0;
    }
    m_ids.clear();
    m_lastTm = COleDateTime();
    WriteLocalFileList(folder.c_str());
    plat::DeleteFileAt(FileIn(folder, kPagingName));

    if (otherFolder) {
        std::swap(kept, m_lclfiles);
        m_dirty = keptDirty;
        m_notified = keptNotified;
        // The pools are empty now; the ids of the files still cached stay
        // known so they are not fetched a second time.
        RebuildIdMap();
    }
}

void CLumoraEngine::GetCacheStatus(const std::string& folder, std::vector<std::string>& names,
                                   std::vector<std::string>& values) {
    // Reads only the two files (no engine data), so it takes no lock.
    std::string line;
    int count = 0, found = 0;
    {
        StatusReader list(FileIn(folder, kListName));
        if (!list.Open() || !list.Next(&line)) return;
        if (line != "[Veduta Lumora List]" && line != "[Veduta Lumora List v2]" && line != "[Veduta Lumora List v3]")
            return;
        count = list.NextNumber();
        found = list.NextNumber();
        list.Next(&line);
    }
    names.push_back("Cached Files:");
    values.push_back(std::to_string(count));
    if (found > 0) {
        names.push_back("Total Files found:");
        values.push_back(std::to_string(found));
    }

    StatusReader paging(FileIn(folder, kPagingName));
    if (!paging.Open() || !paging.Next(&line) || line != "[Lumora Paging v1]") return;
    int stored = paging.NextNumber();
    names.push_back("Feeds Status:");
    values.push_back(std::string());
    std::string seed, page, lastPage;
    for (int k = 0; k < stored; ++k) {
        if (!paging.Next(&seed) || !paging.Next(&page) || !paging.Next(&lastPage)) break;
        int last = StatusReader::Number(lastPage);
        if (last == 0) continue;
        names.push_back("Current Page:");
        values.push_back(std::to_string(StatusReader::Number(page)));
        names.push_back("Last Page:");
        values.push_back(std::to_string(last));
    }
}
