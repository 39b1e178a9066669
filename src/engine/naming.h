// The names of cached files that need no engine state: the folder a purity
// text becomes and the extension a MIME type becomes. (The engine's
// BuildLocalName puts them together with the names already taken.)
#pragma once

#include <string>

// The single folder name the service's purity text becomes: safe words stay
// as they are, anything that could leave the image folder or name a device
// is mended; an empty text stays empty (no sub-folder).
std::string SafePurityFolder(const std::string& purity);

// The extension (without the dot) of a MIME type from the naming table;
// "unknown" (logged) for a type the table lacks.
std::string GetExtFromType(const std::string& type);
