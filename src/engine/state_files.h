// What the engine knows about the cache list on disk: whose folder's list is
// in memory, whether it could be read, how long its journal is, and whether
// downloads wait for free space. Members of CLumoraEngine (m_list).
#pragma once

#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/fs.h"

namespace plat {
struct FolderEntry;
}

// When SaveFileList writes the whole list.
enum class ListSave {
    kIfChanged,  // memory differs from the list and a full write is due (small list, long journal, ...)
    kPassEnd,    // as kIfChanged, and a list that went missing is written again (end of a refresh pass)
    kNow,        // memory differs from the list: write it now (worker exit, before a restart)
};

struct CListState {
    enum Status {
        kNotRead,     // no read asked for yet: memory is what callers put there
        kRead,        // the list of 'folder' is in memory (a missing list is an empty one)
        kUnreadable,  // the list of 'folder' exists but could not be read: never replaced, read again first
    };
    Status status = kNotRead;
    std::string folder;               // the folder of the list in memory (kRead, kUnreadable)
    int journalEntries = 0;           // entries in that folder's journal
    bool mustWrite = false;           // memory holds a change the journal does not
    double writtenTm = kOleDate2000;  // m_lastTm as the list on disk has it
    int lastReadError = 0;            // the read error last logged (logged once)
    int readError = 0;                // why the last read of any folder's list failed (for a clean's message)
    bool lowSpace = false;            // downloads wait for free space (logged once)

    // One engine at a time changes an image folder: two hosts (a slideshow
    // and a screensaver) pointed at one folder would each write its own list
    // over the other's and orphan the other's files. While its worker runs,
    // an engine holds the folder's lock file; another one waits, asking no
    // pages and fetching nothing, until the lock is free (the system frees
    // it when its holder ends, a crash included), then reads the list anew.
    bool wantOwner = false;  // the worker runs: changes need the lock
    plat::FileLock lock;
    std::string lockFolder;   // the folder whose lock is held
    bool otherOwner = false;  // another engine holds the image folder's lock (logged once)
    bool takeOver = false;    // memory does not mirror the folder: read it before any change
};

// Lists of at most this many records are written whole whenever they change,
// as they always were; longer ones leave their changes in the journal until
// it holds a sixteenth of the records.
const int kSmallFileList = 2000;

// The number of files cached in a folder as its list and journal on disk
// say (a long list leaves its last changes in the journal until the next
// full write). False when the folder holds no readable list.
bool CountCachedFiles(const std::string& folder, int* count);

// Whether a folder's entries are all files of the kinds the plug-in puts in
// a purity folder (images, side files, temporary files): such a folder is
// taken for one of its own.
bool HoldsOnlyCacheFiles(const std::vector<plat::FolderEntry>& entries);
