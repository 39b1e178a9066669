// The path rules of the image folder: separators and names as each path
// style reads them, "." and ".." resolved, and whether a path stays inside a
// folder. Pure text operations: nothing here looks at the disk.
#include "engine/path.h"

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/fs.h"

namespace {

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

std::string PathInFolder(const std::string& folder, const char* name) {
    std::string path = folder;
    AddBackslash(path);
    return path + name;
}

std::string_view ParentFolderOf(std::string_view path) {
    const size_t sep = path.find_last_of("/\\");
    return sep == std::string_view::npos ? std::string_view() : path.substr(0, sep);
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
    if (a == b) return true;  // the common case, asked on every pass: no normalizing
    NormalPath x = Normalize(a, style), y = Normalize(b, style);
    return x.absolute == y.absolute && x.odd == y.odd && x.parts == y.parts;
}
