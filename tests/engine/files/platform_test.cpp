// The platform layer of the engine's files: OLE date arithmetic and text,
// file operations with their error codes, folder listing, and the profile
// writer (the same expected bytes for the system's writer and the direct one).
#include <gtest/gtest.h>

#include <cmath>

#include "support/file_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include "platform/profile.h"

namespace ef {
namespace {

const bool kWindows = plat::kPathSep == '\\';

TEST(OleDate, MakeAndSplit) {
    struct Row {
        int y, mo, d, h, mi, s;
        double ole;
        int dayOfYear;
    } rows[] = {
        {1899, 12, 30, 0, 0, 0, 0.0, 364},
        {1899, 12, 29, 6, 0, 0, -1.25, 363},  // before the epoch the fraction still counts forward
        {1900, 1, 1, 0, 0, 0, 2.0, 1},
        {1900, 3, 1, 12, 0, 0, 61.5, 60},  // 1900 is no leap year here
        {2000, 1, 1, 0, 0, 0, kOleDate2000, 1},
        {2000, 2, 29, 0, 0, 0, 36585.0, 60},
        {2024, 12, 31, 18, 0, 0, 45657.75, 366},
        {2026, 12, 9, 14, 57, 42, 46365.0 + (14 * 3600 + 57 * 60 + 42) / 86400.0, 343},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.ole);
        EXPECT_DOUBLE_EQ(MakeOleDate(r.y, r.mo, r.d, r.h, r.mi, r.s), r.ole);
        OleDateParts p = SplitOleDate(r.ole);
        EXPECT_EQ(p.year, r.y);
        EXPECT_EQ(p.month, r.mo);
        EXPECT_EQ(p.day, r.d);
        EXPECT_EQ(p.hour, r.h);
        EXPECT_EQ(p.minute, r.mi);
        EXPECT_EQ(p.second, r.s);
        EXPECT_EQ(p.dayOfYear, r.dayOfYear);
    }
}

TEST(OleDate, SplitRoundsToTheSecond) {
    struct Row {
        double ole;
        int y, mo, d, h, mi, s;
    } rows[] = {
        {36526.0 + 0.4 / 86400, 2000, 1, 1, 0, 0, 0},     {36526.0 + 0.6 / 86400, 2000, 1, 1, 0, 0, 1},
        {36526.0 - 0.3 / 86400, 2000, 1, 1, 0, 0, 0},      // just below midnight rounds up to it
        {36525.0 + 86399.7 / 86400, 2000, 1, 1, 0, 0, 0},  // carries into the next day
        {36892.0 - 0.2 / 86400, 2001, 1, 1, 0, 0, 0},      // and into the next year
    };
    for (const Row& r : rows) {
        OleDateParts p = SplitOleDate(r.ole);
        EXPECT_EQ((std::vector<int>{p.year, p.month, p.day, p.hour, p.minute, p.second}),
                  (std::vector<int>{r.y, r.mo, r.d, r.h, r.mi, r.s}))
            << r.ole;
    }
}

TEST(OleDate, TextRoundTrip) {
    for (double d : {kOleDate2000, MakeOleDate(2026, 12, 9, 14, 57, 42), MakeOleDate(1999, 7, 4, 0, 0, 1),
                     MakeOleDate(2031, 2, 28, 23, 59, 59), MakeOleDate(2026, 6, 1, 0, 0, 0)}) {
        std::string text = plat::OleDateToText(d);
        double back = -1;
        ASSERT_TRUE(plat::TextToOleDate(text, &back)) << text;
        EXPECT_NEAR(back, d, 0.5 / 86400) << text;
    }
}

TEST(OleDate, TextForms) {
    double when = MakeOleDate(2026, 12, 9, 14, 57, 42);
    if (kWindows) {
        // The user's locale (English under the test prefix); midnight shows the date alone.
        EXPECT_EQ(plat::OleDateToText(when), "12/9/2026 2:57:42 PM");
        EXPECT_EQ(plat::OleDateToText(kOleDate2000), "1/1/2000");
    } else {
        EXPECT_EQ(plat::OleDateToText(when), "2026-12-09 14:57:42");
        EXPECT_EQ(plat::OleDateToText(kOleDate2000), "2000-01-01 00:00:00");
        // Only the fixed form is read natively.
        for (const char* bad : {"12/9/2026 2:57:42 PM", "2026-13-01 00:00:00", "2026-02-30 00:00:00",
                                "2026-01-01 24:00:00", "2026-01-01 00:00:00 x", "2026-01-01"})
            EXPECT_FALSE(plat::TextToOleDate(bad, nullptr)) << bad;
        EXPECT_TRUE(plat::TextToOleDate("2024-02-29 00:00:00", nullptr));
    }
    for (const char* bad : {"", "garbage", "99:99"}) EXPECT_FALSE(plat::TextToOleDate(bad, nullptr)) << bad;
}

TEST(OleDate, LocalNowIsARecentDate) {
    double now = plat::LocalNowOle();
    EXPECT_GT(now, MakeOleDate(2024, 1, 1, 0, 0, 0));
    EXPECT_LT(now, MakeOleDate(2200, 1, 1, 0, 0, 0));
}

class FileOpsTest : public EngineFixture {};

// Why a list could not be opened decides whether it is missing (an empty
// cache) or must be read again later: the codes must be the platform's.
TEST_F(FileOpsTest, OpenErrorsAndFreeSpace) {
    WriteBytes(In({"there.txt"}), "x");
    struct Row {
        const char* what;
        std::string path;
        bool opens;
        int error;
    } rows[] = {
        {"a file that is there", In({"there.txt"}), true, 0},
        {"a missing file", In({"nope.txt"}), false, plat::kErrFileNotFound},
        {"a file in a missing folder", In({"nodir", "a.txt"}), false, plat::kErrPathNotFound},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        int e = -1;
        FILE* f = plat::OpenFileChecked(r.path, "rb", &e);
        EXPECT_EQ(f != nullptr, r.opens);
        if (f) std::fclose(f);
        if (!r.opens) {
            EXPECT_EQ(e, r.error);
        }
    }
#ifdef _WIN32
    // A file another program holds without sharing: the sharing violation.
    HANDLE held = CreateFileA(In({"there.txt"}).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    int heldError = -1;
    EXPECT_EQ(plat::OpenFileChecked(In({"there.txt"}), "rb", &heldError), nullptr);
    EXPECT_EQ(heldError, plat::kErrSharingViolation);
    CloseHandle(held);
#endif
    uint64_t available = 0, total = 0;
    int e = 0;
    ASSERT_TRUE(plat::FreeSpace(folder, &available, &total, &e)) << e;
    EXPECT_GT(total, 0u);
    EXPECT_LE(available, total);
    EXPECT_FALSE(plat::FreeSpace(In({"nodir"}), &available, &total, &e));
}

TEST_F(FileOpsTest, ErrorCodes) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(In({"dir"})));
    WriteBytes(In({"file.txt"}), "x");
    WriteBytes(In({"target.txt"}), "old");
    WriteBytes(In({"source.txt"}), "new");
    int e = 0;
    struct Row {
        const char* what;
        std::function<bool(int*)> op;
        bool ok;
        int error;
    } rows[] = {
        {"delete a missing file", [&](int* x) { return plat::DeleteFileAt(In({"nope.txt"}), x); }, false, 2},
        {"delete in a missing folder",
         [&](int* x) {
             return plat::DeleteFileAt(In({"nodir", "a.txt"}), x);
         },
         false, 3},
        {"delete a folder", [&](int* x) { return plat::DeleteFileAt(In({"dir"}), x); }, false, 5},
        {"create an existing folder", [&](int* x) { return plat::CreateFolder(In({"dir"}), x); }, false, 183},
        {"create below a missing folder",
         [&](int* x) {
             return plat::CreateFolder(In({"nodir", "sub"}), x);
         },
         false, 3},
        {"move a missing file",
         [&](int* x) { return plat::MoveReplace(In({"nope.txt"}), In({"t2.txt"}), x); }, false, 2},
        {"move over an existing file",
         [&](int* x) { return plat::MoveReplace(In({"source.txt"}), In({"target.txt"}), x); }, true, 0},
        {"create a folder", [&](int* x) { return plat::CreateFolder(In({"new"}), x); }, true, 0},
        {"delete a file", [&](int* x) { return plat::DeleteFileAt(In({"file.txt"}), x); }, true, 0},
    };
    for (const Row& r : rows) {
        e = 0;
        EXPECT_EQ(r.op(&e), r.ok) << r.what;
        if (!r.ok) {
            EXPECT_EQ(e, r.error) << r.what;
        }
    }
    EXPECT_EQ(ReadBytes(In({"target.txt"})), "new");
    EXPECT_FALSE(FileExists(In({"source.txt"})));
    EXPECT_FALSE(FileExists(In({"file.txt"})));
    EXPECT_TRUE(plat::PathExists(In({"new"})));
    EXPECT_TRUE(plat::PathExists(In({"target.txt"})));
    EXPECT_FALSE(plat::PathExists(In({"nope.txt"})));
    EXPECT_FALSE(plat::PathExists(""));
    EXPECT_EQ(plat::OpenFile(In({"nope.txt"}), "rb"), nullptr);
}

TEST_F(FileOpsTest, FlushCloseWritesTheFile) {
    FILE* f = plat::OpenFile(In({"f.bin"}), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite("a\r\nb", 1, 4, f);
    EXPECT_TRUE(plat::FlushClose(f));
    EXPECT_EQ(ReadBytes(In({"f.bin"})), "a\r\nb");  // binary: no line-end translation
}

TEST_F(FileOpsTest, ListFolder) {
    std::filesystem::create_directories(std::filesystem::path(In({"sub"})));
    WriteBytes(In({"a.txt"}), "x");
    WriteBytes(In({"sub", "inner.txt"}), "x");
    std::vector<plat::FolderEntry> entries;
    ASSERT_TRUE(plat::ListFolder(folder, &entries));
    std::vector<std::string> seen;
    for (const auto& e : entries) seen.push_back(e.name + (e.isFolder ? "/" : ""));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"a.txt", "sub/"}));
    entries.clear();
    EXPECT_FALSE(plat::ListFolder(In({"missing"}), &entries));
    EXPECT_TRUE(entries.empty());
}

// Only the names ending in the suffix, whatever their case; a folder so named
// is handed over as a folder; nothing found in a folder that is there is not
// a failure.
TEST_F(FileOpsTest, ForEachFolderEntryEndingIn) {
    std::filesystem::create_directories(std::filesystem::path(In({"dir.__t"})));
    for (const char* name : {"a.__t", "B.__T", "c.__tx", "d__t", "e.jpg", "f.__t.jpg", "longer name.__t"})
        WriteBytes(In({name}), "x");
    std::vector<std::string> seen;
    ASSERT_TRUE(plat::ForEachFolderEntryEndingIn(folder, ".__t", [&](const plat::FolderEntry& e) {
        seen.push_back(e.name + (e.isFolder ? "/" : ""));
    }));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"B.__T", "a.__t", "dir.__t/", "longer name.__t"}));
    seen.clear();
    std::filesystem::create_directories(std::filesystem::path(In({"empty"})));
    EXPECT_TRUE(plat::ForEachFolderEntryEndingIn(
        In({"empty"}), ".__t", [&](const plat::FolderEntry& e) { seen.push_back(e.name); }));
    EXPECT_FALSE(plat::ForEachFolderEntryEndingIn(
        In({"missing"}), ".__t", [&](const plat::FolderEntry& e) { seen.push_back(e.name); }));
    EXPECT_TRUE(seen.empty());
}

// UTF-16LE bytes with the byte order mark.
std::string U16(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

class ProfileTest : public EngineFixture {};

TEST_F(ProfileTest, UpdatesLikeTheSystemWriter) {
    struct Step {
        const char16_t* section;
        const char16_t* key;
        const char16_t* value;
    };
    struct Row {
        const char* what;
        std::string before;  // empty: no file
        std::vector<Step> steps;
        std::string after;
    } rows[] = {
        {"side file layout",
         U16(u"[Enable]\r\n"),
         {{u"Enable", u"Description", u"1"}, {u"Description", u"Text", u"a b\tc  "}},
         U16(u"[Enable]\r\nDescription=1\r\n[Description]\r\nText=a b\tc  \r\n")},
        {"leading blanks of a value are dropped",
         U16(u"[Enable]\r\n"),
         {{u"Enable", u"K", u"  v"}},
         U16(u"[Enable]\r\nK=v\r\n")},
        {"blank lines dropped, keys trimmed, values replaced in place",
         U16(u"\r\n[Enable]\r\n foo = bar \r\n\r\n;note\r\n[Description]\r\nText=old\r\nMore=1\r\n\r\n"),
         {{u"Enable", u"Description", u"1"}, {u"Description", u"Text", u"new"}, {u"New", u"K", u"v"}},
         U16(u"[Enable]\r\nfoo=bar\r\n;note\r\nDescription=1\r\n[Description]\r\nText=new\r\nMore=1\r\n[New]"
             u"\r\nK=v\r\n")},
        {"names match ignoring case",
         U16(u"[ENABLE]\r\nDESCRIPTION=0\r\n"),
         {{u"Enable", u"Description", u"1"}},
         U16(u"[ENABLE]\r\nDESCRIPTION=1\r\n")},
        {"a new file is narrow text",
         "",
         {{u"Enable", u"Description", u"1"}, {u"Description", u"Text", u"x"}},
         "[Enable]\r\nDescription=1\r\n[Description]\r\nText=x\r\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string path = In({"p.vprop"});
        std::error_code ec;
        std::filesystem::remove(std::filesystem::path(path), ec);
        if (!r.before.empty()) WriteBytes(path, r.before);
        for (const Step& s : r.steps) EXPECT_TRUE(plat::WriteProfileKey(path, s.section, s.key, s.value));
        EXPECT_EQ(Show(ReadBytes(path)), Show(r.after));
    }
}

TEST_F(ProfileTest, RelativePathMeansTheCurrentFolder) {
    namespace fs = std::filesystem;
    fs::path previous = fs::current_path();
    fs::current_path(fs::path(folder));
    bool ok = plat::WriteProfileKey("rel.vprop", u"S", u"K", u"V");
    bool here = FileExists(In({"rel.vprop"}));
    fs::current_path(previous);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(here);
}

TEST_F(ProfileTest, MissingFolderFails) {
    EXPECT_FALSE(plat::WriteProfileKey(In({"missing", "x.vprop"}), u"S", u"K", u"V"));
}

}  // namespace
}  // namespace ef
