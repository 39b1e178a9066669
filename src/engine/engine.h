// The feed engine: feeds and their pools, the cache lists, the id set, the
// state files, refresh and download passes, and the worker that drives them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "common/records.h"
#include "common/settings.h"
#include "platform/datetime.h"
#include "service/api.h"

// A date-time with a validity state, held as an OLE automation date.
struct COleDateTime {
    double m_dt = kOleDate2000;
    bool m_valid = true;
};

class CLumoraThread;

class CLumoraEngine {
public:
    // settings, closing and hosttype belong to the owner and outlive the engine.
    CLumoraEngine(CLumoraSettings& settings, std::atomic<int32_t>& closing, const std::atomic<int32_t>& hosttype);
    ~CLumoraEngine();
    CLumoraEngine(const CLumoraEngine&) = delete;
    CLumoraEngine& operator=(const CLumoraEngine&) = delete;

    // ---- data -------------------------------------------------------------
    // Locking: m_data guards every member below except m_dispfiles, and the
    // settings. The worker holds it while a pass decides and applies, never
    // across a network transfer or a sleep; the host's thread holds it for each
    // change (dialog OK, load, cache clean). m_lock guards m_dispfiles and the
    // eviction step; when both are taken, m_data comes first.
    CFeedArray m_feeds;
    CLumoraApi m_api;
    CLumoraApi* m_client;  // the client the passes use: &m_api, or a test double
    std::mutex m_lock;
    std::recursive_mutex m_data;
    std::shared_ptr<CLumoraThread> m_thread;  // kept until unload once created
    CFileList m_lclfiles;
    CFileList m_dispfiles;
    std::unordered_map<std::string, int> m_ids;
    COleDateTime m_lastTm;
    int m_dirty = 0;
    int m_notified = 0;
    int m_nextfeed = 0;
    // Bumped by every host-side change of the feeds or the cache, so a pass
    // that released m_data for a transfer can tell its results are stale.
    uint32_t m_generation = 0;

    CLumoraSettings& m_settings;
    std::atomic<int32_t>& m_closing;
    const std::atomic<int32_t>& m_hosttype;
    Clock* m_clock;  // SystemClock() unless a test sets another
    // How long Stop (and an unload that finds the worker running) waits for
    // the worker to end; tests shorten it.
    uint32_t m_stopTimeoutMs = 60000;

    // ---- shared queries ---------------------------------------------------
    int CountEnabledFeeds() const;
    int CountFeedFiles(int feedIndex) const;
    void RebuildIdMap();

    // ---- feed list in the host's store ----------------------------------
    void LoadFeeds();
    void SaveFeeds();

    // ---- host-thread changes (take m_data; safe while the worker runs) ----
    // Takes the API key; the worker's client picks it up before its next request.
    void SetApiKey(const std::string& key);
    // Replaces the feed list as the configuration dialog's OK does (pools kept
    // by index) and clears the cache of the image folder when the feeds differ.
    void ApplyFeeds(const CFeedArray& feeds);

    // ---- refresh and pagination ------------------------------------------
    int Refresh(int unused);
    void RotateFeed(int feed);

    // ---- downloads ----------------------------------------------------------
    int DownloadImages(uint32_t* interval);
    int DownloadImage(const std::string& url, const std::string& file);

    // ---- local names ------------------------------------------------------
    int BuildLocalName(const CLumoraItem& item, std::string& path);
    int BuildFallbackName(const CLumoraItem& item, std::string& path);
    std::string GetExtFromType(const std::string& type);

    // ---- state files (folder null or empty text = the image folder) -------
    void WriteLocalFileList(const char* folder = nullptr);
    void ReadLocalFileList(const char* folder = nullptr);
    void WritePagingState(const char* folder = nullptr);
    void ReadPagingState(const char* folder = nullptr);
    // Deletes "*.__t" files a crash left in the folder and its sub-folders
    // (one level): interrupted downloads and state-file writes. The worker
    // calls it once at start, before reading the cache list.
    void RemoveStaleTempFiles(const char* folder = nullptr);

    // ---- cleaning, shown files, status --------------------------------------
    void OnFileDisplayed(const char* path);
    void CleanDispFiles(int count);
    void CleanLocalFiles();
    // Deletes the side file and the image; on failure *error gets the platform code.
    int DeleteLocalFile(const std::string& path, int* error = nullptr);
    void ClearCache(const std::string& folder);
    void GetCacheStatus(const std::string& folder, std::vector<std::string>& names, std::vector<std::string>& values);

    // ---- side files ---------------------------------------------------------
    void WriteVpropFile(const std::string& path, const CLumoraItem& item);

    // ---- worker -------------------------------------------------------------
    void Start();
    void Stop();
    void RunComms();

private:
    // Worker, under m_data: takes a key that SetApiKey stashed while it ran.
    void ApplyPendingApiKey();
    std::string m_pendingApiKey;
    bool m_apiKeyPending = false;
    friend class CLumoraThread;
};

// The rules that keep files inside the image folder take the path style as a
// parameter, so one table of cases checks both styles on every build.
enum class PathStyle {
    kPosix,    // "/" separates; names compare as they are
    kWindows,  // "\" and "/" separate; drive letters; names compare ignoring case and trailing dots and blanks
};
PathStyle NativePathStyle();

// The two path operations shared by naming, cleaning and side files.
void ReplaceExtension(std::string& path, const char* ext);
void AddBackslash(std::string& path, PathStyle style = NativePathStyle());  // appends the style's separator

// The single folder name the service's purity text becomes (see naming.cpp):
// safe words stay as they are, anything that could leave the image folder or
// name a device is mended; an empty text stays empty (no sub-folder).
std::string SafePurityFolder(const std::string& purity);
// The property side file of an image: the extension replaced by "vprop",
// always beside the image (a dot in a folder name is not an extension).
std::string SidePathOf(const std::string& imagePath, PathStyle style = NativePathStyle());
// Whether path, with "." and ".." resolved, names something strictly inside
// folder (both taken relative to the same current folder when relative). A
// path with a NUL in it is never inside.
bool PathInsideFolder(const std::string& path, const std::string& folder, PathStyle style = NativePathStyle());
// PathInsideFolder for many paths against one folder: the usual path (the
// folder's own text, a separator, no "." or ".." parts) is told without
// allocating; anything else takes the full check.
class CFolderGate {
public:
    explicit CFolderGate(const std::string& folder, PathStyle style = NativePathStyle());
    bool Contains(const std::string& path) const;

private:
    std::string m_folder;
    PathStyle m_style;
    std::string m_prefix;  // the folder and one separator; empty: no quick answer
};
// Whether two folder paths name the same folder (same normalisation).
bool SameFolder(const std::string& a, const std::string& b, PathStyle style = NativePathStyle());
