// The names of cached files: the folder a purity text becomes, the extension
// a MIME type becomes, and the local path of a wallpaper's image beside the
// names already taken.
#pragma once

#include <string>

#include "common/records.h"

class CFileList;

// Extensions a cached image comes with: the MIME table's and those the
// service's own names carry (lower case, without the dot).
constexpr int kImageExtensionCount = 12;
extern const char* const kImageExtensions[kImageExtensionCount];

// The single folder name the service's purity text becomes: safe words stay
// as they are, anything that could leave the image folder or name a device
// is mended; an empty text stays empty (no sub-folder).
std::string SafePurityFolder(const std::string& purity);

// The extension (without the dot) of a MIME type from the naming table;
// "unknown" (logged) for a type the table lacks.
std::string GetExtFromType(const std::string& type);

// What naming an image needs to know: the image folder, the local time of
// fallback names, and the cache's records (names taken by cached images).
struct LocalNaming {
    std::string imgFolder;
    double localNow = 0;  // OLE date
    const CFileList* records = nullptr;
};

// The local path of item's image: the service's name, mended, in the purity
// sub-folder (created), or a fallback name when that name leaves the folder,
// is taken or cannot be created (logged). 1; 0 when not even a fallback
// name is free.
int BuildLocalName(const CLumoraItem& item, const LocalNaming& where, std::string& path);
// A time-stamped name in the purity sub-folder that no file and no record
// holds: "i<day><hh><mm><ss><counter>.<ext>". 1, or 0 (logged, path empty).
int BuildFallbackName(const CLumoraItem& item, const LocalNaming& where, std::string& path);

// Whether an image path is taken: the file, its side file, or a cached image
// with the same side file (abc.jpg and abc.png share abc.vprop).
bool NameTaken(const std::string& path, const CFileList& records);
// Whether another cached image than path uses path's side file.
bool SideFileShared(const std::string& path, const CFileList& records);
// Whether a sub-folder of the image folder holds cached images: one of the
// four common purity folders, or one that a record's path lies in (any other
// purity text the service sent).
bool IsPurityFolderName(const std::string& name, const std::string& imgFolder, const CFileList& records);
