// Nothing lost, nothing orphaned: lists that cannot be read or are damaged,
// writes that fail, the journal that keeps every change between full
// writes, a change of the image folder, the stale-temp clean-up, names that
// collide, and the free-space floor.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "engine/state_format.h"
#include "engine/worker.h"
#include "support/file_fixture.h"

namespace ef {
namespace {

class DurabilityTest : public EngineFixture {
  protected:
    // An image file on disk and its record in memory.
    std::string Image(const std::string& sub, const std::string& name, int feed = 0) {
        std::filesystem::create_directories(std::filesystem::path(In({sub})));
        std::string path = In({sub, name});
        WriteBytes(path, "image");
        engine->ForTesting().CacheList().Records().AddTail(CFileData(path, "id-" + name, feed));
        return path;
    }
    std::set<std::string> PathSet() {
        std::vector<std::string> p = Paths();
        return std::set<std::string>(p.begin(), p.end());
    }
    // What a fresh engine reads from the folder (list and journal).
    std::set<std::string> OnDisk(const std::string& where) {
        CLumoraSettings s = settings;
        s.ImgFolder = where;
        CLumoraEngine fresh(s, closing, hosttype);
        fresh.ForTesting().UseClock(&clock);
        {
            MutexLock held(fresh.StateLockForTest());
            fresh.ReadLocalFileList();
        }
        std::set<std::string> out;
        for (const CFileData& d : fresh.ForTesting().CacheList().Records()) out.insert(d.Path);
        return out;
    }
    std::vector<std::string> KeptAside() {
        std::vector<std::string> out;
        for (const std::string& n : FilesIn(folder))
            if (n.compare(0, 16, "vdt_vd_files.bad") == 0) out.push_back(n);
        return out;
    }
};

// ---- a list that cannot be read is never replaced --------------------------------------------

TEST_F(DurabilityTest, UnreadableListIsReadAgainNotReplaced) {
    const std::string a = Image("sfw", "a.jpg"), b = Image("sfw", "b.jpg");
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    const std::string stored = ReadBytes(ListPath());
    engine->ForTesting().CacheList().Records().RemoveAll();
    struct Row {
        const char* what;
        int error;
    } rows[] = {{"held by another program", plat::kErrSharingViolation},
                {"access denied", plat::kErrAccessDenied}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        FaultyFiles faults;
        faults.failOpenError = [&](const std::string& p, const char* mode) {
            return p == ListPath() && mode[0] == 'r' ? r.error : 0;
        };
        Log::Clear();
        {
            FaultScope scope(faults);
            {
                MutexLock held(engine->StateLockForTest());
                engine->ReadLocalFileList();
                EXPECT_FALSE(engine->FileListReady());
            }
            // Neither a write of the (empty) memory nor a download replaces it.
            {
                MutexLock held(engine->StateLockForTest());
                EXPECT_FALSE(engine->SaveFileList(ListSave::kAlways));
                EXPECT_FALSE(engine->RecordFileAdding(CFileData(In({"sfw", "c.jpg"}), "c", 0)));
            }
            engine->ForTesting().CacheList().SetDirty(1);
            {
                MutexLock held(engine->StateLockForTest());
                EXPECT_FALSE(engine->SaveFileList(ListSave::kNow));
            }
        }
        EXPECT_EQ(ReadBytes(ListPath()), stored);
        EXPECT_EQ(Log::LinesStartingWith("ReadLocalFileList: can't read " + ListPath() + ", error " +
                                         std::to_string(r.error))
                      .size(),
                  1u)
            << Log::Dump();
        // Once the list can be opened, it is read before anything else.
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_TRUE(engine->FileListReady());
        }
        EXPECT_EQ(PathSet(), (std::set<std::string>{a, b}));
        engine->ForTesting().CacheList().Records().RemoveAll();
    }
}

TEST_F(DurabilityTest, ListOfAFolderNotThereYetIsReadWhenItAppears) {
    // A drive that is not mounted yet: the folder is missing at start.
    const std::string later = In({"later"});
    settings.ImgFolder = later;
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
        EXPECT_FALSE(engine->FileListReady());
    }
    std::filesystem::create_directories(std::filesystem::path(later + Sep() + "sfw"));
    const std::string a = later + Sep() + "sfw" + Sep() + "a.jpg";
    WriteBytes(a, "image");
    WriteBytes(later + Sep() + "vdt_vd_files.lst",
               Crlf("[Veduta Lumora List v3]\n1\n0\n\nA\n" + a + "\n0\n"));
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_TRUE(engine->FileListReady());
    }
    EXPECT_EQ(Paths(), std::vector<std::string>{a});
}

TEST_F(DurabilityTest, DamagedListsAreKeptAsideAndRecovered) {
    const std::string a = In({"sfw", "a.jpg"}), b = In({"sfw", "b.jpg"}), c = In({"nsfw", "c.jpg"});
    const std::string body = "A\n" + a + "\n0\nB\n" + b + "\n1\nC\n" + c + "\n2\n";
    struct Row {
        const char* what;
        std::string bytes;
        std::set<std::string> recovered;
        bool listMovedAside;  // a wrong header: the file itself is moved aside
    } rows[] = {
        {"wrong header", Crlf("[Veduta Lumora Lisst v3]\n3\n0\n\n" + body), {a, b, c}, true},
        {"garbage header line", Crlf("\x01\x02garbage\n3\n0\n\n" + body), {a, b, c}, true},
        {"a line of garbage inside",
         Crlf("[Veduta Lumora List v3]\n3\n0\n\nA\n" + a + "\n0\n#garbage#\nB\n" + b + "\n1\nC\n" + c +
              "\n2\n"),
         {a, b, c},
         false},
        {"cut in the middle",
         Crlf("[Veduta Lumora List v3]\n3\n0\n\nA\n" + a + "\n0\nB\n" + b + "\n1\nC\n") +
             c.substr(0, c.size() - 3),
         {a, b},
         false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::filesystem::remove_all(std::filesystem::path(folder));
        std::filesystem::create_directories(std::filesystem::path(folder));
        WriteBytes(ListPath(), r.bytes);
        Log::Clear();
        {
            MutexLock held(engine->StateLockForTest());
            engine->ReadLocalFileList();
        }
        EXPECT_EQ(PathSet(), r.recovered) << Log::Dump();
        // The bytes are kept, and the next write does not replace them.
        ASSERT_EQ(KeptAside().size(), 1u) << Log::Dump();
        EXPECT_EQ(ReadBytes(In({KeptAside()[0]})), r.bytes);
        EXPECT_EQ(FileExists(ListPath()), !r.listMovedAside);
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_TRUE(engine->SaveFileList(ListSave::kIfChanged));
        }
        EXPECT_EQ(OnDisk(folder), r.recovered);
        EXPECT_EQ(ReadBytes(In({KeptAside()[0]})), r.bytes);
    }
}

// Lists the format allows are read as they are: only lines out of step are
// damage. What is left out is said in the log, and no copy is kept aside.
TEST_F(DurabilityTest, ListsTheFormatAllowsAreNotKeptAside) {
    const std::string a = In({"sfw", "a.jpg"}), b = In({"sfw", "b.jpg"});
    const std::string other = folder + "_moved";
    const std::string x = other + Sep() + "sfw" + Sep() + "x.jpg",
                      y = other + Sep() + "sfw" + Sep() + "y.jpg";
    struct Row {
        const char* what;
        std::string bytes;
        std::set<std::string> records;
        std::string logged;  // the start of a line the read must log
    } rows[] = {
        {"a count above the records",
         Crlf("[Veduta Lumora List v3]\n99\n0\n\nA\n" + a + "\n0\nB\n" + b + "\n1\n"),
         {a, b},
         "ReadLocalFileList: the file ends after 2 of 99 records"},
        {"all records of another folder",
         Crlf("[Veduta Lumora List v3]\n2\n0\n\nX\n" + x + "\n0\nY\n" + y + "\n0\n"),
         {},
         "ReadLocalFileList: record outside the folder dropped " + x},
        {"some records of another folder",
         Crlf("[Veduta Lumora List v3]\n3\n0\n\nA\n" + a + "\n0\nX\n" + x + "\n0\nB\n" + b + "\n1\n"),
         {a, b},
         "ReadLocalFileList: record outside the folder dropped " + x},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::filesystem::remove_all(std::filesystem::path(folder));
        std::filesystem::create_directories(std::filesystem::path(folder));
        WriteBytes(ListPath(), r.bytes);
        Log::Clear();
        {
            MutexLock held(engine->StateLockForTest());
            engine->ReadLocalFileList();
        }
        EXPECT_EQ(PathSet(), r.records) << Log::Dump();
        EXPECT_TRUE(KeptAside().empty()) << Log::Dump();
        EXPECT_TRUE(Log::LinesStartingWith("ReadLocalFileList: damaged list").empty()) << Log::Dump();
        EXPECT_EQ(Log::LinesStartingWith(r.logged).size(), 1u) << Log::Dump();
        EXPECT_EQ(ReadBytes(ListPath()), r.bytes);  // read, not rewritten
    }
    // A list of thousands of records of another folder names a few of them
    // and counts the rest: one line each would flood the host's log.
    std::string many = "[Veduta Lumora List v3]\n500\n0\n\n";
    for (int i = 0; i < 500; ++i)
        many += "X" + std::to_string(i) + "\n" + other + Sep() + std::to_string(i) + ".jpg\n0\n";
    WriteBytes(ListPath(), Crlf(many));
    Log::Clear();
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
    EXPECT_TRUE(KeptAside().empty());
    EXPECT_LE(Log::Lines().size(), 20u) << Log::Dump();
    EXPECT_TRUE(Log::Has("ReadLocalFileList: 500 records outside the folder dropped")) << Log::Dump();
}

// ---- failed writes are not done ---------------------------------------------------------------

TEST_F(DurabilityTest, FailedWriteKeepsTheDirtyFlagAndTheRecords) {
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    const std::string a = In({"sfw", "a.jpg"});
    std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->RecordFileAdding(CFileData(a, "A", 0)));
    }
    WriteBytes(a, "image");
    engine->ForTesting().CacheList().Records().AddTail(CFileData(a, "A", 0));
    engine->ForTesting().CacheList().SetDirty(1);
    FaultyFiles faults;
    faults.failMove = [](const std::string&, const std::string&, int* e) {
        *e = 112;
        return true;
    };
    {
        FaultScope scope(faults);
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_FALSE(engine->SaveFileList(ListSave::kNow));
        }
    }
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 1);
    EXPECT_TRUE(Log::Has("WriteLocalFileList: can't replace file " + ListPath() + ", error 112"))
        << Log::Dump();
    // A re-read (the worker's restart, a cache clean) still finds the record.
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    EXPECT_EQ(Paths(), std::vector<std::string>{a});
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_TRUE(engine->SaveFileList(ListSave::kNow));
    }
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 0);
    EXPECT_FALSE(FileExists(In({statefmt::kJournalName})));  // folded into the list
}

// A pass that throws: the worker writes the list before it starts over, and
// a write that fails says so (not "Unknown Exception").
class ThrowingClient : public CLumoraApi {
  public:
    std::atomic<int32_t>* closing = nullptr;
    ServiceAnswer QuerySearchPage(const CLumoraFeed&, int, CItemArray&, std::string&, int&, int&) override {
        closing->store(1);  // the restart ends after the write
        throw std::runtime_error("boom");
    }
};

TEST_F(DurabilityTest, FailedWriteBeforeARestartSaysWhatFailed) {
    const std::string a = In({"sfw", "a.jpg"});
    std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
    WriteBytes(a, "image");
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
        ASSERT_TRUE(engine->RecordFileAdding(CFileData(a, "A", 0)));  // in the journal only
    }
    engine.reset(new CLumoraEngine(settings, closing, hosttype));
    engine->ForTesting().UseClock(&clock);
    ThrowingClient client;
    client.closing = &closing;
    engine->ForTesting().UseClient(&client);
    AddFeeds(1);
    auto worker = std::make_shared<CLumoraThread>();
    worker->m_engine = engine.get();
    engine->ForTesting().Thread() = worker;
    FaultyFiles faults;
    faults.failMove = [&](const std::string&, const std::string& to, int* e) {
        *e = plat::kErrAccessDenied;
        return to == ListPath();
    };
    {
        FaultScope scope(faults);
        EXPECT_FALSE(worker->InitInstance());
    }
    engine->ForTesting().Thread().reset();
    EXPECT_TRUE(Log::Has("CException (boom) in CLumoraThread::RunComms()")) << Log::Dump();
    EXPECT_TRUE(Log::Has("WriteLocalFileList: can't replace file " + ListPath() + ", error 5"))
        << Log::Dump();
    EXPECT_TRUE(Log::Has("CLumoraThread: cache list not written before the restart")) << Log::Dump();
    EXPECT_TRUE(Log::LinesStartingWith("Unknown Exception").empty()) << Log::Dump();
    // Nothing is lost: the record is still on disk, in the journal.
    EXPECT_EQ(OnDisk(folder), std::set<std::string>{a});
}

// ---- the journal: every change is on disk before the file operation -------------------------

TEST_F(DurabilityTest, JournalIsReplayedAgainstTheDisk) {
    const std::string kept = Image("sfw", "kept.jpg");
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
        engine->ReadLocalFileList();
    }
    const std::string added = In({"sfw", "added.jpg"}), dropped = In({"sfw", "never.jpg"});
    struct Row {
        const char* what;
        char op;
        std::string path;
        bool fileThere;
        std::set<std::string> expected;
    } rows[] = {
        {"download renamed", '+', added, true, {kept, added}},
        {"crash before the rename", '+', dropped, false, {kept}},
        {"deleted", '-', kept, false, {}},
        {"crash before the deletion", '-', kept, true, {kept}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::filesystem::remove(std::filesystem::path(In({statefmt::kJournalName})));
        if (r.op == '+') {
            MutexLock held(engine->StateLockForTest());
            EXPECT_TRUE(engine->RecordFileAdding(CFileData(r.path, "x", 0)));
        } else {
            MutexLock held(engine->StateLockForTest());
            EXPECT_TRUE(engine->RecordFileRemoving(CFileData(r.path, "x", 0)));
        }
        if (r.fileThere)
            WriteBytes(r.path, "image");
        else
            std::filesystem::remove(std::filesystem::path(r.path));
        EXPECT_EQ(OnDisk(folder), r.expected);
        WriteBytes(kept, "image");
    }
    // A last entry cut by a crash is left out; the ones before it count.
    std::filesystem::remove(std::filesystem::path(In({statefmt::kJournalName})));
    WriteBytes(added, "image");
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_TRUE(engine->RecordFileAdding(CFileData(added, "x", 0)));
    }
    std::string journal = ReadBytes(In({statefmt::kJournalName}));
    WriteBytes(In({statefmt::kJournalName}), journal + "+\tY\t" + In({"sfw", "y.jpg"}));
    WriteBytes(In({"sfw", "y.jpg"}), "image");
    EXPECT_EQ(OnDisk(folder), (std::set<std::string>{kept, added}));
}

TEST_F(DurabilityTest, LargeListsAreNotRewrittenForEveryChange) {
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
    for (int i = 0; i < kSmallFileList + 10; ++i)
        engine->ForTesting().CacheList().Records().AddTail(
            CFileData(In({"sfw", std::to_string(i) + ".jpg"}), "id" + std::to_string(i), 0));
    engine->ForTesting().CacheList().SetDirty(1);
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->SaveFileList(ListSave::kNow));
    }
    const std::string full = ReadBytes(ListPath());
    ASSERT_NE(full.find("\r\nid2009\r\n"), std::string::npos);
    const std::string a = In({"sfw", "new.jpg"});
    WriteBytes(a, "image");
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->RecordFileAdding(CFileData(a, "new", 0)));
    }
    engine->ForTesting().CacheList().Records().AddTail(CFileData(a, "new", 0));
    engine->ForTesting().CacheList().SetDirty(1);
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_TRUE(engine->SaveFileList(ListSave::kPassEnd));
        EXPECT_TRUE(engine->SaveFileList(ListSave::kIfChanged));
    }
    EXPECT_TRUE(ReadBytes(ListPath()) == full);  // the journal holds the change
    EXPECT_TRUE(OnDisk(folder).count(a));
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_TRUE(engine->SaveFileList(ListSave::kNow));  // the worker's exit folds it in
    }
    EXPECT_NE(ReadBytes(ListPath()).find("\r\nnew\r\n"), std::string::npos);
    EXPECT_FALSE(FileExists(In({statefmt::kJournalName})));
}

// ---- a new image folder starts from its own list -----------------------------------------------

TEST_F(DurabilityTest, FolderChangeKeepsEachFolderItsOwnList) {
    const std::string a = Image("sfw", "a.jpg");
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
        engine->ReadLocalFileList();
    }
    const std::string late = In({"sfw", "late.jpg"});
    WriteBytes(late, "image");
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->RecordFileAdding(CFileData(late, "late", 0)));
    }
    engine->ForTesting().CacheList().Records().AddTail(CFileData(late, "late", 0));
    engine->ForTesting().CacheList().SetDirty(1);

    const std::string other = folder + "_b";
    std::filesystem::remove_all(std::filesystem::path(other));
    std::filesystem::create_directories(std::filesystem::path(other + Sep() + "sfw"));
    const std::string b = other + Sep() + "sfw" + Sep() + "b.jpg";
    WriteBytes(b, "image");
    WriteBytes(other + Sep() + "vdt_vd_files.lst",
               Crlf("[Veduta Lumora List v3]\n1\n0\n\nB\n" + b + "\n0\n"));

    settings.ImgFolder = other;  // message 5 OK or message 7 with a new folder
    const uint32_t generation = engine->ForTesting().Generation();
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_TRUE(engine->FileListReady());
    }
    EXPECT_EQ(Paths(), std::vector<std::string>{b});
    EXPECT_NE(engine->ForTesting().Generation(),
              generation);  // a transfer under way belongs to the old folder
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_TRUE(engine->SaveFileList(ListSave::kNow));
    }
    EXPECT_EQ(OnDisk(other), (std::set<std::string>{b}));
    EXPECT_EQ(OnDisk(folder), (std::set<std::string>{a, late}));
    std::filesystem::remove_all(std::filesystem::path(other));
}

// ---- stale temporary files: only in the plug-in's own folders, never through a link -------------

TEST_F(DurabilityTest, StaleTempCleanUpStaysInPurityFolders) {
    namespace fs = std::filesystem;
    for (const char* sub : {"sfw", "NSFW", "holiday", "questionable", "fresh", "moderate"})
        fs::create_directories(fs::path(In({sub})));
    for (const std::string& p :
         {In({"a.__t"}), In({"sfw", "b.__t"}), In({"NSFW", "c.__t"}), In({"holiday", "d.__t"}),
          In({"holiday", "notes.txt"}), In({"questionable", "q.__t"}), In({"questionable", "q0.jpg"}),
          In({"questionable", "q0.vprop"}), In({"fresh", "f.__t"}), In({"moderate", "m.__t"}),
          In({"moderate", "readme.txt"}), In({"moderate", "m0.png"})})
        WriteBytes(p, "x");
    // Purity folders other than the usual ones, known before the list is
    // read: "questionable" holds only the plug-in's kinds of files, "fresh"
    // only the cut first download into it, "moderate" is named by the list
    // on disk (whatever else the user put there).
    WriteBytes(ListPath(),
               Crlf("[Veduta Lumora List v3]\n1\n0\n\nM\n" + In({"moderate", "m0.png"}) + "\n0\n"));
    // A link to a folder elsewhere, named like a purity folder.
    const std::string elsewhere = folder + "_elsewhere";
    fs::create_directories(fs::path(elsewhere));
    WriteBytes(elsewhere + Sep() + "e.__t", "theirs");
    std::error_code ec;
    fs::create_directory_symlink(fs::path(elsewhere), fs::path(In({"sketchy"})), ec);
    const bool linked = !ec;
    {
        MutexLock held(engine->StateLockForTest());
        engine->RemoveStaleTempFiles();
    }
    EXPECT_FALSE(FileExists(In({"a.__t"})));
    EXPECT_FALSE(FileExists(In({"sfw", "b.__t"})));
    EXPECT_FALSE(FileExists(In({"NSFW", "c.__t"})));
    EXPECT_FALSE(FileExists(In({"questionable", "q.__t"})));
    EXPECT_FALSE(FileExists(In({"fresh", "f.__t"})));
    EXPECT_FALSE(FileExists(In({"moderate", "m.__t"})));
    EXPECT_TRUE(FileExists(In({"questionable", "q0.jpg"})));
    EXPECT_TRUE(FileExists(In({"holiday", "d.__t"})));  // the user's own folder
    EXPECT_TRUE(FileExists(elsewhere + Sep() + "e.__t"));
    if (!linked) std::printf("(no directory link could be made here: %s)\n", ec.message().c_str());
    fs::remove(fs::path(In({"sketchy"})), ec);
    fs::remove_all(fs::path(elsewhere), ec);
}

// ---- names unique per image and per side file ----------------------------------------------------

TEST_F(DurabilityTest, NamesNeverShareAnImageOrASideFile) {
    struct Row {
        const char* what;
        std::vector<std::string> onDisk;  // files in sfw/ before
        std::vector<std::string> cached;  // records (files made too)
        std::string name;
        bool fallback;         // the name is replaced by a time-stamped one
        std::string expected;  // the name when it is not
    } rows[] = {
        {"free", {}, {}, "abc.png", false, "abc.png"},
        {"another image's side file", {"abc.vprop"}, {}, "abc.png", true, ""},
        {"a cached image with the same stem", {}, {"abc.jpg"}, "ABC.png", true, ""},
        {"a name ending in .vprop", {}, {}, "abc.vprop", false, "abc.vprop.jpg"},
        {"a name ending in .__t", {}, {}, "abc.__t", false, "abc.__t.jpg"},
        {"a name ending in .VPROP", {}, {}, "abc.VPROP", false, "abc.VPROP.jpg"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::filesystem::remove_all(std::filesystem::path(In({"sfw"})));
        std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
        engine->ForTesting().CacheList().Records().RemoveAll();
        for (const std::string& f : r.onDisk) WriteBytes(In({"sfw", f}), "x");
        for (const std::string& f : r.cached) Image("sfw", f);
        CLumoraItem item;
        item.Id = "i";
        item.Name = r.name;
        item.FileType = "image/jpeg";
        item.Purity = "sfw";
        std::string path;
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_EQ(BuildLocalName(item, engine->ForTesting().Naming(), path), 1);
        }
        const std::string name = path.substr(path.find_last_of(plat::kPathSep) + 1);
        if (r.fallback)
            EXPECT_EQ(name.compare(0, 1, "i"), 0) << name;
        else
            EXPECT_EQ(name, r.expected);
        EXPECT_NE(SidePathOf(path), path);
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_FALSE(NameTaken(path, engine->ForTesting().CacheList().Records())) << path;
        }
    }
}

TEST_F(DurabilityTest, EvictingOneOfTwoImagesWithOneSideFileKeepsIt) {
    // A list written before names were unique per side file.
    const std::string jpg = Image("sfw", "abc.jpg"), png = Image("sfw", "abc.png");
    WriteBytes(SidePathOf(jpg), "side");
    engine->OnFileDisplayed(jpg.c_str());
    {
        MutexLock data(engine->StateLockForTest());  // as a pass holds them
        MutexLock shown(engine->ShownLockForTest());
        engine->CleanDispFiles(1);
    }
    EXPECT_FALSE(FileExists(jpg));
    EXPECT_TRUE(FileExists(SidePathOf(png)));
    engine->OnFileDisplayed(png.c_str());
    {
        MutexLock data(engine->StateLockForTest());  // as a pass holds them
        MutexLock shown(engine->ShownLockForTest());
        engine->CleanDispFiles(1);
    }
    EXPECT_FALSE(FileExists(SidePathOf(png)));
}

TEST_F(DurabilityTest, FallbackNamesGoOnPastTheLastCounter) {
    std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
    CLumoraItem item;
    item.Id = "i";
    item.FileType = "image/jpeg";
    item.Purity = "sfw";
    char name[64];
    for (int i = 0; i <= 999; ++i) {
        std::snprintf(name, sizeof name, "i343153045%02d.jpg", i);
        WriteBytes(In({"sfw", name}), "taken");
    }
    std::string path;
    {
        MutexLock held(engine->StateLockForTest());
        BuildFallbackName(item, engine->ForTesting().Naming(), path);
    }
    EXPECT_EQ(path, In({"sfw", "i3431530451000.jpg"}));
    EXPECT_FALSE(FileExists(path));
}

// ---- lines the reader keeps --------------------------------------------------------------------

TEST_F(DurabilityTest, OnlyRecordsTheReaderKeepsAreRecorded) {
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    const std::string base = In({""});
    struct Row {
        size_t pathLength;
        bool stored;
    } rows[] = {{statefmt::kListLineMax - 2, true},
                {statefmt::kListLineMax - 1, false},
                {statefmt::kListLineMax, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.pathLength);
        std::string path = base + std::string(r.pathLength - base.size() - 4, 'p') + ".jpg";
        ASSERT_EQ(path.size(), r.pathLength);
        CFileData rec(path, "id", 0);
        EXPECT_EQ(statefmt::FitsList(rec), r.stored);
        CFileList one;
        one.AddTail(rec);
        statefmt::DecodedList back;
        const std::string written = statefmt::EncodeList(one, "", nullptr);
        statefmt::DecodeList(written.data(), written.size(), CFolderGate(folder), &back);
        EXPECT_EQ(back.records.GetCount(), r.stored ? 1 : 0);
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_EQ(engine->RecordFileAdding(rec), r.stored);
        }
    }
}

// ---- feeds keep their pools when one before them is removed ------------------------------------

TEST_F(DurabilityTest, RemovingAFeedMovesThePoolsWithTheFeeds) {
    AddFeeds(3);
    for (int i = 0; i < 3; ++i) {
        engine->ForTesting().Feeds()[i].Query = "q" + std::to_string(i);
        CLumoraItem item;
        item.Id = "pool" + std::to_string(i);
        engine->ForTesting().Feeds()[i].Items.Add(item);
    }
    engine->ForTesting().Feeds().RemoveAt(0);
    ASSERT_EQ(engine->ForTesting().Feeds().GetSize(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(engine->ForTesting().Feeds()[i].Query, "q" + std::to_string(i + 1));
        ASSERT_EQ(engine->ForTesting().Feeds()[i].Items.GetSize(), 1);
        EXPECT_EQ(engine->ForTesting().Feeds()[i].Items[0].Id, "pool" + std::to_string(i + 1));
    }
}

// ---- the free-space floor -------------------------------------------------------------------------

TEST_F(DurabilityTest, DownloadsWaitAboveTheFreeSpaceFloor) {
    const uint64_t GB = 1024ull * 1024 * 1024;
    struct Row {
        uint64_t available, total;
        bool room;
    } rows[] = {
        {2 * GB, 10 * GB, true},       // floor 1 GB
        {GB - 1, 10 * GB, false},      // below 1 GB
        {3 * GB / 2, 40 * GB, false},  // floor 5 % = 2 GB
        {3 * GB, 40 * GB, true},
        {3 * GB, 1000 * GB, false},  // 5 % would be 50 GB: the floor stops at 4 GB
        {5 * GB, 1000 * GB, true},   // so a large drive with GBs free still takes pictures
        {0, 0, true},                // the drive cannot tell: no reason to stop
    };
    static uint64_t s_available, s_total;
    FaultyFiles faults;
    faults.freeSpace = [](const std::string&, uint64_t* a, uint64_t* t, int* e) {
        if (s_total == 0) {
            *e = 1;
            return false;
        }
        *a = s_available;
        *t = s_total;
        return true;
    };
    FaultScope scope(faults);
    bool before = true;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.available) + "/" + std::to_string(r.total));
        s_available = r.available;
        s_total = r.total;
        Log::Clear();
        {
            MutexLock held(engine->StateLockForTest());
            EXPECT_EQ(engine->DiskHasRoom(), r.room);
            EXPECT_EQ(engine->DiskHasRoom(), r.room);
        }
        // One line when downloads stop, one when they go on again.
        EXPECT_EQ(Log::Lines().size(), r.room == before ? 0u : 1u) << Log::Dump();
        before = r.room;
    }
}

}  // namespace
}  // namespace ef
