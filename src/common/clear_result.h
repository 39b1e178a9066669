// What a cache clean did, for the message that reports it: made by the
// engine, read by the Local Cache dialog.
#pragma once

#include <string>

struct ClearCacheResult {
    int deleted = 0;  // records whose file is gone now (deleted, or found missing)
    int failed = 0;   // records kept because their file could not be deleted
    // The first file that stayed, and the platform's error for it; for a
    // clean that deleted nothing because the list could not be read or the
    // removals could not be recorded, the list's path and that error.
    std::string firstFailed;
    int firstError = 0;
    bool listUnusable = false;  // nothing was deleted: see firstFailed/firstError
};
