// Local names of downloaded images: the service's file name in a sub-folder
// named after the wallpaper's purity, or a time-stamped fallback name; the
// MIME table; and the small path helpers the cache and side files share.
#include <cstdio>
#include <vector>

#include "engine/engine.h"
#include "engine/line_text.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/fs.h"
#include "common/host_callback.h"

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

char Separator(PathStyle style) {
    return style == PathStyle::kWindows ? '\\' : '/';
}

// The last separator of a path: "/" in both styles, "\" as well in Windows
// style (searched character-wise: a trail byte is no separator).
size_t LastSeparator(const std::string& path, PathStyle style) {
    size_t b = plat::FindLastChar(path, '/');
    if (style == PathStyle::kPosix) return b;
    size_t a = plat::FindLastChar(path, '\\');
    if (a == std::string::npos) return b;
    if (b == std::string::npos) return a;
    return a > b ? a : b;
}

// One name of a path as the file system compares it. Windows drops trailing
// dots and blanks ("sfw. " is "sfw", ".. " is ".."); a name of dots and
// blanks alone is taken as ".." there, the reading that stays safe.
std::string CanonicalPart(const std::string& part, PathStyle style) {
    if (style == PathStyle::kPosix || part == "." || part == "..") return part;
    std::string name = part;
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (name.empty()) return part.find('.') == std::string::npos ? std::string() : "..";
    return plat::FoldCase(name);
}

struct NormalPath {
    bool absolute = false;
    // Windows style: a ":" other than a drive's ("C:img" is relative to the
    // drive's current folder, "a:b" a stream): such a path is inside nothing.
    bool odd = false;
    std::vector<std::string> parts;  // "." removed, ".." resolved (kept only at the start of a relative path)
};

bool IsDrive(const std::string& part) {
    return part.size() == 2 && part[1] == ':' &&
           ((part[0] >= 'a' && part[0] <= 'z') || (part[0] >= 'A' && part[0] <= 'Z'));
}

NormalPath Normalize(const std::string& path, PathStyle style) {
    std::vector<std::string> raw;
    std::string rest = path;
    for (size_t p; (p = LastSeparator(rest, style)) != std::string::npos;) {
        raw.push_back(rest.substr(p + 1));
        rest.erase(p);
    }
    raw.push_back(rest);
    NormalPath n;
    // raw holds the parts last to first; an empty first part means the path
    // starts at a root; in Windows style a first part with ":" is a drive.
    n.absolute = raw.size() > 1 && raw.back().empty();
    size_t fixedRoot = 0;
    for (auto it = raw.rbegin(); it != raw.rend(); ++it) {
        const std::string part = CanonicalPart(*it, style);
        if (part.empty() || part == ".") continue;
        if (style == PathStyle::kWindows && part.find(':') != std::string::npos) {
            if (it != raw.rbegin() || !IsDrive(part)) n.odd = true;
            n.absolute = true;
            n.parts.push_back(part);
            fixedRoot = n.parts.size();
            continue;
        }
        if (part == "..") {
            if (n.parts.size() > fixedRoot && n.parts.back() != "..")
                n.parts.pop_back();
            else if (!n.absolute)
                n.parts.push_back(part);
            continue;  // ".." at a root stays at the root
        }
        n.parts.push_back(part);
    }
    return n;
}

}  // namespace

PathStyle NativePathStyle() {
    return plat::kPathSep == '\\' ? PathStyle::kWindows : PathStyle::kPosix;
}

void ReplaceExtension(std::string& path, const char* ext) {
    size_t dot = plat::FindLastChar(path, '.');
    if (dot != std::string::npos) path.erase(dot);
    // An absent or empty extension leaves the path without one (no lone dot).
    if (ext && *ext) {
        path += '.';
        path += ext;
    }
}

void AddBackslash(std::string& path, PathStyle style) {
    if (path.empty()) return;
    const char sep = Separator(style);
    if (plat::FindLastChar(path, sep) != path.size() - 1) path += sep;
}

std::string SidePathOf(const std::string& imagePath, PathStyle style) {
    std::string side = imagePath;
    size_t dot = plat::FindLastChar(side, '.');
    size_t sep = LastSeparator(side, style);
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep))
        ReplaceExtension(side, "vprop");
    else
        side += ".vprop";  // a dot in a folder name must not move the side file out of the image's folder
    return side;
}

bool PathInsideFolder(const std::string& path, const std::string& folder, PathStyle style) {
    // The system reads a path up to its first NUL: what follows is not what
    // it would open.
    if (path.find('\0') != std::string::npos || folder.find('\0') != std::string::npos) return false;
    NormalPath p = Normalize(path, style), f = Normalize(folder, style);
    if (p.odd || f.odd) return false;
    if (p.absolute != f.absolute || p.parts.size() <= f.parts.size()) return false;
    // "h:x" names drive H, not the root of the current drive: a path with a
    // drive lies in no folder that has none.
    if (style == PathStyle::kWindows && IsDrive(p.parts[0]) && (f.parts.empty() || !IsDrive(f.parts[0])))
        return false;
    for (size_t i = 0; i < f.parts.size(); ++i)
        if (p.parts[i] != f.parts[i]) return false;
    for (size_t i = f.parts.size(); i < p.parts.size(); ++i)
        if (p.parts[i] == "..") return false;
    return true;
}

CFolderGate::CFolderGate(const std::string& folder, PathStyle style) : m_folder(folder), m_style(style) {
    // Relative names, and a folder with a NUL (which nothing is inside): the
    // full check decides.
    if (folder.empty() || folder.find('\0') != std::string::npos) return;
    std::string f = folder;
    while (f.size() > 1 && LastSeparator(f, style) == f.size() - 1) f.pop_back();
    m_prefix = f;
    if (LastSeparator(m_prefix, style) != m_prefix.size() - 1) m_prefix += Separator(style);
    // The quick answer holds only where the full check agrees that a plain
    // name after the prefix is inside (not so for a folder named ":").
    if (!PathInsideFolder(m_prefix + "x", folder, style)) m_prefix.clear();
}

bool CFolderGate::Contains(std::string_view path) const {
    if (!m_prefix.empty() && path.size() > m_prefix.size() &&
        path.compare(0, m_prefix.size(), m_prefix) == 0) {
        // Any byte that could be a separator splits here; a false split only
        // sends the path to the full check, and so does any name that starts
        // or ends with a dot or blank, a NUL and a colon.
        bool plain = true, named = false;
        size_t start = m_prefix.size();
        for (size_t i = start; i <= path.size() && plain; ++i) {
            if (i < path.size() && (path[i] == '\0' || path[i] == ':')) plain = false;
            if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
            size_t len = i - start;
            if (len > 0 && (path[start] == '.' || path[i - 1] == '.' || path[i - 1] == ' ')) plain = false;
            named = named || len > 0;
            start = i + 1;
        }
        if (plain && named) return true;
    }
    return PathInsideFolder(std::string(path), m_folder, m_style);
}

bool SameFolder(const std::string& a, const std::string& b, PathStyle style) {
    NormalPath x = Normalize(a, style), y = Normalize(b, style);
    return x.absolute == y.absolute && x.odd == y.odd && x.parts == y.parts;
}

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

std::string CLumoraEngine::GetExtFromType(const std::string& type) {
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

int CLumoraEngine::BuildLocalName(const CLumoraItem& item, std::string& path) {
    if (item.Name.empty()) return BuildFallbackName(item, path);

    std::string name = item.Name;
    // Control characters first: a NUL among them would end the name early
    // for the system and hide the separators behind it from the checks.
    ReplaceControls(name, '-');
    for (char c : std::string("/\\&?<>|:*\"")) ReplaceCharWise(name, c, '-');
    // A name with the side file's or the transfer's extension would share a
    // file with its own side file or temporary file: it gets one of its own.
    if (plat::FindLastChar(name, '.') == std::string::npos || HasReservedExtension(name))
        name += "." + GetExtFromType(item.FileType);

    path = ItemFolder(m_settings.ImgFolder, item) + name;
    // A device name "exists" and "opens" on Windows but is no file: it is
    // a name that cannot be created, on every build alike.
    const bool device = IsDeviceName(name);
    if (!StaysInside(path, m_settings.ImgFolder)) {
        BuildFallbackName(item, path);
        LogMessage("BuildLocalName(): file name leaves the image folder %s, replaced by %s", name.c_str(),
                   path.c_str());
    } else if (!device && NameTaken(path)) {
        BuildFallbackName(item, path);
        LogMessage("BuildLocalName(): file name already exists %s, replaced by %s", name.c_str(),
                   path.c_str());
    } else if (device || !CanCreateFile(TempPathOf(path))) {
        BuildFallbackName(item, path);
        LogMessage("BuildLocalName(): File name can't be create %s, replaced by %s", name.c_str(),
                   path.c_str());
    }
    return 1;
}

int CLumoraEngine::BuildFallbackName(const CLumoraItem& item, std::string& path) {
    std::string folder = ItemFolder(m_settings.ImgFolder, item);
    std::string ext = GetExtFromType(item.FileType);
    OleDateParts now = SplitOleDate(m_clock ? m_clock->LocalNow() : plat::LocalNowOle());
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%03d%02d%02d%02d", now.dayOfYear, now.hour, now.minute, now.second);
    std::vector<char> buf(folder.size() + ext.size() + 64);
    // The counter goes on past 999 rather than reuse a name: the file there
    // belongs to another record (or to the user).
    for (int i = 0; i < kFallbackCandidates; ++i) {
        std::snprintf(buf.data(), buf.size(), "%si%s%02d.%s", folder.c_str(), stamp, i, ext.c_str());
        path = buf.data();
        if (!NameTaken(path)) return 1;
    }
    LogMessage("BuildFallbackName: no free name in %s", folder.c_str());
    path.clear();
    return 0;
}
