// The cache list and paging state files: bytes written, versions and damaged
// files read, and writes that fail halfway.
#include <gtest/gtest.h>

#include "support/file_fixture.h"

namespace ef {
namespace {

class StateFilesTest : public EngineFixture {
  protected:
    void AddRecord(const std::string& id, const std::string& path, int feed) {
        engine->ForTesting().CacheList().Records().AddTail(CFileData(path, id, feed));
    }
    std::string DateLine(double date) { return plat::OleDateToText(date) + "\r\n"; }
    struct Rec {
        std::string id, path;
        int feed;
        bool operator==(const Rec& o) const { return id == o.id && path == o.path && feed == o.feed; }
        friend void PrintTo(const Rec& r, std::ostream* os) {
            *os << "{" << r.id << ", " << r.path << ", " << r.feed << "}";
        }
    };
    std::vector<Rec> Records() {
        std::vector<Rec> out;
        for (const CFileData& d : engine->ForTesting().CacheList().Records())
            out.push_back(Rec{d.Id, d.Path, d.FeedIndex});
        return out;
    }
};

TEST_F(StateFilesTest, WritesVersion3ByteForByte) {
    double when = MakeOleDate(2026, 12, 9, 14, 57, 42);
    engine->ForTesting().CacheList().LastTime().m_dt = when;
    AddRecord("94x38z", In({"sfw", "lumora-94x38z.jpg"}), 0);
    AddRecord("k7q1", In({"nsfw", "i34315304500.png"}), 2);
    AddRecord("old", In({"legacy.jpg"}), -1);
    engine->ForTesting().CacheList().SetDirty(1);
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }

    std::string expected = "[Veduta Lumora List v3]\r\n3\r\n0\r\n" + DateLine(when) + "94x38z\r\n" +
                           In({"sfw", "lumora-94x38z.jpg"}) + "\r\n0\r\nk7q1\r\n" +
                           In({"nsfw", "i34315304500.png"}) + "\r\n2\r\nold\r\n" + In({"legacy.jpg"}) +
                           "\r\n-1\r\n";
    EXPECT_EQ(Show(ReadBytes(ListPath())), Show(expected));
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 1);  // the writer leaves the flag to its callers
    // No temporary file is left beside it.
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"vdt_vd_files.lst"});
}

TEST_F(StateFilesTest, EmptyCacheIsFourLines) {
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    EXPECT_EQ(Show(ReadBytes(ListPath())),
              Show("[Veduta Lumora List v3]\r\n0\r\n0\r\n" + DateLine(kOleDate2000)));
}

TEST_F(StateFilesTest, WritesToTheFolderGiven) {
    std::string other = In({"other"});
    std::filesystem::create_directories(std::filesystem::path(other));
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways, other.c_str());
        engine->WritePagingState(other.c_str());
    }
    EXPECT_FALSE(FileExists(ListPath()));
    EXPECT_TRUE(FileExists(other + Sep() + "vdt_vd_files.lst"));
    EXPECT_TRUE(FileExists(other + Sep() + "vdt_vd_paging.lst"));
    // An empty text means the image folder, as an absent one does.
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways, "");
    }
    EXPECT_TRUE(FileExists(ListPath()));
}

TEST_F(StateFilesTest, RoundTripKeepsRecordsAndTime) {
    double when = MakeOleDate(2025, 3, 1, 8, 0, 5);
    engine->ForTesting().CacheList().LastTime().m_dt = when;
    for (int i = 0; i < 7; ++i)
        AddRecord("id" + std::to_string(i), In({"sfw", std::to_string(i) + ".jpg"}), i % 3);
    std::vector<Rec> before = Records();
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    engine->ForTesting().CacheList().LastTime().m_dt = 1.0;
    engine->ForTesting().CacheList().SetDirty(1);
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(Records(), before);
    EXPECT_EQ(engine->ForTesting().CacheList().LastTime().m_dt, when);
    EXPECT_TRUE(engine->ForTesting().CacheList().LastTime().m_valid);
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 0);
    EXPECT_EQ(engine->ForTesting().CacheList().Notified(), 1);
    EXPECT_EQ(engine->ForTesting().Ids().size(), 7u);
    EXPECT_TRUE(Log::Has("ReadLocalFileList: file list loaded (7 local, v3)")) << Log::Dump();
}

TEST_F(StateFilesTest, ReadsVersionsAndDamagedFiles) {
    const std::string a = In({"sfw", "a.jpg"}), b = In({"sfw", "b.jpg"}), c = In({"c.jpg"});
    const std::string date = plat::OleDateToText(MakeOleDate(2026, 1, 2, 3, 4, 5));
    struct Row {
        const char* what;
        std::string bytes;
        std::vector<Rec> records;
        int version;  // 0: nothing loaded (missing or wrong header)
    } rows[] = {
        {"v3",
         Crlf("[Veduta Lumora List v3]\n2\n0\n" + date + "\nA\n" + a + "\n1\nB\n" + b + "\n0\n"),
         {{"A", a, 1}, {"B", b, 0}},
         3},
        {"v1 records have no feed",
         Crlf("[Veduta Lumora List]\n2\n0\n" + date + "\nA\n" + a + "\nB\n" + b + "\n"),
         {{"A", a, -1}, {"B", b, -1}},
         1},
        {"v2 blocks skipped",
         Crlf("[Veduta Lumora List v2]\n1\n2\n" + date + "\nA\n" + a + "\n3\n1\n2\n3\n4\n5\n6\n7\n8\n" +
              "1\n2\n3\n4\n5\n6\n7\n8\n"),
         {{"A", a, 3}},
         2},
        {"LF only",
         "[Veduta Lumora List v3]\n2\n0\n" + date + "\nA\n" + a + "\n1\nB\n" + b + "\n0\n",
         {{"A", a, 1}, {"B", b, 0}},
         3},
        {"no line end at the end",
         Crlf("[Veduta Lumora List v3]\n1\n0\n" + date + "\nA\n" + a + "\n") + "5",
         {{"A", a, 5}},
         3},
        {"count above the records",
         Crlf("[Veduta Lumora List v3]\n9\n0\n" + date + "\nA\n" + a + "\n1\n"),
         {{"A", a, 1}},
         3},
        {"count below the records",
         Crlf("[Veduta Lumora List v3]\n1\n0\n" + date + "\nA\n" + a + "\n1\nB\n" + b + "\n0\n"),
         {{"A", a, 1}},
         3},
        {"negative count reads to the end",
         Crlf("[Veduta Lumora List v3]\n-1\n0\n" + date + "\nA\n" + a + "\n1\nB\n" + b + "\n0\nC\n" + c +
              "\n2\n"),
         {{"A", a, 1}, {"B", b, 0}, {"C", c, 2}},
         3},
        {"cut inside a record",
         Crlf("[Veduta Lumora List v3]\n3\n0\n" + date + "\nA\n" + a + "\n1\nB\n" + b + "\n"),
         {{"A", a, 1}},
         3},
        {"cut after the header", Crlf("[Veduta Lumora List v3]\n"), {}, 3},
        {"empty id dropped",
         Crlf("[Veduta Lumora List v3]\n2\n0\n" + date + "\n\n" + a + "\n1\nB\n" + b + "\n0\n"),
         {{"B", b, 0}},
         3},
        {"numbers read as strtol base 0",
         Crlf("[Veduta Lumora List v3]\n 0x2\n0\n" + date + "\nA\n" + a + "\n010\nB\n" + b + "\n+7x\n"),
         {{"A", a, 8}, {"B", b, 7}},
         3},
        {"count without digits is 0",
         Crlf("[Veduta Lumora List v3]\nmany\n0\n" + date + "\nA\n" + a + "\n1\n"),
         {},
         3},
        // A list with a wrong header is kept aside, and what looks like records
        // in it is recovered (replacing it by an empty one would orphan them).
        {"header differing in case",
         Crlf("[Veduta Lumora list v3]\n1\n0\n" + date + "\nA\n" + a + "\n1\n"),
         {{"A", a, 1}},
         0},
        {"header with trailing blank",
         Crlf("[Veduta Lumora List v3] \n1\n0\n" + date + "\nA\n" + a + "\n1\n"),
         {{"A", a, 1}},
         0},
        {"unknown version",
         Crlf("[Veduta Lumora List v4]\n1\n0\n" + date + "\nA\n" + a + "\n1\n"),
         {{"A", a, 1}},
         0},
        {"empty file", "", {}, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        WriteBytes(ListPath(), r.bytes);
        AddRecord("stale", a, 0);  // replaced by whatever the file holds
        engine->ForTesting().CacheList().SetDirty(1);
        Log::Clear();
        {
            MutexLock held(engine->StateLockForTest());
            engine->ReadLocalFileList();
        }
        EXPECT_EQ(Records(), r.records);
        EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 0);
        if (r.version) {
            EXPECT_TRUE(Log::Has("ReadLocalFileList: file list loaded (" + std::to_string(r.records.size()) +
                                 " local, v" + std::to_string(r.version) + ")"))
                << Log::Dump();
        } else if (r.bytes.empty()) {
            EXPECT_EQ(Log::Lines(), std::vector<std::string>{"ReadLocalFileList: wrong file header"});
            EXPECT_TRUE(FileExists(ListPath()));  // nothing there to keep
        } else {
            std::vector<std::string> lines = Log::Lines();
            ASSERT_EQ(lines.size(), 2u) << Log::Dump();
            EXPECT_EQ(lines[0], "ReadLocalFileList: wrong file header");
            const std::string kept = "ReadLocalFileList: damaged list kept as ";
            ASSERT_EQ(lines[1].compare(0, kept.size(), kept), 0) << lines[1];
            const std::string aside = lines[1].substr(kept.size(), lines[1].find(", ") - kept.size());
            EXPECT_EQ(lines[1], kept + aside + ", " + std::to_string(r.records.size()) +
                                    (r.records.size() == 1 ? " record recovered" : " records recovered"));
            EXPECT_EQ(ReadBytes(aside), r.bytes);
            EXPECT_FALSE(FileExists(ListPath()));
        }
    }
}

TEST_F(StateFilesTest, Version1IsRewrittenAsVersion3) {
    const std::string a = In({"a.jpg"}), b = In({"b.jpg"});
    WriteBytes(ListPath(), Crlf("[Veduta Lumora List]\n2\n0\n\nA\n" + a + "\nB\n" + b + "\n"));
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
        engine->SaveFileList(ListSave::kAlways);
    }
    EXPECT_EQ(Show(ReadBytes(ListPath())),
              Show(Crlf("[Veduta Lumora List v3]\n2\n0\n" + plat::OleDateToText(kOleDate2000) + "\nA\n" + a +
                        "\n-1\nB\n" + b + "\n-1\n")));
}

TEST_F(StateFilesTest, LastRefreshTimeLine) {
    const double when = MakeOleDate(2026, 12, 9, 14, 57, 42);
    struct Row {
        const char* what;
        std::string line;
        double expected;
    } rows[] = {
        {"written form", plat::OleDateToText(when), when},
        {"midnight", plat::OleDateToText(MakeOleDate(2026, 2, 3, 0, 0, 0)), MakeOleDate(2026, 2, 3, 0, 0, 0)},
        {"empty", "", kOleDate2000},
        {"unreadable", "not a date", kOleDate2000},
        {"cut", plat::OleDateToText(when).substr(0, 3) + "?", kOleDate2000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        WriteBytes(ListPath(), Crlf("[Veduta Lumora List v3]\n0\n0\n" + r.line + "\n"));
        engine->ForTesting().CacheList().LastTime().m_dt = 12345.0;
        engine->ForTesting().CacheList().LastTime().m_valid = true;
        {
            MutexLock held(engine->StateLockForTest());
            engine->ReadLocalFileList();
        }
        EXPECT_EQ(engine->ForTesting().CacheList().LastTime().m_dt, r.expected);
        EXPECT_TRUE(engine->ForTesting().CacheList().LastTime().m_valid);
    }
}

TEST_F(StateFilesTest, NotifiedFromRecordCount) {
    for (int n : {0, 4, 5, 9}) {
        std::string body = "[Veduta Lumora List v3]\n" + std::to_string(n) + "\n0\n\n";
        for (int i = 0; i < n; ++i)
            body += "id" + std::to_string(i) + "\n" + In({std::to_string(i) + ".jpg"}) + "\n0\n";
        WriteBytes(ListPath(), Crlf(body));
        engine->ForTesting().CacheList().SetNotified(n > 4 ? 0
                                                           : 1);  // the opposite of what the read must set
        {
            MutexLock held(engine->StateLockForTest());
            engine->ReadLocalFileList();
        }
        EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), n);
        EXPECT_EQ(engine->ForTesting().CacheList().Notified(), n > 4 ? 1 : 0) << n;
    }
}

TEST_F(StateFilesTest, MissingListLeavesStateAndSkipsPaging) {
    AddFeeds(1);
    WriteBytes(PagingPath(), Crlf("[Lumora Paging v1]\n1\nseed\n4\n9\n"));
    engine->ForTesting().CacheList().LastTime().m_dt = 40000.5;
    engine->ForTesting().Ids().insert("x");
    engine->ForTesting().CacheList().SetNotified(1);
    AddRecord("stale", In({"a.jpg"}), 0);
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
    EXPECT_EQ(engine->ForTesting().CacheList().LastTime().m_dt, 40000.5);
    EXPECT_EQ(engine->ForTesting().Ids().size(), 1u);
    EXPECT_EQ(engine->ForTesting().CacheList().Notified(), 1);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 0);
    EXPECT_EQ(Log::Lines(), std::vector<std::string>{"ReadLocalFileList: file list not found"});

    // A wrong header is treated the same way, and the file is kept aside.
    WriteBytes(ListPath(), "garbage\r\n");
    Log::Clear();
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 0);
    EXPECT_EQ(Log::Lines(),
              (std::vector<std::string>{"ReadLocalFileList: wrong file header",
                                        "ReadLocalFileList: damaged list kept as " +
                                            In({"vdt_vd_files.bad1"}) + ", 0 records recovered"}));
    EXPECT_EQ(ReadBytes(In({"vdt_vd_files.bad1"})), "garbage\r\n");
}

TEST_F(StateFilesTest, ReadRebuildsIdsFromRecordsAndPools) {
    AddFeeds(1);
    CLumoraItem pooled;
    pooled.Id = "P";
    engine->ForTesting().Feeds()[0].Items.Add(pooled);
    engine->ForTesting().Ids().insert("forgotten");
    WriteBytes(ListPath(), Crlf("[Veduta Lumora List v3]\n2\n0\n\nA\n" + In({"a.jpg"}) + "\n0\nB\n" +
                                In({"b.jpg"}) + "\n0\n"));
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    std::vector<std::string> ids;
    for (std::string_view id : engine->ForTesting().Ids()) ids.push_back(std::string(id));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"A", "B", "P"}));
}

TEST_F(StateFilesTest, RecordsOutsideTheFolderAreDropped) {
    std::string outside = std::filesystem::path(folder).parent_path().string() + Sep() + "victim.txt";
    std::string bytes = "[Veduta Lumora List v3]\n5\n0\n\n";
    bytes += "A\n" + In({"sfw", "a.jpg"}) + "\n0\n";
    bytes += "B\n" + outside + "\n0\n";
    bytes += "C\n" + In({"sfw", "..", "..", "x.jpg"}) + "\n0\n";
    bytes += "D\n" + std::string("rel.jpg") + "\n0\n";
    bytes += "E\n" + In({".", "sfw", "e.jpg"}) + "\n0\n";
    WriteBytes(ListPath(), Crlf(bytes));
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(Paths(), (std::vector<std::string>{In({"sfw", "a.jpg"}), In({".", "sfw", "e.jpg"})}));
    EXPECT_EQ(Log::LinesStartingWith("ReadLocalFileList: record outside the folder dropped").size(), 3u)
        << Log::Dump();
    EXPECT_TRUE(Log::Has("ReadLocalFileList: record outside the folder dropped " + outside)) << Log::Dump();
}

TEST_F(StateFilesTest, OverlongLineIsDroppedAndLaterRecordsStayAligned) {
    std::string longPath = In({std::string(9000, 'p') + ".jpg"});
    std::string bytes = "[Veduta Lumora List v3]\n3\n0\n\n";
    bytes += "A\n" + In({"a.jpg"}) + "\n0\n";
    bytes += "L\n" + longPath + "\n1\n";
    bytes += "B\n" + In({"b.jpg"}) + "\n2\n";
    WriteBytes(ListPath(), Crlf(bytes));
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(Records(), (std::vector<Rec>{{"A", In({"a.jpg"}), 0}, {"B", In({"b.jpg"}), 2}}));
    EXPECT_EQ(Log::LinesStartingWith("ReadLocalFileList: bad record dropped L ").size(), 1u) << Log::Dump();
}

TEST_F(StateFilesTest, WriterSkipsRecordsThatWouldBreakLines) {
    AddRecord("A", In({"a.jpg"}), 0);
    AddRecord("evil\r\nX", In({"x.jpg"}), 0);
    AddRecord("B", In({"b\nc.jpg"}), 1);
    AddRecord("C", In({"c.jpg"}), 2);
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    EXPECT_EQ(Show(ReadBytes(ListPath())),
              Show(Crlf("[Veduta Lumora List v3]\n2\n0\n" + plat::OleDateToText(kOleDate2000) + "\nA\n" +
                        In({"a.jpg"}) + "\n0\nC\n" + In({"c.jpg"}) + "\n2\n")));
    EXPECT_EQ(Log::LinesStartingWith("WriteLocalFileList: record not written").size(), 2u) << Log::Dump();
    // The list in memory is not changed by the writer.
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 4);
}

TEST_F(StateFilesTest, FailedWritesKeepTheOldFile) {
    AddFeeds(2);
    engine->ForTesting().Feeds()[0].Seed = "old";
    AddRecord("A", In({"a.jpg"}), 0);
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
        engine->WritePagingState();
    }
    const std::string oldList = ReadBytes(ListPath()), oldPaging = ReadBytes(PagingPath());
    ASSERT_FALSE(oldList.empty());
    AddRecord("B", In({"b.jpg"}), 1);
    engine->ForTesting().Feeds()[0].Seed = "new";

    struct Row {
        const char* what;
        std::function<void(FaultyFiles&)> arm;
        const char* listLine;  // expected log line, %s = the list's path
    } rows[] = {
        {"create fails",
         [](FaultyFiles& f) { f.failOpen = [](const std::string&, const char* m) { return m[0] == 'w'; }; },
         "WriteLocalFileList: can't create file "},
        {"write fails",
         [](FaultyFiles& f) {
             f.readOnlyOpen = [](const std::string&, const char* m) { return m[0] == 'w'; };
         },
         "WriteLocalFileList: can't write file "},
        {"flush fails", [](FaultyFiles& f) { f.failFlushClose = true; },
         "WriteLocalFileList: can't write file "},
        {"rename fails",
         [](FaultyFiles& f) {
             f.failMove = [](const std::string&, const std::string&, int* e) {
                 *e = 5;
                 return true;
             };
         },
         "WriteLocalFileList: can't replace file "},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        FaultyFiles faults;
        r.arm(faults);
        Log::Clear();
        {
            FaultScope scope(faults);
            {
                MutexLock held(engine->StateLockForTest());
                engine->SaveFileList(ListSave::kAlways);
                engine->WritePagingState();
            }
        }
        EXPECT_EQ(ReadBytes(ListPath()), oldList);
        EXPECT_EQ(ReadBytes(PagingPath()), oldPaging);
        std::string suffix = std::string(r.listLine).find("replace") != std::string::npos ? ", error 5" : "";
        EXPECT_TRUE(Log::Has(r.listLine + ListPath() + suffix)) << Log::Dump();
        std::string pagingLine =
            std::string(r.listLine).replace(0, std::string("WriteLocalFileList").size(), "WritePagingState");
        EXPECT_TRUE(Log::Has(pagingLine + PagingPath() + suffix)) << Log::Dump();
        // No temporary file survives a failed write.
        EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"vdt_vd_files.lst", "vdt_vd_paging.lst"}));
    }
    // Without faults the next write goes through.
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    EXPECT_NE(ReadBytes(ListPath()), oldList);
}

TEST_F(StateFilesTest, MissingFolderLogsCreateFailure) {
    settings.ImgFolder = In({"missing"});
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
        engine->WritePagingState();
    }
    EXPECT_TRUE(Log::Has("WriteLocalFileList: can't create file " + In({"missing", "vdt_vd_files.lst"})))
        << Log::Dump();
    EXPECT_TRUE(Log::Has("WritePagingState: can't create file " + In({"missing", "vdt_vd_paging.lst"})))
        << Log::Dump();
}

TEST_F(StateFilesTest, PagingWrittenByteForByte) {
    AddFeeds(3);
    engine->ForTesting().Feeds()[0].Seed = "AbC123";
    engine->ForTesting().Feeds()[0].Page = 3;
    engine->ForTesting().Feeds()[0].LastPage = 40;
    engine->ForTesting().Feeds()[2].Seed = "x\r\ny\tz";  // control characters are removed
    engine->ForTesting().Feeds()[2].Page = -1;
    engine->ForTesting().Feeds()[2].LastPage = 7;
    {
        MutexLock held(engine->StateLockForTest());
        engine->WritePagingState();
    }
    EXPECT_EQ(Show(ReadBytes(PagingPath())),
              Show("[Lumora Paging v1]\r\n3\r\nAbC123\r\n3\r\n40\r\n\r\n0\r\n0\r\nxyz\r\n-1\r\n7\r\n"));
}

TEST_F(StateFilesTest, PagingReadAgainstFeedCount) {
    const std::string three = Crlf("[Lumora Paging v1]\n3\nS0\n2\n10\n\n5\n6\nS2\n7\n8\n");
    struct Row {
        const char* what;
        std::string bytes;
        int feeds;
        std::vector<std::string> seeds;
        std::vector<int> pages, lastPages;
        std::vector<std::string> log;
    } rows[] = {
        {"3 entries, 2 feeds",
         three,
         2,
         {"S0", ""},
         {2, 5},
         {10, 6},
         {"ReadPagingState: 0 current page = 2", "ReadPagingState: 1 current page = 5",
          "ReadPagingState: loaded (2 feeds)"}},
        {"3 entries, 5 feeds",
         three,
         5,
         {"S0", "", "S2", "keep3", "keep4"},
         {2, 5, 7, 33, 44},
         {10, 6, 8, 33, 44},
         {"ReadPagingState: 0 current page = 2", "ReadPagingState: 1 current page = 5",
          "ReadPagingState: 2 current page = 7", "ReadPagingState: loaded (3 feeds)"}},
        {"LF only",
         "[Lumora Paging v1]\n1\nS\n0x10\n020\n",
         1,
         {"S"},
         {16},
         {16},
         {"ReadPagingState: 0 current page = 16", "ReadPagingState: loaded (1 feeds)"}},
        {"cut entry",
         Crlf("[Lumora Paging v1]\n2\nS0\n2\n10\nS1\n4\n"),
         2,
         {"S0", "keep1"},
         {2, 11},
         {10, 11},
         {"ReadPagingState: 0 current page = 2", "ReadPagingState: loaded (2 feeds)"}},
        {"negative count",
         Crlf("[Lumora Paging v1]\n-2\nS0\n2\n10\n"),
         1,
         {"keep0"},
         {0},
         {0},
         {"ReadPagingState: loaded (0 feeds)"}},
        {"wrong header",
         Crlf("[Lumora paging v1]\n1\nS0\n2\n10\n"),
         1,
         {"keep0"},
         {0},
         {0},
         {"ReadPagingState: wrong header"}},
        {"overlong seed is no seed",
         Crlf("[Lumora Paging v1]\n1\n" + std::string(2000, 's') + "\n4\n9\n"),
         1,
         {""},
         {4},
         {9},
         {"ReadPagingState: 0 current page = 4", "ReadPagingState: loaded (1 feeds)"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        engine->ForTesting().Feeds().RemoveAll();
        AddFeeds(r.feeds);
        for (int i = 0; i < r.feeds; ++i) {
            engine->ForTesting().Feeds()[i].Seed = "keep" + std::to_string(i);
            engine->ForTesting().Feeds()[i].Page = engine->ForTesting().Feeds()[i].LastPage = 11 * i;
        }
        WriteBytes(PagingPath(), r.bytes);
        Log::Clear();
        {
            MutexLock held(engine->StateLockForTest());
            engine->ReadPagingState();
        }
        std::vector<std::string> seeds;
        std::vector<int> pages, lastPages;
        for (const CLumoraFeed& f : engine->ForTesting().Feeds()) {
            seeds.push_back(f.Seed);
            pages.push_back(f.Page);
            lastPages.push_back(f.LastPage);
        }
        EXPECT_EQ(seeds, r.seeds);
        EXPECT_EQ(pages, r.pages);
        EXPECT_EQ(lastPages, r.lastPages);
        EXPECT_EQ(Log::Lines(), r.log);
    }
}

TEST_F(StateFilesTest, PagingMissingFileLogs) {
    AddFeeds(1);
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadPagingState();
    }
    EXPECT_EQ(Log::Lines(), std::vector<std::string>{"ReadPagingState: file not found"});
}

TEST_F(StateFilesTest, ListReadAlsoReadsPagingOfTheSameFolder) {
    AddFeeds(2);
    engine->ForTesting().Feeds()[0].Seed = "s";
    engine->ForTesting().Feeds()[0].Page = 3;
    engine->ForTesting().Feeds()[0].LastPage = 40;
    engine->ForTesting().Feeds()[1].Page = 1;
    {
        MutexLock held(engine->StateLockForTest());
        engine->WritePagingState();
        engine->SaveFileList(ListSave::kAlways);
    }
    engine->ForTesting().Feeds()[0].Seed.clear();
    engine->ForTesting().Feeds()[0].Page = engine->ForTesting().Feeds()[0].LastPage =
        engine->ForTesting().Feeds()[1].Page = 0;
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Seed, "s");
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 3);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].LastPage, 40);
    EXPECT_EQ(engine->ForTesting().Feeds()[1].Page, 1);
    // The list's own line comes after the paging lines.
    std::vector<std::string> lines = Log::Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "ReadPagingState: loaded (2 feeds)");
    EXPECT_EQ(lines.back(), "ReadLocalFileList: file list loaded (0 local, v3)");
}

TEST_F(StateFilesTest, StaleTempFilesRemoved) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(In({"sfw", "deep"})));
    fs::create_directories(fs::path(In({"folder.__t"})));
    for (const std::string& p :
         {In({"vdt_vd_files.__t"}), In({"sfw", "abc.__t"}), In({"sfw", "Other.__T"}), In({"sfw", "keep.jpg"}),
          In({"sfw", "deep", "deeper.__t"}), In({"keep.lst"}), In({"x__t"})})
        WriteBytes(p, "x");
    {
        MutexLock held(engine->StateLockForTest());
        engine->RemoveStaleTempFiles();
    }
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"folder.__t", "keep.lst", "sfw", "x__t"}));
    EXPECT_EQ(FilesIn(In({"sfw"})), (std::vector<std::string>{"deep", "keep.jpg"}));
    EXPECT_EQ(FilesIn(In({"sfw", "deep"})), std::vector<std::string>{"deeper.__t"});  // one level only
    EXPECT_EQ(Log::LinesStartingWith("RemoveStaleTempFiles: removed ").size(), 3u) << Log::Dump();

    // Without an image folder nothing is touched (the names would be relative).
    settings.ImgFolder.clear();
    Log::Clear();
    {
        MutexLock held(engine->StateLockForTest());
        engine->RemoveStaleTempFiles();
    }
    EXPECT_TRUE(Log::Lines().empty());
}

}  // namespace
}  // namespace ef
