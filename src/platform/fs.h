// File operations the engine needs, with the platform's error codes
// (kErrFileNotFound 2, kErrPathNotFound 3, kErrSharingViolation 32 on both
// builds). Every operation goes through a table that tests may replace to
// inject failures (the Nth rename, a full disk, a locked file).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace plat {

enum { kErrFileNotFound = 2, kErrPathNotFound = 3, kErrAccessDenied = 5, kErrSharingViolation = 32 };

extern const char kPathSep;  // '\\' on Windows, '/' natively
// Whether the file system treats paths that differ only in letter case as
// the same file (Windows: yes; natively: no). Safety checks on paths use it.
extern const bool kPathsIgnoreCase;

struct FileOps {
    bool (*exists)(const std::string& path);  // a file or a folder
    bool (*createFolder)(const std::string& path, int* error);
    bool (*deleteFile)(const std::string& path, int* error);
    // Replaces an existing target (retries briefly on a sharing violation).
    bool (*moveReplace)(const std::string& from, const std::string& to, int* error);
    // fopen with a narrow-code-page path; mode as fopen's ("rb", "wb", ...).
    FILE* (*open)(const std::string& path, const char* mode);
    // Flushes buffers to the device before a rename makes the file current.
    bool (*flushClose)(FILE* f);
    // Added after the first six; a table that leaves them null gets the real
    // ones. open with the platform's error code when it fails.
    FILE* (*openChecked)(const std::string& path, const char* mode, int* error);
    // Writes all of the bytes; false when the device took less (a full disk).
    bool (*write)(FILE* f, const void* data, size_t size);
    // Bytes free for this user and the size of the drive that holds path.
    bool (*freeSpace)(const std::string& path, uint64_t* available, uint64_t* total, int* error);
    // Closes a file without a flush to the device (an image under transfer);
    // false when its last bytes could not be written (a full disk may show
    // only here).
    bool (*close)(FILE* f);
    // Adds or replaces key=value in [section] of a UTF-16 profile file (the
    // side files; plat::WriteProfileKey does it for real).
    bool (*writeProfileKey)(const std::string& path, const std::u16string& section, const std::u16string& key,
                            const std::u16string& value);
};

const FileOps& Files();
// Replaces the table (tests); returns the previous one. nullptr restores the real one.
const FileOps* SetFileOpsForTest(const FileOps* ops);
const FileOps& RealFileOps();

inline bool PathExists(const std::string& p) {
    return Files().exists(p);
}
inline bool CreateFolder(const std::string& p, int* e = nullptr) {
    return Files().createFolder(p, e);
}
inline bool DeleteFileAt(const std::string& p, int* e = nullptr) {
    return Files().deleteFile(p, e);
}
inline bool MoveReplace(const std::string& a, const std::string& b, int* e = nullptr) {
    return Files().moveReplace(a, b, e);
}
inline FILE* OpenFile(const std::string& p, const char* mode) {
    return Files().open(p, mode);
}
inline bool FlushClose(FILE* f) {
    return Files().flushClose(f);
}
FILE* OpenFileChecked(const std::string& path, const char* mode, int* error);
bool WriteAll(FILE* f, const void* data, size_t size);
bool FreeSpace(const std::string& path, uint64_t* available, uint64_t* total, int* error);
bool CloseFile(FILE* f);
// WriteProfileKey through the table.
bool SetProfileKey(const std::string& path, const std::u16string& section, const std::u16string& key,
                   const std::u16string& value);

// Names of the entries of a folder ("." and ".." left out); false when the
// folder cannot be listed.
struct FolderEntry {
    std::string name;
    bool isFolder;
    bool isLink;  // a symbolic link, junction or other reparse point: never followed
};
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries);
// The same one entry at a time, nothing kept: a folder of 100k cached files
// costs no list of them.
bool ForEachFolderEntry(const std::string& folder, const std::function<void(const FolderEntry&)>& each);
// Whether name ends in suffix, ASCII case ignored.
bool NameEndsIn(const std::string& name, const std::string& suffix);
// Only the entries whose name ends in suffix (ASCII case ignored), asked of
// the system as a pattern where it takes one: a sweep for a few names in a
// folder of 100k makes the system read and hold only those (wine keeps the
// buffers of a whole listing). True also when nothing matches.
bool ForEachFolderEntryEndingIn(const std::string& folder, const std::string& suffix,
                                const std::function<void(const FolderEntry&)>& each);

// An exclusive hold on a lock file, for one owner of a folder among several
// processes (or engines of one process). The system lets go of it when the
// holder closes it or its process ends, a crash included; the file itself
// stays. Take fails with kErrSharingViolation while another holds it.
class FileLock {
  public:
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Take(const std::string& path, int* error);
    void Release();
    bool Held() const { return m_handle != -1; }
    // Whether another holds the lock at path now (a file not there is held
    // by no one); creates nothing.
    static bool HeldByOther(const std::string& path);

  private:
    intptr_t m_handle = -1;
};

// Full path of the loaded plug-in module's own file (empty if unknown).
std::string ModulePath();

}  // namespace plat
