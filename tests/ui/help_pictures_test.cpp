// The help shows each dialog as it looks: every dialog page's picture exists,
// is listed for the help file, and was made from the current dialog template
// (docs/make-help-pictures.sh records the template's fingerprint; the
// picture's size must also follow from the template's size).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/source_file.h"

namespace {

struct Template {
    int width = 0, height = 0;  // dialog units
    std::string text;           // from the DIALOGEX line to its END, LF line ends
};

// The dialog templates of the resource script by name.
std::map<std::string, Template> Templates(const std::string& rc) {
    std::string src = std::regex_replace(ReadAll(rc), std::regex("\r\n"), "\n");
    std::map<std::string, Template> out;
    std::istringstream lines(src);
    std::string line;
    const std::regex head("^(IDD_\\w+)\\s+DIALOGEX\\s+-?\\d+\\s*,\\s*-?\\d+\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)");
    Template* open = nullptr;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!open && std::regex_search(line, m, head)) {
            open = &out[m[1]];
            open->width = std::stoi(m[2]);
            open->height = std::stoi(m[3]);
        }
        if (!open) continue;
        open->text += line + "\n";
        if (std::regex_match(line, std::regex("\\s*END\\s*"))) open = nullptr;
    }
    return out;
}

// FNV-1a, 64 bits, as the picture script computes it.
std::string Fingerprint(const std::string& text) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

// Width and height from a PNG's header; false when the file is no PNG.
bool PngSize(const std::string& path, int* width, int* height) {
    const std::string bytes = ReadAll(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
    auto be32 = [&](size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 24) |
               (static_cast<unsigned char>(bytes[at + 1]) << 16) |
               (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    };
    *width = static_cast<int>(be32(16));
    *height = static_cast<int>(be32(20));
    return true;
}

struct Picture {
    std::string file, templateName;
    int width = 0, height = 0;
    std::string fingerprint;
};

std::vector<Picture> Recorded() {
    std::vector<Picture> out;
    std::istringstream lines(ReadAll(SourceDir() + "/docs/help/pictures/pictures.txt"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        Picture p;
        char x = 0;
        std::istringstream fields(line);
        fields >> p.file >> p.templateName >> p.width >> x >> p.height >> p.fingerprint;
        out.push_back(p);
    }
    return out;
}

// Pixels of a dialog template as the pictures are taken (wine's fonts at 96
// dpi under Xvfb): a dialog unit is 6/4 pixel across and 13/8 down, and the
// window's frame and caption add 6 and 25 pixels.
int PixelsAcross(int units) {
    return (units * 6 + 2) / 4 + 6;
}
int PixelsDown(int units) {
    return (units * 13 + 4) / 8 + 25;
}

TEST(HelpPictures, EachDialogPageShowsItsDialogAsItIsNow) {
    const std::map<std::string, Template> templates = Templates(SourceDir() + "/src/ui/win32/dialogs.rc");
    ASSERT_GE(templates.size(), 4u) << "the resource script was not read";
    const std::vector<Picture> recorded = Recorded();
    std::map<std::string, Picture> byFile;
    for (const Picture& p : recorded) byFile[p.file] = p;

    // The dialog pages and the pictures they show.
    const struct {
        const char* page;
        std::vector<std::string> pictures;
    } pages[] = {
        {"settings.htm", {"main.png", "settings.png"}},
        {"feeds.htm", {"feed_search.png", "feed_collection.png"}},
        {"cache.htm", {"local_cache.png"}},
    };
    const std::string project = ReadAll(SourceDir() + "/docs/help/Lumora.hhp");
    for (const auto& page : pages) {
        const std::string html = ReadAll(SourceDir() + "/docs/help/" + page.page);
        ASSERT_FALSE(html.empty()) << page.page;
        for (const std::string& file : page.pictures) {
            SCOPED_TRACE(std::string(page.page) + ": " + file);
            EXPECT_NE(html.find("<img src=\"pictures/" + file + "\""), std::string::npos) << "not shown";
            EXPECT_NE(project.find("pictures\\" + file), std::string::npos) << "not in the help file's list";
            ASSERT_EQ(byFile.count(file), 1u) << "not made by docs/make-help-pictures.sh";
            const Picture& p = byFile[file];
            int width = 0, height = 0;
            ASSERT_TRUE(PngSize(SourceDir() + "/docs/help/pictures/" + file, &width, &height))
                << "no picture";
            EXPECT_EQ(width, p.width);
            EXPECT_EQ(height, p.height);

            ASSERT_EQ(templates.count(p.templateName), 1u) << p.templateName;
            const Template& t = templates.at(p.templateName);
            EXPECT_EQ(p.fingerprint, Fingerprint(t.text))
                << p.templateName << " changed since its picture was made: run docs/make-help-pictures.sh";
            EXPECT_NEAR(width, PixelsAcross(t.width), 2)
                << p.templateName << " is " << t.width << " units wide";
            EXPECT_NEAR(height, PixelsDown(t.height), 2)
                << p.templateName << " is " << t.height << " units high";
        }
    }
    // Every configuration window but the passing wait window has a picture.
    for (const auto& t : templates) {
        if (t.first == "IDD_WAIT") continue;
        bool shown = false;
        for (const Picture& p : recorded) shown = shown || p.templateName == t.first;
        EXPECT_TRUE(shown) << t.first << " has no picture in the help";
    }
}

// The help file the build made carries the pictures under the names the
// pages use (builds that make no help file skip this).
TEST(HelpPictures, TheHelpFileCarriesThem) {
    const char* build = std::getenv("LUMORA_BINARY_DIR");
    const std::string chm = build && *build ? ReadAll(std::string(build) + "/Lumora.chm") : std::string();
    if (chm.empty()) GTEST_SKIP() << "this build makes no help file";
    for (const Picture& p : Recorded())
        EXPECT_NE(chm.find("/pictures/" + p.file), std::string::npos) << p.file << " is not in Lumora.chm";
}

}  // namespace
