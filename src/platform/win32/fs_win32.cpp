// File operations on Windows through the ANSI file functions.
#include <windows.h>
#include <io.h>

#include <cstdio>

#include "platform/fs.h"
#include "platform/profile.h"

namespace plat {

const char kPathSep = '\\';
const bool kPathsIgnoreCase = true;

namespace {

bool Fail(int* error) {
    if (error) *error = static_cast<int>(GetLastError());
    return false;
}

bool Exists(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateFolderImpl(const std::string& path, int* error) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    return Fail(error);
}

bool DeleteFileImpl(const std::string& path, int* error) {
    if (DeleteFileA(path.c_str())) return true;
    return Fail(error);
}

bool MoveReplaceImpl(const std::string& from, const std::string& to, int* error) {
    // A scanner or indexer may hold the target open for a moment: retry a
    // sharing violation or access denial briefly before giving up.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD err = GetLastError();
        if ((err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) || attempt >= 10) {
            SetLastError(err);
            return Fail(error);
        }
        Sleep(50);
    }
}

FILE* OpenImpl(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

// The runtime keeps the system's error code of a failed open in _doserrno:
// a held file gives 32, a missing folder 3.
FILE* OpenCheckedImpl(const std::string& path, const char* mode, int* error) {
    SetLastError(0);
    _doserrno = 0;
    FILE* f = std::fopen(path.c_str(), mode);
    if (!f && error) {
        unsigned long err = _doserrno ? _doserrno : GetLastError();
        *error = err ? static_cast<int>(err) : kErrAccessDenied;
    }
    return f;
}

bool WriteImpl(FILE* f, const void* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, f) == size;
}

bool FreeSpaceImpl(const std::string& path, uint64_t* available, uint64_t* total, int* error) {
    ULARGE_INTEGER avail, all;
    if (!GetDiskFreeSpaceExA(path.empty() ? nullptr : path.c_str(), &avail, &all, nullptr))
        return Fail(error);
    *available = avail.QuadPart;
    *total = all.QuadPart;
    return true;
}

bool FlushCloseImpl(FILE* f) {
    if (!f) return false;
    bool ok = std::fflush(f) == 0;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    ok = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

bool CloseImpl(FILE* f) {
    return f && std::fclose(f) == 0;
}

const FileOps kReal = {Exists,        CreateFolderImpl, DeleteFileImpl,  MoveReplaceImpl,
                       OpenImpl,      FlushCloseImpl,   OpenCheckedImpl, WriteImpl,
                       FreeSpaceImpl, CloseImpl,        WriteProfileKey};

}  // namespace

const FileOps& RealFileOps() {
    return kReal;
}

// Opened without sharing: a second open, from this process or another,
// fails with a sharing violation until the handle is closed.
bool FileLock::Take(const std::string& path, int* error) {
    Release();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(error);
    m_handle = reinterpret_cast<intptr_t>(h);
    return true;
}

void FileLock::Release() {
    if (m_handle == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

bool FileLock::HeldByOther(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

namespace {

// Hands each entry of an open search to each, then closes it: "." and ".."
// never, and with a suffix only the names that end in it.
void HandFoundEntries(HANDLE h, WIN32_FIND_DATAA* fd, const std::string& suffix,
                      const std::function<void(const FolderEntry&)>& each) {
    FolderEntry entry;
    do {
        entry.name = fd->cFileName;
        if (entry.name == "." || entry.name == "..") continue;
        if (!suffix.empty() && !NameEndsIn(entry.name, suffix)) continue;
        entry.isFolder = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isLink = (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        each(entry);
    } while (FindNextFileA(h, fd));
    FindClose(h);
}

}  // namespace

bool ForEachFolderEntry(const std::string& folder, const std::function<void(const FolderEntry&)>& each) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    HandFoundEntries(h, &fd, std::string(), each);
    return true;
}

bool ForEachFolderEntryEndingIn(const std::string& folder, const std::string& suffix,
                                const std::function<void(const FolderEntry&)>& each) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    pattern += suffix;
    WIN32_FIND_DATAA fd;
    // Basic information (no short names) and small fetches: the system reads
    // the folder for the pattern, and hands over only what matches.
    HANDLE h = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    // The pattern also matches short (8.3) names: "a.__tx" is "A~1.__T".
    HandFoundEntries(h, &fd, suffix, each);
    return true;
}

}  // namespace plat
