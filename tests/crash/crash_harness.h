// Shared pieces of the fault-injection loop and the crash tests: a table of
// file operations that fails (or ends the process at) its Nth call, a small
// run of the engine over an image folder with the real transfers from the
// stand-in service, and the check that disk and list agree (every image file
// is in the list, every record's file exists, no temporary file is left).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "support/test_folder.h"
#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "engine/state_format.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "platform/profile.h"
#include "service/stand_in.h"
#include "support/clocks.h"
#include "support/read_file.h"

namespace crash {

// ---- file operations that fail or end the process at call N ----------------------
// Every call that can change or read a file counts (exists and the free-space
// query are questions, not operations, and are not failed).
// What the calls were made for: a run must reach the transfer's own writes
// and close and the side files' keys for those to be crash points.
struct Seen {
    int imageWrites = 0, imageCloses = 0, sideKeys = 0;
};

struct Injector {
    static inline std::atomic<int> calls{0};
    static inline int failAt = 0;   // this call fails (0: none)
    static inline int crashAt = 0;  // the process ends at this call (0: none)
    static inline bool fired = false;
    static inline Seen seen;
    static inline std::map<FILE*, bool> imageFiles;  // open files that are an image's temporary file

    static void Arm(int fail, int crash) {
        calls = 0;
        failAt = fail;
        crashAt = crash;
        fired = false;
        seen = Seen();
        imageFiles.clear();
    }
    static bool IsImageTemp(const std::string& path) {
        const size_t slash = path.find_last_of("/\\");
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        return name.size() > 4 && name.compare(name.size() - 4, 4, ".__t") == 0 &&
               name.compare(0, 7, "vdt_vd_") != 0;
    }
    // Ends the process as a kill does: no destructors, no buffers flushed.
    [[noreturn]] static void Die() {
#ifdef _WIN32
        TerminateProcess(GetCurrentProcess(), 77);
#endif
        _exit(77);
    }
    // True when this call must fail; never returns when it must crash.
    static bool Trip() {
        const int n = ++calls;
        if (n == crashAt) Die();
        if (n == failAt) {
            fired = true;
            return true;
        }
        return false;
    }
    static const plat::FileOps& Table() {
        static plat::FileOps ops = [] {
            plat::FileOps t = plat::RealFileOps();
            t.createFolder = [](const std::string& p, int* e) {
                if (Trip()) return Fail(e, plat::kErrAccessDenied);
                return plat::RealFileOps().createFolder(p, e);
            };
            t.deleteFile = [](const std::string& p, int* e) {
                if (Trip()) return Fail(e, plat::kErrSharingViolation);
                return plat::RealFileOps().deleteFile(p, e);
            };
            t.moveReplace = [](const std::string& a, const std::string& b, int* e) {
                if (Trip()) return Fail(e, plat::kErrAccessDenied);
                return plat::RealFileOps().moveReplace(a, b, e);
            };
            t.open = [](const std::string& p, const char* mode) -> FILE* {
                if (Trip()) return nullptr;
                FILE* f = plat::RealFileOps().open(p, mode);
                // A FILE* closed outside the table may come back for another file.
                if (f && IsImageTemp(p))
                    imageFiles[f] = true;
                else if (f)
                    imageFiles.erase(f);
                return f;
            };
            t.openChecked = [](const std::string& p, const char* mode, int* e) -> FILE* {
                if (Trip()) {
                    if (e) *e = plat::kErrSharingViolation;
                    return nullptr;
                }
                FILE* f = plat::RealFileOps().openChecked(p, mode, e);
                if (f) imageFiles.erase(f);
                return f;
            };
            t.write = [](FILE* f, const void* data, size_t size) -> bool {
                if (imageFiles.count(f)) ++seen.imageWrites;
                const int n = ++calls;
                if (n == crashAt || n == failAt) {
                    // Half of it reaches the file, as when the disk fills
                    // up or the process dies in the middle.
                    plat::RealFileOps().write(f, data, size / 2);
                    std::fflush(f);
                    if (n == crashAt) Die();
                    fired = true;
                    return false;
                }
                return plat::RealFileOps().write(f, data, size);
            };
            t.flushClose = [](FILE* f) -> bool {
                imageFiles.erase(f);
                if (Trip()) {
                    std::fclose(f);
                    return false;
                }
                return plat::RealFileOps().flushClose(f);
            };
            // An image's last bytes may reach the disk only here (a full
            // disk that shows at the close).
            t.close = [](FILE* f) -> bool {
                if (imageFiles.erase(f)) ++seen.imageCloses;
                if (Trip()) {
                    std::fclose(f);
                    return false;
                }
                return f && std::fclose(f) == 0;
            };
            t.writeProfileKey = [](const std::string& path, const std::u16string& section,
                                   const std::u16string& key, const std::u16string& value) {
                ++seen.sideKeys;
                if (Trip()) return false;
                return plat::WriteProfileKey(path, section, key, value);
            };
            return t;
        }();
        return ops;
    }

  private:
    static bool Fail(int* e, int code) {
        if (e) *e = code;
        return false;
    }
};

class InjectorScope {
  public:
    InjectorScope(int failAt, int crashAt) {
        Injector::Arm(failAt, crashAt);
        plat::SetFileOpsForTest(&Injector::Table());
    }
    ~InjectorScope() {
        plat::SetFileOpsForTest(nullptr);
        Injector::Arm(0, 0);
    }
};

// A fresh folder of this test and this process: several builds may run the
// same test at once on one machine.
inline std::string OwnFolder(const std::string& prefix) {
#ifdef _WIN32
    const long pid = static_cast<long>(GetCurrentProcessId());
#else
    const long pid = static_cast<long>(getpid());
#endif
    return TestFolder(prefix + std::to_string(pid) + "_");
}

inline bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Image addresses of the stand-in service (JPEG files of a few KB): the
// engine's real transfer writes them, so its file writes and its close are
// crash points too.
inline const std::vector<std::string>& ImageUrls() {
    static const std::vector<std::string> urls = [] {
        std::vector<std::string> out;
        Json::Value root;
        Json::Reader reader;
        if (!reader.parse(standin::Exchange("GET", "/api/v1/search?purity=100&page=1", ""), root))
            throw std::runtime_error("the stand-in service's search is not JSON");
        for (const Json::Value& w : root["data"]) {
            const std::string path = w["path"].asString();
            if (EndsWith(path, ".jpg")) out.push_back(path);
        }
        if (out.empty()) throw std::runtime_error("no JPEG image in the stand-in service's search");
        return out;
    }();
    return urls;
}

// ---- an engine over an image folder ----------------------------------------------------
struct Rig {
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0};
    std::atomic<int32_t> hosttype{0};
    StillClock clock;
    CLumoraApi client;  // the real transfer
    std::unique_ptr<CLumoraEngine> engine;
    std::string home;  // the image folder it started with

    explicit Rig(const std::string& folder, int maxLocal = 3) : home(folder) {
        settings.Enabled = 1;
        settings.ImgFolder = folder;
        settings.MaxLocal = maxLocal;
        settings.VpropTitle = 1;
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
        engine->ForTesting().UseClient(&client);
    }
    // One feed whose pool holds items named tag0.jpg, tag1.jpg, ...
    void AddFeed(const std::string& tag, int items) {
        CLumoraFeed feed;
        feed.Query = tag;
        feed.Page = 1;
        feed.LastPage = 1;
        for (int i = 0; i < items; ++i) {
            CLumoraItem item;
            item.Id = tag + std::to_string(i);
            item.Name = tag + std::to_string(i) + ".jpg";
            item.Url = ImageUrls()[static_cast<size_t>(i) % ImageUrls().size()];
            item.FileType = "image/jpeg";
            item.Purity = i % 2 ? "sketchy" : "sfw";
            feed.Items.Add(item);
        }
        engine->ForTesting().Feeds().Add(feed);
    }
    // What the worker does when it starts.
    void Start() {
        {
            MutexLock held(engine->StateLockForTest());
            engine->RemoveStaleTempFiles();
            engine->ReadLocalFileList();
        }
    }
    int Download() {
        uint32_t interval = 2000;
        return engine->DownloadImages(&interval);
    }
    // The host shows the oldest cached file.
    void ShowOldest() {
        if (engine->ForTesting().CacheList().Records().IsEmpty()) return;
        shown = engine->ForTesting().CacheList().Records().GetHead().Path;
        engine->OnFileDisplayed(shown.c_str());
    }
    std::string shown;  // the file ShowOldest reported last
    std::set<std::string> Records() const {
        std::set<std::string> out;
        for (const CFileData& d : engine->ForTesting().CacheList().Records()) out.insert(d.Path);
        return out;
    }
};

// ---- what the disk holds ----------------------------------------------------------------
struct DiskState {
    std::set<std::string> images;  // image files in the folder and its sub-folders (one level)
    std::vector<std::string> temps;
};

inline DiskState ReadDisk(const std::string& folder) {
    namespace fs = std::filesystem;
    DiskState out;
    std::error_code ec;
    auto look = [&](const fs::path& dir, bool descend) {
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            const std::string name = e.path().filename().string();
            if (e.is_directory()) {
                if (descend) {
                    for (const auto& inner : fs::directory_iterator(e.path(), ec)) {
                        const std::string n = inner.path().filename().string();
                        if (EndsWith(n, ".__t"))
                            out.temps.push_back(inner.path().string());
                        else if (!EndsWith(n, ".vprop"))
                            out.images.insert(inner.path().string());
                    }
                }
                continue;
            }
            if (EndsWith(name, ".__t"))
                out.temps.push_back(e.path().string());
            else if (name.compare(0, 7, "vdt_vd_") != 0 && !EndsWith(name, ".vprop"))
                out.images.insert(e.path().string());
        }
    };
    look(fs::path(folder), true);
    return out;
}

inline std::string Describe(const std::set<std::string>& s) {
    std::string out;
    for (const std::string& p : s) out += "  " + p + "\n";
    return out;
}

// The records a fresh start of the engine finds in folder (after its
// clean-up of stale temporary files).
inline std::set<std::string> RecordsAfterRestart(const std::string& folder) {
    Rig fresh(folder);
    fresh.Start();
    return fresh.Records();
}

// Reads the list file alone: its header must be a version 3 header and its
// record count must match its records.
inline ::testing::AssertionResult ListFileIsWhole(const std::string& folder) {
    std::string path = folder;
    AddBackslash(path);
    path += statefmt::kListName;
    std::string bytes;
    if (!ReadFileBytes(path, &bytes))
        return ::testing::AssertionSuccess();  // no list yet is a whole (empty) one
    statefmt::DecodedList list;
    statefmt::DecodeList(bytes.data(), bytes.size(), CFolderGate(folder), &list);
    if (list.version != 3) return ::testing::AssertionFailure() << "list header: " << bytes.substr(0, 40);
    if (!list.damage.empty()) return ::testing::AssertionFailure() << "damaged list: " << list.damage;
    return ::testing::AssertionSuccess();
}

// Every image file on disk is named by the list (and its journal), every
// record's file exists, and no temporary file survived a start.
inline ::testing::AssertionResult DiskAgreesWithList(const std::string& folder) {
    const std::set<std::string> records = RecordsAfterRestart(folder);
    const DiskState disk = ReadDisk(folder);
    std::set<std::string> orphans, ghosts;
    std::set_difference(disk.images.begin(), disk.images.end(), records.begin(), records.end(),
                        std::inserter(orphans, orphans.end()));
    std::set_difference(records.begin(), records.end(), disk.images.begin(), disk.images.end(),
                        std::inserter(ghosts, ghosts.end()));
    if (orphans.empty() && ghosts.empty() && disk.temps.empty()) return ::testing::AssertionSuccess();
    ::testing::AssertionResult r = ::testing::AssertionFailure();
    if (!orphans.empty()) r << "orphans (on disk, not listed):\n" << Describe(orphans);
    if (!ghosts.empty()) r << "ghosts (listed, not on disk):\n" << Describe(ghosts);
    for (const std::string& t : disk.temps) r << "temporary file left: " << t << "\n";
    return r;
}

}  // namespace crash
