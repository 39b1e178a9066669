// Local names of downloaded images: the service's file name in a sub-folder
// named after the wallpaper's purity, or a time-stamped fallback name; the
// MIME table. (The path rules they follow are in path.h.)
#include <cstdio>
#include <vector>

#include "engine/naming.h"

#include "engine/file_list.h"
#include "engine/path.h"
#include "engine/line_text.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "common/host_callback.h"

const char* const kImageExtensions[kImageExtensionCount] = {"jpg",  "jpeg", "png", "gif", "bmp", "tif",
                                                            "tiff", "webp", "mpg", "mp4", "mp3", "unknown"};

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return i == a.size() && b[i] == 0;
}

// Replaces every occurrence of ch, searched character-wise (in a double-byte
// code page "\" and "|" can be the second byte of a character, which must
// stay untouched).
void ReplaceCharWise(std::string& text, char ch, char by) {
    for (size_t p; (p = plat::FindLastChar(text, ch)) != std::string::npos;) text[p] = by;
}

// Control characters never occur as part of a multi-byte character.
void ReplaceControls(std::string& text, char by) {
    for (char& c : text)
        if (IsControlChar(static_cast<unsigned char>(c))) c = by;
}

// Names Windows reserves for devices, whatever extension follows.
bool IsDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.pop_back();
    static const char* const kFixed[] = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"};
    for (const char* d : kFixed)
        if (EqualsNoCase(stem, d)) return true;
    if (stem.size() == 4 &&
        (EqualsNoCase(stem.substr(0, 3), "com") || EqualsNoCase(stem.substr(0, 3), "lpt")))
        return stem[3] >= '0' && stem[3] <= '9';
    return false;
}

// Extensions the plug-in's own files use beside an image.
bool HasReservedExtension(const std::string& name) {
    size_t dot = plat::FindLastChar(name, '.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot + 1);
    return EqualsNoCase(ext, "vprop") || EqualsNoCase(ext, "__t");
}

const int kFallbackCandidates = 100000;

// The creation test uses the name the transfer will write (the same name
// with the "__t" extension): a crash between creating and deleting the test
// file then leaves a temporary file, removed at the next start, and never an
// empty image that no list names.
std::string TempPathOf(const std::string& path) {
    std::string temp = path;
    ReplaceExtension(temp, "__t");
    return temp;
}

bool CanCreateFile(const std::string& path) {
    FILE* f = plat::OpenFile(path, "wb");
    if (!f) return false;
    std::fclose(f);
    plat::DeleteFileAt(path);
    return true;
}

}  // namespace

// The purity text comes from the service and becomes a folder name. Rule:
// control characters and the characters < > : " / \ | ? * become "-";
// trailing dots and blanks are dropped (Windows drops them itself, and ".."
// must not climb out); what is left empty, and device names such as CON or
// COM1, become "other". An empty purity stays empty: the image goes directly
// into the image folder. sfw, sketchy and nsfw pass unchanged.
std::string SafePurityFolder(const std::string& purity) {
    if (purity.empty()) return purity;
    std::string name = purity;
    ReplaceControls(name, '-');
    for (char c : std::string("<>:\"/\\|?*")) ReplaceCharWise(name, c, '-');
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (name.empty() || IsDeviceName(name)) return "other";
    return name;
}

std::string GetExtFromType(const std::string& type) {
    static const struct {
        const char* type;
        const char* ext;
    } kTable[] = {{"image/gif", "gif"},
                  {"image/jpeg", "jpg"},
                  {"image/tiff", "tif"},
                  {"image/x-png", "png"},
                  {"image/png", "png"},  // the service's PNG type: "unknown" would
                                         // hide the format from the host
                  {"image/bmp", "bmp"},
                  {"video/mpeg", "mpg"}};
    for (const auto& row : kTable)
        if (EqualsNoCase(type, row.type)) return row.ext;
    if (type.size() > 6 && EqualsNoCase(type.substr(0, 6), "video/")) {
        // The rest is the service's text and ends up in a file name: only
        // letters, digits, "-", "_" and "+" are kept, anything else becomes "-".
        std::string ext = type.substr(6);
        for (char& c : ext) {
            bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '+';
            if (!ok) c = '-';
        }
        return ext;
    }
    if (EqualsNoCase(type, "audio/mpeg")) return "mp3";
    std::string shown = type;
    ReplaceControls(shown, '?');
    LogMessage("GetExtFromType, unknown MIME type: %s", shown.c_str());
    return "unknown";
}

namespace {

// The image paths that would share the side file of path (path itself left
// out): its stem with each image extension.
std::vector<std::string> SameSideCandidates(const std::string& path) {
    std::string stem = SidePathOf(path);
    stem.resize(stem.size() - 5);  // "vprop"
    std::vector<std::string> out;
    const std::string self = FoldPathCase(path);
    for (const char* ext : kImageExtensions) {
        std::string candidate = stem + ext;
        if (FoldPathCase(candidate) != self) out.push_back(std::move(candidate));
    }
    return out;
}

// Whether an image path and the files the engine makes beside it (its side
// file, its temporary download) all lie inside the image folder: checked
// before any file is created under a name built from the service's data.
bool StaysInside(const std::string& path, const std::string& folder) {
    std::string temp = path;
    ReplaceExtension(temp, "__t");
    return PathInsideFolder(path, folder) && PathInsideFolder(SidePathOf(path), folder) &&
           PathInsideFolder(temp, folder);
}

// The image folder and, for a non-empty purity, its purity sub-folder
// (created, one level; an existing folder is fine), ending in a separator.
std::string ItemFolder(const std::string& imgFolder, const CLumoraItem& item) {
    std::string path = imgFolder;
    AddBackslash(path);
    std::string purity = SafePurityFolder(item.Purity);
    if (!purity.empty()) {
        path += purity;
        plat::CreateFolder(path);
        AddBackslash(path);
    }
    return path;
}

}  // namespace

bool SideFileShared(const std::string& path, const CFileList& records) {
    // Lists written by earlier builds may hold abc.jpg and abc.png: their
    // one abc.vprop stays while either is cached.
    CFileList& files = const_cast<CFileList&>(records);  // Find does not change the list
    for (const std::string& other : SameSideCandidates(path))
        if (files.Find(other) != files.end()) return true;
    return false;
}

bool NameTaken(const std::string& path, const CFileList& records) {
    // An image path is free only when neither it nor its side file exists
    // and no cached image shares that side file (abc.jpg and abc.png both
    // have abc.vprop).
    if (plat::PathExists(path) || plat::PathExists(SidePathOf(path))) return true;
    CFileList& files = const_cast<CFileList&>(records);
    if (files.Find(path) != files.end()) return true;
    return SideFileShared(path, records);
}

int BuildLocalName(const CLumoraItem& item, const LocalNaming& where, std::string& path) {
    if (item.Name.empty()) return BuildFallbackName(item, where, path);

    std::string name = item.Name;
    // Control characters first: a NUL among them would end the name early
    // for the system and hide the separators behind it from the checks.
    ReplaceControls(name, '-');
    for (char c : std::string("/\\&?<>|:*\"")) ReplaceCharWise(name, c, '-');
    // A name with the side file's or the transfer's extension would share a
    // file with its own side file or temporary file: it gets one of its own.
    if (plat::FindLastChar(name, '.') == std::string::npos || HasReservedExtension(name))
        name += "." + GetExtFromType(item.FileType);

    path = ItemFolder(where.imgFolder, item) + name;
    // A device name "exists" and "opens" on Windows but is no file: it is
    // a name that cannot be created, on every build alike.
    const bool device = IsDeviceName(name);
    if (!StaysInside(path, where.imgFolder)) {
        BuildFallbackName(item, where, path);
        LogMessage("BuildLocalName(): file name leaves the image folder %s, replaced by %s", name.c_str(),
                   path.c_str());
    } else if (!device && NameTaken(path, *where.records)) {
        BuildFallbackName(item, where, path);
        LogMessage("BuildLocalName(): file name already exists %s, replaced by %s", name.c_str(),
                   path.c_str());
    } else if (device || !CanCreateFile(TempPathOf(path))) {
        BuildFallbackName(item, where, path);
        LogMessage("BuildLocalName(): File name can't be create %s, replaced by %s", name.c_str(),
                   path.c_str());
    }
    return 1;
}

int BuildFallbackName(const CLumoraItem& item, const LocalNaming& where, std::string& path) {
    std::string folder = ItemFolder(where.imgFolder, item);
    std::string ext = GetExtFromType(item.FileType);
    OleDateParts now = SplitOleDate(where.localNow);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%03d%02d%02d%02d", now.dayOfYear, now.hour, now.minute, now.second);
    std::vector<char> buf(folder.size() + ext.size() + 64);
    // The counter goes on past 999 rather than reuse a name: the file there
    // belongs to another record (or to the user).
    for (int i = 0; i < kFallbackCandidates; ++i) {
        std::snprintf(buf.data(), buf.size(), "%si%s%02d.%s", folder.c_str(), stamp, i, ext.c_str());
        path = buf.data();
        if (!NameTaken(path, *where.records)) return 1;
    }
    LogMessage("BuildFallbackName: no free name in %s", folder.c_str());
    path.clear();
    return 0;
}

bool IsPurityFolderName(const std::string& name, const std::string& imgFolder, const CFileList& records) {
    static const char* const kKnown[] = {"sfw", "sketchy", "nsfw", "other"};
    const std::string folded = plat::FoldCase(name);
    for (const char* k : kKnown)
        if (folded == k) return true;
    // Any other purity text the service sent became a folder of cached files.
    std::string base = imgFolder;
    AddBackslash(base);
    const std::string prefix = FoldPathCase(base + name);
    for (const CFileView d : records) {
        const std::string p = FoldPathCase(std::string(d.Path));
        if (p.size() > prefix.size() + 1 && p.compare(0, prefix.size(), prefix) == 0 &&
            (p[prefix.size()] == plat::kPathSep || p[prefix.size()] == '/'))
            return true;
    }
    return false;
}
