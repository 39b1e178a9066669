// Whether this engine may change its image folder: the folder's lock file and
// what the engine knows of another holder. A member of CLumoraEngine
// (m_hold); the cache list itself is a CCacheList (cache_list.h).
#pragma once

#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/fs.h"

namespace plat {
struct FolderEntry;
}

struct CFolderHold {
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

// Whether an entry is a file of the kinds the plug-in puts in a purity folder
// (images, side files, temporary files): a folder that holds such files and
// nothing else is taken for one of its own.
bool IsCacheFileEntry(const plat::FolderEntry& e);
