// Local names, the MIME table and the path helpers.
#include <gtest/gtest.h>

#include "support/file_fixture.h"
#include "platform/codepage.h"

namespace ef {
namespace {

// Tables write paths with "|" for the platform's separator.
std::string P(const std::string& s) {
    std::string out(s);
    for (char& c : out)
        if (c == '|') c = plat::kPathSep;
    return out;
}

TEST(PathHelpers, ReplaceExtension) {
    struct Row {
        const char* path;
        const char* ext;
        const char* expected;
    } rows[] = {
        {"x|y.z.jpg", "vprop", "x|y.z.vprop"},  // only the last dot counts
        {"x|y", "vprop", "x|y.vprop"},          // no dot at all: appended
        {"a.b|c", "vprop", "a.vprop"},          // the last dot lies in a folder name: cut there
        {"sfw|abc.jpg", "__t", "sfw|abc.__t"},  //
        {"sfw|abc.jpg", nullptr, "sfw|abc"},    // no extension given: only removed
        {"abc.", "vprop", "abc.vprop"},         //
        {"", "vprop", ".vprop"},                //
        {"abc.jpg", "", "abc"},                 // an empty extension adds no lone dot
    };
    for (const Row& r : rows) {
        std::string path = P(r.path);
        ReplaceExtension(path, r.ext);
        EXPECT_EQ(path, P(r.expected)) << r.path << " + " << (r.ext ? r.ext : "(none)");
    }
}

TEST(PathHelpers, AddBackslash) {
    struct Row {
        const char* path;
        const char* expected;
    } rows[] = {{"", ""}, {"a", "a|"}, {"a|", "a|"}, {"a|b", "a|b|"}, {"|", "|"}};
    for (const Row& r : rows) {
        std::string path = P(r.path);
        AddBackslash(path);
        EXPECT_EQ(path, P(r.expected)) << r.path;
    }
}

TEST(PathHelpers, SidePathStaysBesideTheImage) {
    struct Row {
        const char* image;
        const char* side;
    } rows[] = {
        {"f|sfw|abc.jpg", "f|sfw|abc.vprop"},
        {"f|sfw|a.b.png", "f|sfw|a.b.vprop"},
        {"f.d|sfw|abc", "f.d|sfw|abc.vprop"},  // a dot only in a folder name is no extension
        {"abc", "abc.vprop"},
    };
    for (const Row& r : rows) EXPECT_EQ(SidePathOf(P(r.image)), P(r.side)) << r.image;
}

TEST(PathHelpers, PathInsideFolder) {
    struct Row {
        const char* path;
        const char* folder;
        bool inside;
    } rows[] = {
        {"|img|sfw|a.jpg", "|img", true},
        {"|img|a.jpg", "|img|", true},
        {"|img|.|sfw|a.jpg", "|img", true},
        {"|img|sfw|..|a.jpg", "|img", true},
        {"|img|..|etc|passwd", "|img", false},
        {"|img|sfw|..|..|x", "|img", false},
        {"|img", "|img", false},  // the folder itself is not inside it
        {"|img|.", "|img", false},
        {"|img||", "|img", false},
        {"|img|sfw|.|a.jpg", "|img|", true},
        {"|img|sfw|..", "|img", false},
        {"|img|a|..|..|b", "|img", false},
        {"|a.jpg", "|", true},
        {"|imgx|a.jpg", "|img", false},  // a longer name is another folder
        {"|other|a.jpg", "|img", false},
        {"a.jpg", "|img", false},  // relative against absolute
        {"sfw|a.jpg", "", true},   // no folder: relative paths that stay below the current one
        {"..|a.jpg", "", false},
        {"|a.jpg", "", false},
        {"|img|..|..|img|a.jpg", "|img", true},  // ".." at the root stays at the root
    };
    for (const Row& r : rows) {
        EXPECT_EQ(PathInsideFolder(P(r.path), P(r.folder)), r.inside) << r.path << " in " << r.folder;
        EXPECT_EQ(CFolderGate(P(r.folder)).Contains(P(r.path)), r.inside)
            << "gate: " << r.path << " in " << r.folder;
    }
    // Windows paths ignore case and may use "/" as well as "\".
    if (plat::kPathsIgnoreCase) {
        EXPECT_TRUE(PathInsideFolder("C:\\Img\\SFW\\a.jpg", "c:\\img"));
        EXPECT_TRUE(PathInsideFolder("C:/img/sfw/a.jpg", "C:\\img"));
        EXPECT_FALSE(PathInsideFolder("D:\\img\\a.jpg", "C:\\img"));
        EXPECT_FALSE(PathInsideFolder("C:\\img\\..\\Windows\\x.dll", "C:\\img"));
    } else {
        EXPECT_FALSE(PathInsideFolder("/IMG/a.jpg", "/img"));  // another folder on this file system
    }
}

// The rules that keep files inside the image folder, in both path styles:
// each row gives the answer a POSIX system and Windows would give, and both
// run on every build.
TEST(PathRules, InsideTheFolderInBothStyles) {
    using namespace std::string_literals;
    struct Row {
        std::string path, folder;
        bool posix, windows;
    } rows[] = {
        {"/img/sfw/a.jpg", "/img", true, true},
        {"/img/a.jpg", "/img/", true, true},
        {"/img/sfw/../a.jpg", "/img", true, true},
        {"/img/../etc/passwd", "/img", false, false},
        {"/img", "/img", false, false},
        {"/imgx/a.jpg", "/img", false, false},
        {"C:\\img\\sfw\\a.jpg", "C:\\img", false, true},  // one odd name to POSIX
        {"C:\\Img\\SFW\\a.jpg", "c:\\img", false, true},  // Windows ignores case
        {"C:/img/sfw/a.jpg", "C:\\img", false, true},     // and takes "/" as well
        {"D:\\img\\a.jpg", "C:\\img", false, false},
        {"h:", "\\", false, false},         // drive H, not the current drive's root
        {"h:\\a.jpg", "\\", false, false},  // (found by the local-name fuzz target)
        {"C:\\img\\..\\Windows\\x.dll", "C:\\img", false, false},
        {"/IMG/a.jpg", "/img", false, true},
        {"/img/sfw/a\\..\\..\\..\\x", "/img", true, false},  // "\" is a letter to POSIX
        {"/img/sfw\\..\\..\\..\\evil.jpg", "/img", true, false},
        {"/img/sfw. /a.jpg", "/img", true, true},
        {"/img/.. /x", "/img", true, false},   // Windows drops the blank: ".."
        {"/img/... /x", "/img", true, false},  // dots alone: taken as ".."
        {"/img/.../x", "/img", true, false},
        {"/img/sfw/.../x", "/img", true, true},
        {"/img./x", "/img", false, true},             // "img." is "img" to Windows
        {"/img/a\0/../../x"s, "/img", false, false},  // a NUL is never inside
        {"/img/sfw/a\0.jpg"s, "/img", false, false},
        {"/i\0g/a.jpg"s, "/i\0g"s, false,
         false},  // nor is anything inside a folder with one (a fuzz finding)
        {"sfw/a.jpg", "", true, true},
        {"..\\a.jpg", "", true, false},
        {"a:\\b", "", true, false},       // a drive to Windows
        {"C:img\\x", "", true, false},    // relative to the drive's current folder
        {"hy.LxC:", "\\", false, false},  // a ":" is no drive (a fuzz finding)
        {"/img/x:y/a.jpg", "/img", true, false},
        {"C:\\img\\a.jpg:s", "C:\\img", false, false},  // a stream
        {":\\im", ":", false, false},                   // a folder the quick gate misread (a fuzz finding)
    };
    for (const Row& r : rows) {
        for (PathStyle style : {PathStyle::kPosix, PathStyle::kWindows}) {
            const bool expected = style == PathStyle::kPosix ? r.posix : r.windows;
            const char* name = style == PathStyle::kPosix ? " (posix)" : " (windows)";
            EXPECT_EQ(PathInsideFolder(r.path, r.folder, style), expected)
                << Show(r.path) << " in " << r.folder << name;
            EXPECT_EQ(CFolderGate(r.folder, style).Contains(r.path), expected)
                << "gate: " << Show(r.path) << " in " << r.folder << name;
        }
    }
}

TEST(PathRules, SidePathAndSeparatorInBothStyles) {
    struct Row {
        const char* image;
        const char* posix;
        const char* windows;
    } rows[] = {
        {"/f/sfw/abc.jpg", "/f/sfw/abc.vprop", "/f/sfw/abc.vprop"},
        {"C:\\f.d\\sfw\\abc", "C:\\f.vprop",
         "C:\\f.d\\sfw\\abc.vprop"},  // the dot of a folder is no extension
        {"/f.d/abc", "/f.d/abc.vprop", "/f.d/abc.vprop"},
        {"C:\\f\\a.b.png", "C:\\f\\a.b.vprop", "C:\\f\\a.b.vprop"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(SidePathOf(r.image, PathStyle::kPosix), r.posix) << r.image;
        EXPECT_EQ(SidePathOf(r.image, PathStyle::kWindows), r.windows) << r.image;
    }
    struct Sep {
        const char* path;
        const char* posix;
        const char* windows;
    } seps[] = {{"", "", ""}, {"a", "a/", "a\\"}, {"a/", "a/", "a/\\"}, {"a\\", "a\\/", "a\\"}};
    for (const Sep& r : seps) {
        std::string p = r.path, w = r.path;
        AddBackslash(p, PathStyle::kPosix);
        AddBackslash(w, PathStyle::kWindows);
        EXPECT_EQ(p, r.posix) << r.path;
        EXPECT_EQ(w, r.windows) << r.path;
    }
    EXPECT_EQ(NativePathStyle(), plat::kPathSep == '\\' ? PathStyle::kWindows : PathStyle::kPosix);
}

TEST(Naming, SafePurityFolder) {
    struct Row {
        const char* purity;
        const char* folder;
    } rows[] = {
        {"sfw", "sfw"},          {"sketchy", "sketchy"},  {"nsfw", "nsfw"},  {"", ""},  // no sub-folder
        {"..", "other"},         {".", "other"},          {"...", "other"},  {" . ", "other"},
        {"../../x", "..-..-x"},  {"a/b\\c", "a-b-c"},     {"C:", "C-"},      {"c:\\windows", "c--windows"},
        {"x<>|?*\"", "x------"}, {"a\r\nb\tc", "a--b-c"}, {"sfw.", "sfw"},   {"sfw  ", "sfw"},
        {"CON", "other"},        {"nul.txt", "other"},    {"Com1", "other"}, {"lpt9", "other"},
        {"com10", "com10"},      {"console", "console"},
    };
    for (const Row& r : rows) EXPECT_EQ(SafePurityFolder(r.purity), r.folder) << Show(r.purity);
}

using GetExtFromTypeTest = EngineFixture;

TEST_F(GetExtFromTypeTest, Table) {
    struct Row {
        const char* type;
        const char* ext;
        bool logged;
    } rows[] = {
        {"image/gif", "gif", false},
        {"image/jpeg", "jpg", false},
        {"IMAGE/JPEG", "jpg", false},
        {"Image/Jpeg", "jpg", false},
        {"image/tiff", "tif", false},
        {"image/x-png", "png", false},
        {"image/bmp", "bmp", false},
        {"video/mpeg", "mpg", false},
        {"VIDEO/MPEG", "mpg", false},
        {"video/mp4", "mp4", false},
        {"video/quicktime", "quicktime", false},
        {"Video/MP4", "MP4", false},
        {"audio/mpeg", "mp3", false},
        {"image/png", "png", false},  // the service's PNG type
        {"IMAGE/PNG", "png", false},
        {"image/jpg", "unknown", true},
        {"audio/mp3", "unknown", true},
        {"", "unknown", true},
        {"image/jpeg ", "unknown", true},  // the whole type must match
        {"video/", "unknown", true},       // nothing after the prefix
        // the rest of a video type becomes part of a file name: no separators
        {"video/../../x", "------x", false},
        {"video/a\\b:c", "a-b-c", false},
        {"video/x-ms_wmv+1", "x-ms_wmv+1", false},
    };
    for (const Row& r : rows) {
        Log::Clear();
        EXPECT_EQ(GetExtFromType(r.type), r.ext) << r.type;
        if (r.logged)
            EXPECT_EQ(Log::Lines(),
                      std::vector<std::string>{"GetExtFromType, unknown MIME type: " + std::string(r.type)})
                << r.type;
        else
            EXPECT_TRUE(Log::Lines().empty()) << r.type << "\n" << Log::Dump();
    }
}

class BuildLocalNameTest : public EngineFixture {
  protected:
    CLumoraItem Item(const std::string& name, const std::string& type = "image/jpeg",
                     const std::string& purity = "sfw") {
        CLumoraItem it;
        it.Id = "id1";
        it.Name = name;
        it.FileType = type;
        it.Purity = purity;
        return it;
    }
    // The fallback name for the fixed clock (2026-12-09 15:30:45, day 343).
    std::string Fallback(const std::string& sub, int counter, const std::string& ext) {
        char name[64];
        std::snprintf(name, sizeof name, "i343153045%02d.%s", counter, ext.c_str());
        return sub.empty() ? In({name}) : In({sub, name});
    }
};

TEST_F(BuildLocalNameTest, ServiceNamesInPurityFolders) {
    struct Row {
        const char* name;
        const char* type;
        const char* purity;
        const char* sub;  // expected sub-folder ("" = the image folder itself)
        const char* file;
    } rows[] = {
        {"a:b?c.jpg", "image/jpeg", "sfw", "sfw", "a-b-c.jpg"},
        {"abc", "image/gif", "sfw", "sfw", "abc.gif"},
        {"abc", "IMAGE/JPEG", "nsfw", "nsfw", "abc.jpg"},
        {"a/b\\c&d?e<f>g|h:i*j\"k.png", "image/png", "sketchy", "sketchy", "a-b-c-d-e-f-g-h-i-j-k.png"},
        {"pic", "image/png", "sfw", "sfw", "pic.png"},
        {"clip", "video/mp4", "sfw", "sfw", "clip.mp4"},
        {"song", "audio/mpeg", "sfw", "sfw", "song.mp3"},
        {"pic.jpeg", "image/gif", "sfw", "sfw", "pic.jpeg"},  // a name with a dot keeps its own extension
        {"top.jpg", "image/jpeg", "", "", "top.jpg"},         // no purity: directly in the image folder
        {"x.jpg", "image/jpeg", "..", "other", "x.jpg"},      // unsafe purity texts stay inside
        {"y.jpg", "image/jpeg", "../../evil", "..-..-evil", "y.jpg"},
        {"line\r\nbreak.jpg", "image/jpeg", "sfw", "sfw", "line--break.jpg"},
    };
    for (const Row& r : rows) {
        Log::Clear();
        std::string path;
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_EQ(BuildLocalName(Item(r.name, r.type, r.purity), engine->ForTesting().Naming(), path), 1);
        }
        std::string expected = *r.sub ? In({r.sub, r.file}) : In({r.file});
        EXPECT_EQ(path, expected) << Show(r.name);
        EXPECT_TRUE(PathInsideFolder(path, folder)) << path;
        // The creation test leaves nothing behind; the purity folder exists.
        EXPECT_FALSE(FileExists(path)) << path;
        if (*r.sub) {
            EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(In({r.sub})))) << r.sub;
        }
        EXPECT_TRUE(Log::LinesStartingWith("BuildLocalName").empty()) << Log::Dump();
    }
    // Nothing was created next to the image folder.
    std::vector<std::string> outside = FilesIn(std::filesystem::path(folder).parent_path().string());
    EXPECT_EQ(std::count(outside.begin(), outside.end(), "evil"), 0);
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"..-..-evil", "nsfw", "other", "sfw", "sketchy"}));
}

TEST_F(BuildLocalNameTest, HostileNamesStayInTheirFolder) {
    // A NUL ends a name for the system while the string goes on: separators
    // after it once survived the cleaning on Windows and the file landed
    // outside the image folder. Control characters go first now, every
    // helper reads the whole string, and a path that would leave the folder
    // is never used.
    using namespace std::string_literals;
    struct Row {
        std::string name;
        const char* file;  // in the purity folder; null: the fallback name
        const char* log;   // the BuildLocalName line, if any
    } rows[] = {
        {"a\0\\..\\..\\..\\evil.jpg"s, "a--..-..-..-evil.jpg", nullptr},
        {"\0/../x.jpg"s, "--..-x.jpg", nullptr},
        {"b\0.jpg\0\\..\\x"s, "b-.jpg--..-x", nullptr},
        {"..", nullptr, "BuildLocalName(): file name leaves the image folder .., replaced by "},
    };
    for (const Row& r : rows) {
        Log::Clear();
        std::string path;
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_EQ(BuildLocalName(Item(r.name, "image/jpeg", "sfw"), engine->ForTesting().Naming(), path),
                      1);
        }
        EXPECT_EQ(path, r.file ? In({"sfw", r.file}) : Fallback("sfw", 0, "jpg")) << Show(r.name);
        EXPECT_TRUE(PathInsideFolder(path, folder)) << Show(path);
        EXPECT_EQ(path.find('\0'), std::string::npos) << Show(path);
        if (r.log)
            EXPECT_TRUE(Log::Has(r.log + path)) << Log::Dump();
        else
            EXPECT_TRUE(Log::LinesStartingWith("BuildLocalName").empty()) << Log::Dump();
    }
    // Nothing beside the image folder, and inside it only the purity folder.
    const std::string parent = std::filesystem::path(folder).parent_path().string();
    for (const std::string& n : FilesIn(parent)) EXPECT_EQ(n.find("evil"), std::string::npos) << n;
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"sfw"});
    EXPECT_EQ(FilesIn(In({"sfw"})), std::vector<std::string>{});
}

TEST_F(BuildLocalNameTest, EmptyNameTakesFallbackWithoutLog) {
    std::string path;
    {
        MutexLock held(engine->StateLockForTest());
        BuildLocalName(Item("", "image/jpeg", "sfw"), engine->ForTesting().Naming(), path);
    }
    EXPECT_EQ(path, Fallback("sfw", 0, "jpg"));
    {
        MutexLock held(engine->StateLockForTest());
        BuildLocalName(Item("", "image/webp", ""), engine->ForTesting().Naming(),
                       path);  // a type the table lacks
    }
    EXPECT_EQ(path, Fallback("", 0, "unknown"));
    EXPECT_TRUE(Log::LinesStartingWith("BuildLocalName").empty()) << Log::Dump();
}

TEST_F(BuildLocalNameTest, TakenNameGetsFallbackInSameFolder) {
    std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
    WriteBytes(In({"sfw", "abc.jpg"}), "old");
    std::string path;
    {
        MutexLock held(engine->StateLockForTest());
        BuildLocalName(Item("abc.jpg"), engine->ForTesting().Naming(), path);
    }
    EXPECT_EQ(path, Fallback("sfw", 0, "jpg"));
    EXPECT_TRUE(Log::Has("BuildLocalName(): file name already exists abc.jpg, replaced by " + path))
        << Log::Dump();
    EXPECT_EQ(ReadBytes(In({"sfw", "abc.jpg"})), "old");

    // A folder of that name counts as taken as well.
    std::filesystem::create_directories(std::filesystem::path(In({"sfw", "dir.jpg"})));
    Log::Clear();
    {
        MutexLock held(engine->StateLockForTest());
        BuildLocalName(Item("dir.jpg"), engine->ForTesting().Naming(), path);
    }
    EXPECT_EQ(path, Fallback("sfw", 0, "jpg"));
    EXPECT_EQ(Log::LinesStartingWith("BuildLocalName").size(), 1u) << Log::Dump();
}

TEST_F(BuildLocalNameTest, UncreatableNameGetsFallback) {
    // A device name is no file on Windows; it is refused on every build.
    std::string path;
    {
        MutexLock held(engine->StateLockForTest());
        BuildLocalName(Item("CON.jpg"), engine->ForTesting().Naming(), path);
    }
    EXPECT_EQ(path, Fallback("sfw", 0, "jpg"));
    EXPECT_TRUE(Log::Has("BuildLocalName(): File name can't be create CON.jpg, replaced by " + path))
        << Log::Dump();

    // A name the file system refuses.
    FaultyFiles faults;
    faults.failOpen = [](const std::string& p, const char*) {
        return p.find("refused") != std::string::npos;
    };
    FaultScope scope(faults);
    Log::Clear();
    {
        MutexLock held(engine->StateLockForTest());
        BuildLocalName(Item("refused.jpg"), engine->ForTesting().Naming(), path);
    }
    EXPECT_EQ(path, Fallback("sfw", 0, "jpg"));
    EXPECT_TRUE(Log::Has("BuildLocalName(): File name can't be create refused.jpg, replaced by " + path))
        << Log::Dump();
}

TEST_F(BuildLocalNameTest, FallbackCounterTakesFirstFreeSlot) {
    struct Row {
        int taken;  // candidates 00 .. taken-1 exist
        int expected;
    } rows[] = {{0, 0}, {1, 1}, {2, 2}, {12, 12}};
    std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
    int made = 0;
    for (const Row& r : rows) {
        for (; made < r.taken; ++made) WriteBytes(Fallback("sfw", made, "jpg"), "x");
        std::string path;
        {
            MutexLock held(engine->StateLockForTest());
            BuildFallbackName(Item("", "image/jpeg"), engine->ForTesting().Naming(), path);
        }
        EXPECT_EQ(path, Fallback("sfw", r.expected, "jpg")) << r.taken;
    }
}

TEST_F(BuildLocalNameTest, FallbackNeverReusesATakenName) {
    FaultyFiles faults;
    faults.existsOverride = [](const std::string&) { return true; };  // every candidate taken
    FaultScope scope(faults);
    std::string path = "before";
    // Candidate 999 is not taken as it is: the file there belongs to another
    // record or to the user. With every name taken there is none to give.
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(BuildFallbackName(Item("", "image/gif"), engine->ForTesting().Naming(), path), 0);
    }
    EXPECT_EQ(path, "");
    EXPECT_TRUE(Log::Has("BuildFallbackName: no free name in " + In({"sfw"}) + Sep())) << Log::Dump();
}

TEST_F(BuildLocalNameTest, StampFollowsTheLocalTime) {
    struct Row {
        int y, mo, d, h, mi, s;
        const char* name;
    } rows[] = {
        {2026, 1, 1, 0, 0, 0, "i00100000000.jpg"},
        {2026, 12, 9, 15, 30, 45, "i34315304500.jpg"},
        {2024, 12, 31, 23, 59, 59, "i36623595900.jpg"},  // leap year: day 366
        {2023, 12, 31, 9, 5, 7, "i36509050700.jpg"},
    };
    for (const Row& r : rows) {
        clock.date = MakeOleDate(r.y, r.mo, r.d, r.h, r.mi, r.s);
        std::string path;
        {
            MutexLock held(engine->StateLockForTest());
            BuildFallbackName(Item("", "image/jpeg", ""), engine->ForTesting().Naming(), path);
        }
        EXPECT_EQ(path, In({r.name}));
    }
}

TEST_F(BuildLocalNameTest, EmptyImageFolderGivesRelativePaths) {
    settings.ImgFolder.clear();
    FaultyFiles faults;  // keep the current folder untouched
    faults.existsOverride = [](const std::string&) { return false; };
    faults.failOpen = [](const std::string&, const char*) { return true; };
    FaultScope scope(faults);
    std::string path;
    {
        MutexLock held(engine->StateLockForTest());
        BuildLocalName(Item("abc.jpg"), engine->ForTesting().Naming(), path);
    }
    // The creation test fails here, so the fallback name is used, relative as well.
    EXPECT_EQ(path, "sfw" + Sep() + "i34315304500.jpg");
    EXPECT_EQ(faults.created, std::vector<std::string>({"sfw", "sfw"}));
    {
        MutexLock held(engine->StateLockForTest());
        BuildFallbackName(Item("", "image/jpeg", ""), engine->ForTesting().Naming(), path);
    }
    EXPECT_EQ(path, "i34315304500.jpg");
}

}  // namespace
}  // namespace ef
