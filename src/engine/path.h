// The path rules of the image folder, shared by naming, cleaning, the cache
// list and side files.
#pragma once

#include <string>
#include <string_view>

// The rules that keep files inside the image folder take the path style as a
// parameter, so one table of cases checks both styles on every build.
enum class PathStyle {
    kPosix,    // "/" separates; names compare as they are
    kWindows,  // "\" and "/" separate; drive letters; names compare ignoring case and trailing dots and
               // blanks
};
PathStyle NativePathStyle();

// The two path operations shared by naming, cleaning and side files.
void ReplaceExtension(std::string& path, const char* ext);
void AddBackslash(std::string& path, PathStyle style = NativePathStyle());  // appends the style's separator
// The path of the file name directly in folder (one separator between).
std::string PathInFolder(const std::string& folder, const char* name);
// The folder part of a path, without a copy (empty: no separator); the heal
// walk looks at every record and must not allocate for each.
std::string_view ParentFolderOf(std::string_view path);

// The property side file of an image: the extension replaced by "vprop",
// always beside the image (a dot in a folder name is not an extension).
std::string SidePathOf(const std::string& imagePath, PathStyle style = NativePathStyle());
// Whether path, with "." and ".." resolved, names something strictly inside
// folder (both taken relative to the same current folder when relative). A
// path with a NUL in it is never inside.
bool PathInsideFolder(const std::string& path, const std::string& folder,
                      PathStyle style = NativePathStyle());
// PathInsideFolder for many paths against one folder: the usual path (the
// folder's own text, a separator, no "." or ".." parts) is told without
// allocating; anything else takes the full check.
class CFolderGate {
  public:
    explicit CFolderGate(const std::string& folder, PathStyle style = NativePathStyle());
    bool Contains(std::string_view path) const;

  private:
    std::string m_folder;
    PathStyle m_style;
    std::string m_prefix;  // the folder and one separator; empty: no quick answer
};
// Whether two folder paths name the same folder (same normalisation).
bool SameFolder(const std::string& a, const std::string& b, PathStyle style = NativePathStyle());
