// The property side file the host reads beside an image: UTF-16LE with its
// byte order mark, [Enable] Description=1 and [Description] Text=...
#include <cstdio>

#include "engine/vprop.h"

#include "engine/line_text.h"
#include "engine/path.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/profile.h"

void WriteVpropFile(const std::string& imagePath, const CLumoraItem& item, bool title, bool description) {
    std::string side = SidePathOf(imagePath);

    // A fresh file with the mark, so the profile writer keeps it UTF-16.
    if (FILE* f = plat::OpenFile(side, "wb")) {
        static const unsigned char kHead[] = {0xFF, 0xFE, '[', 0,   'E', 0,   'n', 0,    'a', 0,    'b',
                                              0,    'l',  0,   'e', 0,   ']', 0,   '\r', 0,   '\n', 0};
        plat::WriteAll(f, kHead, sizeof kHead);
        plat::CloseFile(f);
    }
    plat::SetProfileKey(side, u"Enable", u"Description", u"1");

    std::string text;
    if (title) text += item.Name;
    if (description) {
        if (!text.empty()) text += "\\n";  // the two characters, which the host shows as a line break
        text += item.Uploader;
    }
    // Name and uploader are the service's texts: a line break in them would
    // end the value and start a key of its own, so every control character
    // becomes a blank.
    for (char& c : text)
        if (IsControlChar(static_cast<unsigned char>(c))) c = ' ';
    plat::SetProfileKey(side, u"Description", u"Text", plat::AnsiToUtf16(text));
}
