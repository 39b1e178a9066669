// Shared pieces of the engine file tests: a log capture through the host
// callback, a fixed clock, a fresh image folder per test, byte helpers, and
// a file-operations double that fails chosen calls.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/clocks.h"
#include "support/engine_holder.h"
#include "support/log_capture.h"
#include "support/test_folder.h"
#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "plugin/app.h"
#include "common/host_callback.h"
#include "support/read_file.h"

namespace ef {

// ---- log capture (support/log_capture.h) ----------------------------------
typedef LogCapture Log;

// ---- paths and files -------------------------------------------------------
inline std::string Sep() {
    return std::string(1, plat::kPathSep);
}

// Joins parts with the platform's separator.
inline std::string Join(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty() && out.back() != plat::kPathSep) out += plat::kPathSep;
        out += p;
    }
    return out;
}

inline std::string ReadBytes(const std::string& path) {
    return ReadFileBytes(path);
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path), ec);
}

inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(folder), ec))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Text with every "\n" turned into CR LF, as the state files are written.
inline std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Visible form of bytes for failure messages.
inline std::string Show(const std::string& bytes) {
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n\n";
        else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

// ---- file operations that fail where a test says --------------------------
// Each hook, when set, is asked first; returning true means "fail with
// *error" (or a null FILE* for open). Calls not failed go to the real table.
struct FaultyFiles {
    std::function<bool(const std::string&)> existsOverride;  // result, when set
    std::function<bool(const std::string&, int*)> failDelete;
    std::function<bool(const std::string&, const std::string&, int*)> failMove;
    std::function<bool(const std::string&, const char*)> failOpen;
    // Opens the file read-only instead, so every write to it fails.
    std::function<bool(const std::string&, const char*)> readOnlyOpen;
    // Opening fails with this error code when it returns nonzero.
    std::function<int(const std::string&, const char*)> failOpenError;
    // Answers the free-space query when set.
    std::function<bool(const std::string&, uint64_t*, uint64_t*, int*)> freeSpace;
    bool failFlushClose = false;
    std::vector<std::string> deleted;  // paths handed to deleteFile
    std::vector<std::string> created;  // folders handed to createFolder
    std::vector<std::string> openedForWrite;

    static FaultyFiles*& Current() {
        static FaultyFiles* c = nullptr;
        return c;
    }
    static const plat::FileOps& Table() {
        static const plat::FileOps ops = [] {
            plat::FileOps t = plat::RealFileOps();
            t.exists = Exists;
            t.createFolder = CreateFolder;
            t.deleteFile = Delete;
            t.moveReplace = Move;
            t.open = Open;
            t.flushClose = FlushClose;
            t.openChecked = OpenChecked;
            t.freeSpace = FreeSpace;
            return t;
        }();
        return ops;
    }

  private:
    static const plat::FileOps& Real() { return plat::RealFileOps(); }
    static bool Exists(const std::string& p) {
        FaultyFiles* c = Current();
        if (c && c->existsOverride) return c->existsOverride(p);
        return Real().exists(p);
    }
    static bool CreateFolder(const std::string& p, int* e) {
        if (FaultyFiles* c = Current()) c->created.push_back(p);
        return Real().createFolder(p, e);
    }
    static bool Delete(const std::string& p, int* e) {
        FaultyFiles* c = Current();
        if (c) {
            c->deleted.push_back(p);
            if (c->failDelete && c->failDelete(p, e)) return false;
        }
        return Real().deleteFile(p, e);
    }
    static bool Move(const std::string& a, const std::string& b, int* e) {
        FaultyFiles* c = Current();
        if (c && c->failMove && c->failMove(a, b, e)) return false;
        return Real().moveReplace(a, b, e);
    }
    static FILE* Open(const std::string& p, const char* mode) {
        FaultyFiles* c = Current();
        if (c && mode[0] == 'w') c->openedForWrite.push_back(p);
        if (c && c->failOpen && c->failOpen(p, mode)) return nullptr;
        if (c && c->readOnlyOpen && c->readOnlyOpen(p, mode)) {
            if (FILE* f = Real().open(p, "wb")) std::fclose(f);
            return Real().open(p, "rb");
        }
        return Real().open(p, mode);
    }
    static FILE* OpenChecked(const std::string& p, const char* mode, int* e) {
        FaultyFiles* c = Current();
        if (c && c->failOpenError) {
            if (int code = c->failOpenError(p, mode)) {
                if (e) *e = code;
                return nullptr;
            }
        }
        if (c && c->failOpen && c->failOpen(p, mode)) {
            if (c && mode[0] != 'r') c->openedForWrite.push_back(p);
            if (e) *e = plat::kErrAccessDenied;
            return nullptr;
        }
        FILE* f = Open(p, mode);
        if (!f && e) *e = plat::kErrAccessDenied;
        return f ? f : Real().openChecked(p, mode, e);
    }
    static bool FreeSpace(const std::string& p, uint64_t* a, uint64_t* t, int* e) {
        FaultyFiles* c = Current();
        if (c && c->freeSpace) return c->freeSpace(p, a, t, e);
        return Real().freeSpace(p, a, t, e);
    }
    static bool FlushClose(FILE* f) {
        FaultyFiles* c = Current();
        bool ok = Real().flushClose(f);
        return ok && !(c && c->failFlushClose);
    }
};

// Installs a FaultyFiles for the scope of a test.
class FaultScope {
  public:
    explicit FaultScope(FaultyFiles& f) {
        FaultyFiles::Current() = &f;
        m_previous = plat::SetFileOpsForTest(&FaultyFiles::Table());
    }
    ~FaultScope() {
        plat::SetFileOpsForTest(m_previous == &plat::RealFileOps() ? nullptr : m_previous);
        FaultyFiles::Current() = nullptr;
    }

  private:
    const plat::FileOps* m_previous;
};

// ---- an engine over a fresh image folder -----------------------------------
class EngineFixture : public ::testing::Test, public EngineHolder {
  protected:
    StillClock clock;

    void SetUp() override {
        Log::Install();
        hosttype = 1;
        MakeEngine("lumora_ef_", &clock);
    }
    void TearDown() override {
        DropEngine(HasFailure());
        Log::Uninstall();
    }

    std::string In(std::initializer_list<std::string> parts) {
        std::string out = folder;
        for (const std::string& p : parts) out += Sep() + p;
        return out;
    }
    std::string ListPath() { return In({"vdt_vd_files.lst"}); }
    std::string PagingPath() { return In({"vdt_vd_paging.lst"}); }

    void AddFeeds(int n) {
        for (int i = 0; i < n; ++i) engine->ForTesting().Feeds().Add(CLumoraFeed());
    }
    std::vector<std::string> Paths() {
        std::vector<std::string> out;
        for (const CFileData& d : engine->ForTesting().CacheList().Records()) out.push_back(d.Path);
        return out;
    }
};

}  // namespace ef
