// The property side file the host reads beside an image.
#pragma once

#include <string>

#include "common/records.h"

// Writes the side file of imagePath (UTF-16LE with its byte order mark):
// [Enable] Description=1 and [Description] Text= the item's name (title)
// and/or uploader (description), control characters replaced.
void WriteVpropFile(const std::string& imagePath, const CLumoraItem& item, bool title, bool description);
