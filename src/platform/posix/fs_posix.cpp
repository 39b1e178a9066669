// File operations on POSIX systems, reporting failures with the Windows
// error codes the engine logs and tests for (2, 3, 5, 32).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>

#include "platform/fs.h"
#include "platform/profile.h"

namespace plat {

const char kPathSep = '/';
const bool kPathsIgnoreCase = false;

namespace {

bool ParentExists(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return true;  // relative to the current folder
    std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat st;
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Maps errno of an operation on path to the code Windows gives for it.
int MapErrno(int err, const std::string& path) {
    switch (err) {
        case ENOENT:
            return ParentExists(path) ? kErrFileNotFound : kErrPathNotFound;
        case ENOTDIR:
            return kErrPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kErrAccessDenied;
        case EBUSY:
        case ETXTBSY:
            return kErrSharingViolation;
        case EEXIST:
        case ENOTEMPTY:
            return 183;  // ERROR_ALREADY_EXISTS
        case ENOSPC:
            return 112;  // ERROR_DISK_FULL
        case ENAMETOOLONG:
            return 206;
        case EXDEV:
            return 17;  // ERROR_NOT_SAME_DEVICE
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

bool Fail(int* error, int code) {
    if (error) *error = code;
    return false;
}

bool Exists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool CreateFolderImpl(const std::string& path, int* error) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return Fail(error, MapErrno(errno, path));
}

bool DeleteFileImpl(const std::string& path, int* error) {
    struct stat st;
    // unlink would refuse a folder with EISDIR or EPERM depending on the
    // system; say "access denied" as Windows does.
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(error, kErrAccessDenied);
    if (::unlink(path.c_str()) == 0) return true;
    return Fail(error, MapErrno(errno, path));
}

bool MoveReplaceImpl(const std::string& from, const std::string& to, int* error) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    int err = errno;
    // Tell a missing source from a missing target folder.
    if (err == ENOENT && !Exists(from)) return Fail(error, MapErrno(err, from));
    return Fail(error, MapErrno(err, to));
}

FILE* OpenImpl(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

FILE* OpenCheckedImpl(const std::string& path, const char* mode, int* error) {
    FILE* f = std::fopen(path.c_str(), mode);
    if (!f && error) *error = MapErrno(errno, path);
    return f;
}

bool WriteImpl(FILE* f, const void* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, f) == size;
}

bool FreeSpaceImpl(const std::string& path, uint64_t* available, uint64_t* total, int* error) {
    struct statvfs st;
    if (::statvfs(path.empty() ? "." : path.c_str(), &st) != 0) return Fail(error, MapErrno(errno, path));
    *available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    *total = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
    return true;
}

bool FlushCloseImpl(FILE* f) {
    if (!f) return false;
    bool ok = std::fflush(f) == 0;
    ok = ::fsync(fileno(f)) == 0 && ok;
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

// flock locks belong to the open file, so two engines of one process
// exclude each other as two processes do.
bool FileLock::Take(const std::string& path, int* error) {
    Release();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(error, MapErrno(errno, path));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return Fail(error, err == EWOULDBLOCK ? kErrSharingViolation : MapErrno(err, path));
    }
    m_handle = fd;
    return true;
}

void FileLock::Release() {
    if (m_handle == -1) return;
    ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool FileLock::HeldByOther(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

namespace {

// One walk for both: names that do not end in suffix (empty: all match) are
// not looked at further.
bool WalkFolder(const std::string& folder, const std::string& suffix,
                const std::function<void(const FolderEntry&)>& each) {
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return false;
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    FolderEntry entry;
    while (struct dirent* e = ::readdir(d)) {
        if (!suffix.empty() && !NameEndsIn(e->d_name, suffix)) continue;
        entry.name = e->d_name;
        if (entry.name == "." || entry.name == "..") continue;
        struct stat st;
        const bool known = ::lstat((base + entry.name).c_str(), &st) == 0;
        entry.isFolder = known && S_ISDIR(st.st_mode);
        entry.isLink = known && S_ISLNK(st.st_mode);
        each(entry);
    }
    ::closedir(d);
    return true;
}

}  // namespace

bool ForEachFolderEntry(const std::string& folder, const std::function<void(const FolderEntry&)>& each) {
    return WalkFolder(folder, std::string(), each);
}

bool ForEachFolderEntryEndingIn(const std::string& folder, const std::string& suffix,
                                const std::function<void(const FolderEntry&)>& each) {
    return WalkFolder(folder, suffix, each);
}

}  // namespace plat
