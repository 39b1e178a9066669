// Per-system parts of the stand-in host; the host is one small program, so
// both systems live here side by side.
#include "host_platform.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>

const char kHostPathSep = '\\';

void* LoadPlugin(const std::string& path, PlugInMsgHandler* handler, std::string* error) {
    HMODULE mod = LoadLibraryA(path.c_str());
    if (!mod) {
        *error = "LoadLibrary failed, error " + std::to_string(GetLastError());
        return nullptr;
    }
    FARPROC proc = GetProcAddress(mod, "_vdtPlugInMsgHandler@12");
    if (!proc) {
        *error = "no export _vdtPlugInMsgHandler@12";
        FreeLibrary(mod);
        return nullptr;
    }
    *handler = reinterpret_cast<PlugInMsgHandler>(reinterpret_cast<void*>(proc));
    return mod;
}

void UnloadPlugin(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

bool HostFileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool HostReplaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::vector<DirEntry> ListFolder(const std::string& folder) {
    std::vector<DirEntry> out;
    WIN32_FIND_DATAA fd;
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    HANDLE h = FindFirstFileA((pattern + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        out.push_back(DirEntry{name, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}

#else
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

const char kHostPathSep = '/';

void* LoadPlugin(const std::string& path, PlugInMsgHandler* handler, std::string* error) {
    void* mod = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!mod) {
        const char* e = dlerror();
        *error = e ? e : "dlopen failed";
        return nullptr;
    }
    void* sym = dlsym(mod, "vdtPlugInMsgHandler");
    if (!sym) {
        *error = "no export vdtPlugInMsgHandler";
        dlclose(mod);
        return nullptr;
    }
    *handler = reinterpret_cast<PlugInMsgHandler>(sym);
    return mod;
}

void UnloadPlugin(void* module) {
    dlclose(module);
}

bool HostFileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool HostReplaceFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

std::vector<DirEntry> ListFolder(const std::string& folder) {
    std::vector<DirEntry> out;
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string full = folder;
        if (!full.empty() && full.back() != '/') full += '/';
        struct stat st;
        // lstat: a linked folder is not entered, so a link loop cannot trap the scan.
        bool folderEntry = lstat((full + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        out.push_back(DirEntry{name, folderEntry});
    }
    closedir(d);
    return out;
}
#endif
