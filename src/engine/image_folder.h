// The image folder as the engine keeps it: its cache list (records, list file,
// journal, paging state), who may change it, whether it and its drive are
// there, and the cleaning of shown files (state_files.cpp, cleaning.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/clear_result.h"
#include "engine/cache_list.h"
#include "engine/engine_state.h"
#include "engine/naming.h"
#include "engine/path.h"
#include "engine/state_files.h"

// Folder arguments: null or empty text means the image folder.
class CImageFolder : public CEngineState {
  public:
    using CEngineState::CEngineState;

    // The cache list of the image folder: records, list file and journal.
    CCacheList& CacheList() REQUIRES(m_stateLock) { return m_cache; }
    const CCacheList& CacheList() const REQUIRES(m_stateLock) { return m_cache; }
    int CountFeedFiles(int feedIndex) const REQUIRES(m_stateLock);
    void RebuildIdMap() REQUIRES(m_stateLock);

    // Replaces the records with the list of folder (and its paging state).
    void ReadLocalFileList(const char* folder = nullptr) REQUIRES(m_stateLock);
    // The one way the engine writes the whole cache list: when how says one
    // is due (see ListSave), to folder (kAlways alone may name another
    // folder than the image folder). The change flag is cleared only by a
    // due write of the image folder's list that succeeded, kAlways leaves
    // it to the caller. False when a due write failed (the reason is
    // logged).
    bool SaveFileList(ListSave how, const char* folder = nullptr) REQUIRES(m_stateLock);
    void WritePagingState(const char* folder = nullptr) REQUIRES(m_stateLock);
    void ReadPagingState(const char* folder = nullptr) REQUIRES(m_stateLock);
    // Deletes "*.__t" files a crash left in the folder and its sub-folders
    // (one level): interrupted downloads and state-file writes. The worker
    // calls it once at start, before reading the cache list.
    void RemoveStaleTempFiles(const char* folder = nullptr) REQUIRES(m_stateLock);

    // True when the image folder's list is in memory: follows a changed image
    // folder (the new one starts from its own list; bumps m_generation) and
    // reads again a list that could not be read before.
    bool FileListReady() REQUIRES(m_stateLock);
    // Whether this engine may change the image folder (files, list, journal,
    // paging): always when its worker is not running; while it runs, when
    // it holds the folder's lock file (see CFolderHold). False while another
    // engine holds it.
    bool HoldImageFolder() REQUIRES(m_stateLock);
    // The worker's first and last steps: takes the image folder (then
    // removes what a crash left and reads the list), and writes the list and
    // lets the folder go.
    void BeginRun() REQUIRES(m_stateLock);
    void EndRun() REQUIRES(m_stateLock);

    // Puts a record in the journal beside the list, flushed to the device,
    // BEFORE the file gets its final name / before it is deleted. False: not
    // recorded (logged), do not go on with the file operation.
    bool RecordFileAdding(const CFileData& record) REQUIRES(m_stateLock);
    bool RecordFileRemoving(const CFileData& record) REQUIRES(m_stateLock);
    // A file announced by RecordFileAdding did not get its name after all.
    void RecordFileGone(const CFileData& record) REQUIRES(m_stateLock);
    // Whether the image folder's drive has room above the free-space floor
    // (logs once when downloads stop and once when they go on again).
    bool DiskHasRoom() REQUIRES(m_stateLock);

    // While the cache is above its limit, deletes the least recently shown
    // file that belongs to no configured feed (records of a version 1 list
    // have none): no feed's limit ever asks such a file to make room.
    // Returns whether one went.
    bool TrimStrayFilesLocked() REQUIRES(m_stateLock);
    // The least recently shown cached file of no configured feed, leaving
    // the most recent reports alone (empty: none). A new image replaces such
    // a file before any feed's own.
    std::string ShownStrayFileLocked(int displayedMinimum) REQUIRES(m_stateLock, m_shownLock);
    // The least recently shown cached file of feed that a new image of it
    // may replace, leaving the most recent reports alone (empty: none).
    std::string OwnVictimLocked(int feed) REQUIRES(m_stateLock);
    void CleanDispFiles(int count) REQUIRES(m_stateLock, m_shownLock);
    void CleanLocalFiles(ClearCacheResult* result = nullptr) REQUIRES(m_stateLock);
    // Deletes the side file and the image; on failure *error gets the platform code.
    int DeleteLocalFile(const std::string& path, int* error = nullptr) REQUIRES(m_stateLock);
    ClearCacheResult ClearCacheLocked(const std::string& folder) REQUIRES(m_stateLock);
    void GetCacheStatus(const std::string& folder, std::vector<std::string>& names,
                        std::vector<std::string>& values);

  protected:
    ~CImageFolder() = default;

    // Whether the image folder is there (logs once when it goes and comes).
    bool ImageFolderPresentLocked(const char* who) REQUIRES(m_stateLock);
    // Drops records whose files the user deleted (at most every five
    // minutes unless now).
    void HealDeletedFoldersLocked(bool now = false) REQUIRES(m_stateLock);
    // What naming the next image needs: the image folder, the time, the records.
    LocalNaming NamingLocked() const REQUIRES(m_stateLock);
    // Deletes a shown file and its record (a file already gone leaves with
    // its record; a folder gone, with all of its records).
    void EvictShownFileLocked(const std::string& path) REQUIRES(m_stateLock);
    // A new run looks at the records' folders again.
    void ForgetFolderChecksLocked() REQUIRES(m_stateLock) { m_recordFoldersKnown = false; }

    CCacheList m_cache GUARDED_BY(m_stateLock);
    CFolderHold m_hold GUARDED_BY(m_stateLock);

  private:
    bool IsImageFolder(const std::string& dir) const REQUIRES(m_stateLock);
    // Reads dir's list into the cache list and brings the ids and the
    // paging state along; false when it could not be read.
    bool ReadListFrom(const std::string& dir) REQUIRES(m_stateLock);
    bool RecordInJournal(char op, const CFileData& record) REQUIRES(m_stateLock);
    // The rows of the list and paging files on disk (GetCacheStatus's first part).
    void AppendListStatus(const std::string& folder, std::vector<std::string>& names,
                          std::vector<std::string>& values);

    // The image folder was missing at the last look (logged once).
    bool m_folderAway GUARDED_BY(m_stateLock) = false;
    // When the records' files were last looked at (HealDeletedFoldersLocked);
    // false: not yet in this run.
    bool m_recordFoldersKnown GUARDED_BY(m_stateLock) = false;
    uint32_t m_lastFolderCheck GUARDED_BY(m_stateLock) = 0;
};
