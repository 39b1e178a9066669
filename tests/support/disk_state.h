// What an image folder holds on disk, for checks that compare the folder
// with the cache list and journal there (not with an engine's memory): the
// image files of the purity folders, and the records that the list with its
// journal replayed in order names.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/records.h"
#include "engine/engine.h"
#include "engine/state_format.h"
#include "support/read_file.h"

namespace diskstate {

struct Folder {
    std::map<std::string, std::string> images;   // folded path -> path: image files in sub-folders
    std::map<std::string, std::string> records;  // folded path -> path: list, then journal in order
    std::vector<std::string> temps;              // "__t" files anywhere
    bool listRead = false;                       // a list with a known header was there
    int journalSkipped = 0;                      // journal lines left out (cut)
};

// Reads the folder's files and its state files. The journal is applied entry
// by entry as written ("+" adds, "-" removes): at a moment when no file
// operation is under way, that is exactly what the folder must hold.
inline Folder Read(const std::string& folder) {
    Folder out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string p = it->path().string();
        const std::string ext = it->path().extension().string();
        if (ext == ".__t") {
            out.temps.push_back(p);
            continue;
        }
        if (it.depth() == 0 || ext == ".vprop") continue;  // state files, side files
        out.images[FoldPathCase(p)] = p;
    }
    std::string dir = folder;
    AddBackslash(dir);
    const CFolderGate gate(folder);
    std::string bytes;
    if (ReadFileBytes(dir + statefmt::kListName, &bytes)) {
        statefmt::DecodedList list;
        statefmt::DecodeList(bytes.data(), bytes.size(), gate, &list);
        out.listRead = list.version != 0;
        for (const CFileData& d : list.records) out.records[FoldPathCase(d.Path)] = d.Path;
    }
    if (ReadFileBytes(dir + statefmt::kJournalName, &bytes)) {
        std::vector<statefmt::JournalEntry> entries;
        statefmt::DecodeJournal(bytes.data(), bytes.size(), &entries, &out.journalSkipped);
        for (const statefmt::JournalEntry& e : entries) {
            if (e.op == '+')
                out.records[FoldPathCase(e.record.Path)] = e.record.Path;
            else
                out.records.erase(FoldPathCase(e.record.Path));
        }
    }
    return out;
}

// Empty when the files and the records on disk agree; else the first
// difference (an orphan: a file no record names; a ghost: a record without
// its file; a temporary file left).
inline std::string Disagreement(const Folder& f) {
    if (!f.temps.empty()) return "temporary file left: " + f.temps.front();
    for (const auto& image : f.images)
        if (!f.records.count(image.first))
            return "orphan (a file the list and journal on disk do not name): " + image.second;
    for (const auto& record : f.records)
        if (!f.images.count(record.first))
            return "ghost (a record on disk without its file): " + record.second;
    return std::string();
}

}  // namespace diskstate
