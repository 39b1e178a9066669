// The cache list on its own: what a read of a folder's list and journal puts
// in memory, what it keeps aside and says, and what a write leaves on disk;
// and the piecewise reading and writing against the same bytes in one buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "engine/cache_list.h"
#include "support/file_fixture.h"

namespace ef {
namespace {

struct Rec {
    std::string id, path;  // path relative to the image folder
    int feed;
    bool operator==(const Rec& o) const { return id == o.id && path == o.path && feed == o.feed; }
    friend void PrintTo(const Rec& r, std::ostream* os) {
        *os << "{" << r.id << ", " << r.path << ", " << r.feed << "}";
    }
};

std::string PathIn(const std::string& folder, const std::string& rel) {
    return rel.empty() ? folder : folder + Sep() + rel;
}

// A list file's bytes: header, count line, blocks line, time, then the given
// lines (each ended by CR LF unless the last is told not to be).
std::string ListBytes(const std::string& count, const std::vector<std::string>& lines, bool lastLf = true) {
    std::string out = "[Veduta Lumora List v3]\r\n" + count + "\r\n0\r\n2026-12-09 14:57:42\r\n";
    for (size_t i = 0; i < lines.size(); ++i)
        out += lines[i] + (i + 1 < lines.size() || lastLf ? "\r\n" : "");
    return out;
}

class CacheListTest : public EngineFixture {
  protected:
    CCacheList list;

    std::string P(const std::string& rel) { return PathIn(folder, rel); }
    std::vector<Rec> InMemory() {
        std::vector<Rec> out;
        for (const CFileView d : list.Records()) {
            std::string path(d.Path);
            if (path.compare(0, folder.size() + 1, folder + Sep()) == 0)
                path = path.substr(folder.size() + 1);
            out.push_back(Rec{std::string(d.Id), path, d.FeedIndex});
        }
        return out;
    }
    void Touch(const std::string& rel) {
        std::filesystem::create_directories(std::filesystem::path(P(rel)).parent_path());
        WriteBytes(P(rel), "x");
    }
};

// One case: the files in the folder before the read, what memory holds after
// it, what it says, and what it leaves beside the list.
struct ReadCase {
    const char* name;
    std::function<std::string(const std::string& folder)> list;  // the list's bytes; empty: no list
    std::vector<std::string> journal;                            // "+id rel feed" / "-id rel feed"
    std::vector<std::string> files;  // image files there (a journal entry asks the disk)
    std::vector<Rec> records;
    bool dirty;
    int journalEntries;
    const char* logLine;  // the start of a line the read logs (empty: none asked for)
    bool keptAside;       // a copy or the damaged list is kept as vdt_vd_files.bad1
    bool listKept;        // the list file is still there after the read
};

TEST_F(CacheListTest, ReadsAFolder) {
    const ReadCase cases[] = {
        {"clean read",
         [](const std::string& f) {
             return ListBytes("2", {"a", PathIn(f, "sfw/a.jpg"), "0", "b", PathIn(f, "nsfw/b.png"), "1"});
         },
         {},
         {},
         {{"a", "sfw/a.jpg", 0}, {"b", "nsfw/b.png", 1}},
         false,
         0,
         "",
         false,
         true},
        {"damaged lines salvaged",
         // A line too many after the first record: the rest is out of step.
         [](const std::string& f) {
             return ListBytes("3", {"a", PathIn(f, "sfw/a.jpg"), "0", "garbage", "b", PathIn(f, "sfw/b.jpg"),
                                    "1", "c", PathIn(f, "sfw/c.jpg"), "2"});
         },
         {},
         {},
         {{"a", "sfw/a.jpg", 0}, {"b", "sfw/b.jpg", 1}, {"c", "sfw/c.jpg", 2}},
         false,
         0,
         "ReadLocalFileList: 2 records recovered",
         true,
         true},
        {"wrong header salvaged",
         [](const std::string& f) {
             return "[Some Other List]\r\nx\r\n" + std::string("a\r\n") + PathIn(f, "sfw/a.jpg") +
                    "\r\n4\r\n";
         },
         {},
         {},
         {{"a", "sfw/a.jpg", 4}},
         false,
         0,
         "ReadLocalFileList: wrong file header",
         true,
         false},
        {"journal replayed",
         [](const std::string& f) {
             return ListBytes("2", {"a", PathIn(f, "sfw/a.jpg"), "0", "b", PathIn(f, "sfw/b.jpg"), "1"});
         },
         {"+c sfw/c.jpg 2", "-a sfw/a.jpg 0", "+d sfw/d.jpg 3"},
         {"sfw/b.jpg", "sfw/c.jpg"},  // d never got its name
         {{"b", "sfw/b.jpg", 1}, {"c", "sfw/c.jpg", 2}},
         true,
         3,
         "ReadLocalFileList: journal replayed (3 entries, 2 changes)",
         false,
         true},
        {"one record salvaged",
         // Counts of one read in the singular.
         [](const std::string& f) {
             return ListBytes(
                 "2", {"a", PathIn(f, "sfw/a.jpg"), "0", "garbage", "b", PathIn(f, "sfw/b.jpg"), "1"});
         },
         {"+c sfw/c.jpg 2"},
         {"sfw/c.jpg"},
         {{"a", "sfw/a.jpg", 0}, {"b", "sfw/b.jpg", 1}, {"c", "sfw/c.jpg", 2}},
         true,
         1,
         "ReadLocalFileList: 1 record recovered",
         true,
         true},
        {"one journal entry",
         [](const std::string& f) {
             return ListBytes("1", {"a", PathIn(f, "sfw/a.jpg"), "0"});
         },
         {"+c sfw/c.jpg 2"},
         {"sfw/a.jpg", "sfw/c.jpg"},
         {{"a", "sfw/a.jpg", 0}, {"c", "sfw/c.jpg", 2}},
         true,
         1,
         "ReadLocalFileList: journal replayed (1 entry, 1 change)",
         false,
         true},
        {"journal without a list",
         [](const std::string&) { return std::string(); },
         {"+c sfw/c.jpg 2"},
         {"sfw/c.jpg"},
         {{"c", "sfw/c.jpg", 2}},
         true,
         1,
         "ReadLocalFileList: file list not found",
         false,
         false},
        {"count above the records",
         [](const std::string& f) {
             return ListBytes("5", {"a", PathIn(f, "sfw/a.jpg"), "0", "b", PathIn(f, "sfw/b.jpg"), "1"});
         },
         {},
         {},
         {{"a", "sfw/a.jpg", 0}, {"b", "sfw/b.jpg", 1}},
         false,
         0,
         "ReadLocalFileList: the file ends after 2 of 5 records",
         false,
         true},
        {"records of another folder",
         [](const std::string& f) {
             return ListBytes(
                 "2", {"a", PathIn(f, "sfw/a.jpg"), "0", "z", f + "_elsewhere" + Sep() + "z.jpg", "0"});
         },
         {},
         {},
         {{"a", "sfw/a.jpg", 0}},
         false,
         0,
         "ReadLocalFileList: record outside the folder dropped ",
         false,
         true},
        {"last line cut",
         [](const std::string& f) {
             return ListBytes("2", {"a", PathIn(f, "sfw/a.jpg"), "0", "b", PathIn(f, "sfw/b.jpg"), "1"},
                              false);
         },
         {},
         {},
         {{"a", "sfw/a.jpg", 0}, {"b", "sfw/b.jpg", 1}},
         false,
         0,
         "ReadLocalFileList: damaged list (the last line is cut) copied to ",
         true,
         true},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(std::filesystem::path(folder));
        std::filesystem::create_directories(std::filesystem::path(folder));
        Log::Clear();
        list = CCacheList();
        const std::string bytes = c.list(folder);
        if (!bytes.empty()) WriteBytes(ListPath(), bytes);
        for (const std::string& f : c.files) Touch(f);
        if (!c.journal.empty()) {
            std::string journal;
            for (const std::string& e : c.journal) {
                std::istringstream in(e.substr(1));
                std::string id, rel;
                int feed = 0;
                in >> id >> rel >> feed;
                journal += statefmt::EncodeJournalRecord(e[0], CFileData(P(rel), id, feed));
            }
            int error = 0;
            ASSERT_TRUE(CCacheList::AppendJournal(folder, journal, &error)) << error;
        }

        const CCacheList::ReadResult read = list.Read(folder, true);
        EXPECT_TRUE(read.read);
        EXPECT_EQ(list.GetStatus(), CCacheList::kRead);
        EXPECT_EQ(InMemory(), c.records);
        EXPECT_EQ(list.Dirty(), c.dirty);
        EXPECT_EQ(list.JournalEntries(), c.journalEntries);
        if (*c.logLine) {
            EXPECT_FALSE(Log::LinesStartingWith(c.logLine).empty()) << Log::Dump();
        }
        const std::string aside = In({"vdt_vd_files.bad1"});
        EXPECT_EQ(FileExists(aside), c.keptAside);
        // What is kept aside is the list as it was, byte for byte.
        if (c.keptAside) {
            EXPECT_EQ(Show(ReadBytes(aside)), Show(bytes));
        }
        EXPECT_EQ(FileExists(ListPath()), c.listKept);
        // A damaged list is written again at the next save.
        EXPECT_EQ(list.MustWrite(), c.keptAside);
    }
}

TEST_F(CacheListTest, OneWriteFoldsTheJournal) {
    WriteBytes(ListPath(), ListBytes("2", {"a", P("sfw/a.jpg"), "0", "b", P("sfw/b.jpg"), "1"}));
    Touch("sfw/b.jpg");
    Touch("sfw/c.jpg");
    int error = 0;
    ASSERT_TRUE(
        CCacheList::AppendJournal(folder,
                                  statefmt::EncodeJournalRecord('-', CFileData(P("sfw/a.jpg"), "a", 0)) +
                                      statefmt::EncodeJournalRecord('+', CFileData(P("sfw/c.jpg"), "c", 2)),
                                  &error));
    ASSERT_TRUE(list.Read(folder, true).read);
    ASSERT_EQ(list.JournalEntries(), 2);
    int onDisk = 0;
    ASSERT_TRUE(CCacheList::CountOnDisk(folder, &onDisk));
    EXPECT_EQ(onDisk, 2);

    ASSERT_TRUE(list.Write(folder, true, true));
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"sfw", "vdt_vd_files.lst"}));
    EXPECT_EQ(list.JournalEntries(), 0);
    // Nothing is due any more once the change flag is down: the list on
    // disk is memory.
    list.SetDirty(false);
    EXPECT_FALSE(list.SaveDue(ListSave::kNow));

    CCacheList again;
    Log::Clear();
    ASSERT_TRUE(again.Read(folder, true).read);
    EXPECT_TRUE(Log::LinesStartingWith("ReadLocalFileList: journal").empty()) << Log::Dump();
    std::vector<Rec> back;
    for (const CFileView d : again.Records())
        back.push_back(Rec{std::string(d.Id), std::string(d.Path), d.FeedIndex});
    EXPECT_EQ(back, (std::vector<Rec>{{"b", P("sfw/b.jpg"), 1}, {"c", P("sfw/c.jpg"), 2}}));
}

// The paths a folder's list and journal on disk name, as they are read (no
// list of them is held): records of another folder left out, the journal's
// after the list's.
TEST_F(CacheListTest, PathsOnDiskAreTheListsAndTheJournals) {
    WriteBytes(ListPath(), ListBytes("3", {"a", P("sfw/a.jpg"), "0", "x", "/elsewhere/x.jpg", "0", "b",
                                           P("odd/b.jpg"), "1"}));
    int error = 0;
    ASSERT_TRUE(CCacheList::AppendJournal(
        folder, statefmt::EncodeJournalRecord('+', CFileData(P("new/c.jpg"), "c", 2)), &error));
    std::vector<std::string> paths;
    CCacheList::ForEachPathOnDisk(folder, [&](const std::string& p) { paths.push_back(p); });
    EXPECT_EQ(paths, (std::vector<std::string>{P("sfw/a.jpg"), P("odd/b.jpg"), P("new/c.jpg")}));
}

// A list of many pieces: what is written is the records one after another,
// and what is read back is what was written.
TEST_F(CacheListTest, ListOfManyPiecesRoundTrips) {
    const int n = 3000;  // about 100 bytes a record: several pieces of 64 KiB
    std::string expected = "[Veduta Lumora List v3]\r\n" + std::to_string(n) + "\r\n0\r\n" +
                           plat::OleDateToText(kOleDate2000) + "\r\n";
    for (int i = 0; i < n; ++i) {
        const std::string id = "id" + std::to_string(i);
        const std::string path = P("sfw/" + std::string(60 + i % 37, 'p') + std::to_string(i) + ".jpg");
        list.Records().AddTail(path, id, i % 5);
        expected += id + "\r\n" + path + "\r\n" + std::to_string(i % 5) + "\r\n";
    }
    ASSERT_GT(expected.size(), 3 * statefmt::kListChunk);
    ASSERT_TRUE(list.Write(folder, true, true));
    EXPECT_EQ(ReadBytes(ListPath()), expected);

    CCacheList back;
    ASSERT_TRUE(back.Read(folder, true).read);
    ASSERT_EQ(back.Records().GetCount(), n);
    auto a = list.Records().begin();
    for (const CFileView d : back.Records()) {
        ASSERT_EQ(d.Path, (*a).Path);
        ASSERT_EQ(d.Id, (*a).Id);
        ASSERT_EQ(d.FeedIndex, (*a).FeedIndex);
        ++a;
    }
}

// Records that cannot be written (a line break or tab in the id or path)
// are left out wherever they are among the pieces, and the count line says
// how many were written; records after them are written whole and in order.
TEST_F(CacheListTest, RecordsThatDoNotFitAreLeftOutAcrossPieces) {
    const int n = 6000;  // about 150 bytes a record: several pieces of the writer
    struct Case {
        const char* name;
        std::vector<int> bad;  // positions of records that cannot be written
    } cases[] = {
        {"none", {}},
        {"the first", {0}},
        {"the last", {n - 1}},
        {"two in a row", {10, 11}},
        {"many, across the pieces' ends", {1, 2, 3, 1700, 1701, 1702, 1703, 3400, 3401, 5000, 5998, 5999}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Log::Clear();
        CCacheList out;
        std::string records;
        int written = 0;
        for (int i = 0; i < n; ++i) {
            const bool bad = std::find(c.bad.begin(), c.bad.end(), i) != c.bad.end();
            const std::string id = (bad && i % 2 ? "id\r\n" : "id") + std::to_string(i);
            const std::string path = P("sfw/" + std::string(100 + i % 41, 'q') +
                                       (bad && i % 2 == 0 ? "\t" : "") + std::to_string(i) + ".jpg");
            out.Records().AddTail(path, id, i % 12 - 1);
            if (bad) continue;
            records += id + "\r\n" + path + "\r\n" + std::to_string(i % 12 - 1) + "\r\n";
            ++written;
        }
        const std::string expected = "[Veduta Lumora List v3]\r\n" + std::to_string(written) + "\r\n0\r\n" +
                                     plat::OleDateToText(kOleDate2000) + "\r\n" + records;
        ASSERT_GT(expected.size(), 3 * statefmt::kListWritePiece);
        ASSERT_TRUE(out.Write(folder, true, true));
        EXPECT_TRUE(ReadBytes(ListPath()) == expected) << "the list differs from the expected bytes";
        EXPECT_EQ(Log::LinesStartingWith("WriteLocalFileList: record not written").size(), c.bad.size())
            << Log::Dump();
        EXPECT_EQ(out.Records().GetCount(), n);
    }
}

// Whether a text fits a list line is decided while it is copied: a control
// character anywhere (in the first, a middle or the last, overlapping block
// of sixteen, or in a short text) leaves the record out, other bytes do not.
TEST_F(CacheListTest, EachControlCharacterLeavesItsRecordOut) {
    const std::string base(40, 'a');  // blocks at 0, 16 and the tail at 24
    struct Case {
        const char* name;
        std::string text;
        bool fits;
    } cases[] = {
        {"plain", base, true},
        {"a space and bytes above 0x7F", base.substr(0, 20) + " \x80\xFF~" + base.substr(24), true},
        {"tab first", "\t" + base.substr(1), false},
        {"line feed at 15", base.substr(0, 15) + "\n" + base.substr(16), false},
        {"0x1F at 16", base.substr(0, 16) + "\x1F" + base.substr(17), false},
        {"DEL at 30", base.substr(0, 30) + "\x7F" + base.substr(31), false},
        {"carriage return last", base.substr(0, 39) + "\r", false},
        {"DEL in a short text", "ab\x7F", false},
        {"NUL in a text of sixteen", std::string("0123456789abcde\0", 16), false},
        {"the longest line", std::string(statefmt::kListLineMax - 2, 'b'), true},
        {"one byte longer", std::string(statefmt::kListLineMax - 1, 'b'), false},
    };
    for (const Case& c : cases) {
        for (int where = 0; where < 2; ++where) {  // in the id, in the path
            SCOPED_TRACE(std::string(c.name) + (where ? " (path)" : " (id)"));
            CFileList records;
            records.AddTail("p0", "i0", 1);
            if (where)
                records.AddTail(c.text, "i1", 2);
            else
                records.AddTail("p1", c.text, 2);
            records.AddTail("p2", "i2", 3);
            std::vector<CFileData> skipped;
            const std::string text = statefmt::EncodeList(records, "T", &skipped);
            const std::string first = "i0\r\np0\r\n1\r\n", last = "i2\r\np2\r\n3\r\n";
            const std::string middle = where ? "i1\r\n" + c.text + "\r\n2\r\n" : c.text + "\r\np1\r\n2\r\n";
            const std::string expected = "[Veduta Lumora List v3]\r\n" + std::string(c.fits ? "3" : "2") +
                                         "\r\n0\r\nT\r\n" + first + (c.fits ? middle : "") + last;
            EXPECT_TRUE(text == expected) << "the list differs from the expected bytes";
            EXPECT_EQ(skipped.size(), c.fits ? 0u : 1u);
        }
    }
}

// The piecewise reader gives the lines the in-memory splitter gives, where
// lines cross a piece's end and where one is longer than the limit.
TEST_F(CacheListTest, PiecewiseLinesMatchTheSplitter) {
    const size_t limit = statefmt::kListLineMax;
    const size_t piece = statefmt::kListChunk;
    struct Bytes {
        const char* name;
        std::string text;
    };
    // Short lines up to three bytes before a piece's end.
    std::string filler;
    while (filler.size() + 16 <= piece - 3) filler += "0123456789\r\n";
    filler += std::string(piece - 3 - filler.size() - 2, 'y') + "\r\n";
    const Bytes cases[] = {
        {"short lines, LF and CR LF", "one\r\ntwo\nthree\r\n\r\nfour"},
        {"a CR LF split by a piece's end", filler + "ab\r\nnext\r\n"},
        {"a line across a piece's end", filler + "abcdefghij\r\nafter\r\n"},
        {"a line longer than the limit", std::string(limit + 10, 'L') + "\r\nafter\r\n"},
        {"a line longer than a piece", std::string(3 * piece + 7, 'M') + "\r\nafter\n"},
        {"a long line at the end without LF", "x\r\n" + std::string(2 * piece, 'N')},
        {"a long line starting near a piece's end", filler + std::string(limit + 100, 'L') + "\r\nafter\r\n"},
        {"lines at the limit", std::string(limit - 2, 'E') + "\r\n" + std::string(limit - 1, 'F') + "\n" +
                                   std::string(limit, 'G') + "\n" + std::string(limit - 1, 'H') + "\r\n"},
        {"empty", ""},
    };
    for (const Bytes& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = In({"lines.txt"});
        WriteBytes(path, c.text);
        statefmt::LineSplitter memory(c.text.data(), c.text.size(), limit);
        CFileLines file(limit);
        int error = 0;
        ASSERT_TRUE(file.Open(path, &error)) << error;
        EXPECT_EQ(file.Size(), c.text.size());
        EXPECT_EQ(file.EndsCut(), memory.EndsCut());
        int k = 0;
        for (;; ++k) {
            std::string a, b;
            bool cutA = false, cutB = false;
            const bool moreA = memory.Next(&a, &cutA);
            const bool moreB = file.Next(&b, &cutB);
            ASSERT_EQ(moreB, moreA) << "line " << k;
            if (!moreA) break;
            ASSERT_EQ(b, a) << "line " << k;
            ASSERT_EQ(cutB, cutA) << "line " << k;
            ASSERT_EQ(file.LastHadLineFeed(), memory.LastHadLineFeed()) << "line " << k;
        }
        EXPECT_FALSE(file.Failed());
    }
}

}  // namespace
}  // namespace ef
