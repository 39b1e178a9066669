// Shown-file reports, eviction, clearing a cache, and the status rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/state_format.h"
#include "engine/worker.h"
#include "support/file_fixture.h"

namespace ef {
namespace {

class CleaningTest : public EngineFixture {
  protected:
    // Creates a cached image (and its side file when asked) and records it.
    std::string Cache(const std::string& sub, const std::string& name, int feed = 0, bool side = true) {
        std::filesystem::create_directories(std::filesystem::path(In({sub})));
        std::string path = In({sub, name});
        WriteBytes(path, "image");
        if (side) WriteBytes(SidePathOf(path), "side");
        engine->ForTesting().CacheList().Records().AddTail(CFileData(path, "id-" + name, feed));
        return path;
    }
    std::vector<std::string> Shown() {
        std::vector<std::string> out;
        for (const CFileData& d : engine->ForTesting().ShownFiles()) out.push_back(d.Path);
        return out;
    }
    void Evict(int count) {
        MutexLock data(engine->StateLockForTest());  // as a pass holds them
        MutexLock shown(engine->ShownLockForTest());
        engine->CleanDispFiles(count);
    }
};

TEST_F(CleaningTest, ReportsMoveToTheTailOnce) {
    struct Row {
        std::vector<const char*> reports;
        std::vector<std::string> expected;
    } rows[] = {
        {{"a.jpg", "b.jpg", "A.JPG"}, {"b.jpg", "A.JPG"}},
        {{"a.jpg", "b.jpg", "c.jpg", "b.jpg"}, {"a.jpg", "c.jpg", "b.jpg"}},
        {{"a.jpg", "a.jpg", "a.jpg"}, {"a.jpg"}},
        {{"", "a.jpg", nullptr}, {"a.jpg"}},  // empty and null reports record nothing
    };
    for (const Row& r : rows) {
        engine->ForTesting().ShownFiles().RemoveAll();
        for (const char* p : r.reports) engine->OnFileDisplayed(p);
        EXPECT_EQ(Shown(), r.expected);
    }
}

TEST_F(CleaningTest, ReportWakesTheWorker) {
    auto worker = std::make_shared<CLumoraThread>();
    worker->m_engine = engine.get();
    engine->ForTesting().Thread() = worker;
    engine->OnFileDisplayed("");
    EXPECT_EQ(worker->m_downloadRequest.load(), 0);
    EXPECT_FALSE(worker->m_wakeEvent.TryTake());
    engine->OnFileDisplayed("x.jpg");  // any path, cached or not
    EXPECT_EQ(worker->m_downloadRequest.load(), 1);
    EXPECT_TRUE(worker->m_wakeEvent.TryTake());
    engine->ForTesting().Thread().reset();
}

TEST_F(CleaningTest, ReportsFromAnotherThreadWhileEvicting) {
    // The host reports while the worker consumes: no report may be lost.
    for (int i = 0; i < 200; ++i) Cache("sfw", std::to_string(i) + ".jpg", 0, false);
    std::atomic<bool> hostDone{false};
    std::thread host([&] {
        for (int i = 0; i < 200; ++i)
            engine->OnFileDisplayed(In({"sfw", std::to_string(i) + ".jpg"}).c_str());
        hostDone = true;
    });
    for (;;) {
        bool finished = hostDone.load();  // read before the step, so a last report is still seen
        MutexLock data(engine->StateLockForTest());
        MutexLock g(engine->ShownLockForTest());
        engine->CleanDispFiles(1);
        if (finished && engine->ForTesting().ShownFiles().IsEmpty()) break;
    }
    host.join();
    EXPECT_EQ(engine->ForTesting().CacheList().Records().GetCount(), 0);
    EXPECT_TRUE(engine->ForTesting().ShownFiles().IsEmpty());
}

TEST_F(CleaningTest, EvictionOutcomes) {
    struct Row {
        const char* what;
        int injected;  // 0: the real deletion
        bool removed;
        const char* line;  // %s = path
    } rows[] = {
        {"deleted", 0, true, "CleanDispFiles: Removed %s"},
        {"already gone", plat::kErrFileNotFound, true, "CleanDispFiles: Removed %s"},
        {"locked", plat::kErrSharingViolation, false, "CleanDispFiles: Unable to Remove %s, error 32"},
        {"denied", plat::kErrAccessDenied, false, "CleanDispFiles: Unable to Remove %s, error 5"},
        // The user deleted the purity folder: the file is gone with it.
        {"folder gone", plat::kErrPathNotFound, true, "CleanDispFiles: Removed %s"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        engine->ForTesting().CacheList().Records().RemoveAll();
        std::string keep = Cache("sfw", "keep.jpg");
        std::string path = Cache("sfw", "a.jpg");
        engine->OnFileDisplayed(path.c_str());
        engine->ForTesting().CacheList().SetDirty(0);
        FaultyFiles faults;
        int injected = r.injected;
        faults.failDelete = [&](const std::string& p, int* e) {
            if (injected == 0 || p != path) return false;
            *e = injected;
            return true;
        };
        Log::Clear();
        {
            FaultScope scope(faults);
            Evict(1);
        }
        std::vector<std::string> expected{keep};
        if (!r.removed) expected.push_back(path);
        EXPECT_EQ(Paths(), expected);
        EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), r.removed ? 1 : 0);
        char line[1024];
        std::snprintf(line, sizeof line, r.line, path.c_str());
        EXPECT_EQ(Log::Lines(), std::vector<std::string>{line});
        EXPECT_TRUE(engine->ForTesting().ShownFiles().IsEmpty());  // the report is consumed either way
        // The side file goes with the image; the other file stays.
        if (r.injected == 0) {
            EXPECT_FALSE(FileExists(path));
            EXPECT_FALSE(FileExists(SidePathOf(path)));
        }
        EXPECT_TRUE(FileExists(keep));
        EXPECT_TRUE(FileExists(SidePathOf(keep)));
    }
}

TEST_F(CleaningTest, EvictionTakesReportsOldestFirst) {
    std::string a = Cache("sfw", "a.jpg"), b = Cache("sfw", "b.jpg"), c = Cache("sfw", "c.jpg");
    engine->OnFileDisplayed(In({"sfw", "B.JPG"}).c_str());
    engine->OnFileDisplayed(In({"elsewhere.jpg"}).c_str());  // not in the cache
    engine->OnFileDisplayed(a.c_str());
    engine->OnFileDisplayed(c.c_str());
    Evict(1);  // b (reported with another case)
    EXPECT_EQ(Paths(), (std::vector<std::string>{a, c}));
    Evict(1);  // the foreign report: consumed, nothing deleted
    EXPECT_EQ(Paths(), (std::vector<std::string>{a, c}));
    EXPECT_EQ(Shown().size(), 2u);
    Evict(0);  // nothing
    EXPECT_EQ(Shown().size(), 2u);
    Evict(5);  // more than there are: stops when the reports run out
    EXPECT_TRUE(Paths().empty());
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(Log::LinesStartingWith("CleanDispFiles: Removed").size(), 3u) << Log::Dump();
}

TEST_F(CleaningTest, DeleteLocalFileTakesTheSideFileAlong) {
    std::string img = Cache("sfw", "a.jpg");
    int error = -1;
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->DeleteLocalFile(img, &error), 1);
    }
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(FileExists(img));
    EXPECT_FALSE(FileExists(In({"sfw", "a.vprop"})));

    // Missing image: error 2, and a missing side file is no problem.
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->DeleteLocalFile(img, &error), 0);
    }
    EXPECT_EQ(error, plat::kErrFileNotFound);
    // Missing folder: error 3.
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->DeleteLocalFile(In({"gone", "a.jpg"}), &error), 0);
    }
    EXPECT_EQ(error, plat::kErrPathNotFound);

    // A dot only in a folder name: the side file is the one beside the image,
    // never a file named after the folder one level up.
    std::filesystem::create_directories(std::filesystem::path(In({"a.d"})));
    WriteBytes(In({"a.vprop"}), "not a side file of it");
    WriteBytes(In({"a.d", "noext"}), "image");
    WriteBytes(In({"a.d", "noext.vprop"}), "side");
    {
        MutexLock held(engine->StateLockForTest());
        EXPECT_EQ(engine->DeleteLocalFile(In({"a.d", "noext"})), 1);
    }
    EXPECT_TRUE(FileExists(In({"a.vprop"})));
    EXPECT_FALSE(FileExists(In({"a.d", "noext.vprop"})));
}

TEST_F(CleaningTest, CleanLocalFilesKeepsWhatCannotBeDeleted) {
    std::string a = Cache("sfw", "a.jpg"), locked = Cache("sfw", "locked.jpg"), c = Cache("nsfw", "c.jpg");
    std::string gone = In({"sfw", "gone.jpg"});
    engine->ForTesting().CacheList().Records().AddTail(CFileData(gone, "g", 0));
    FaultyFiles faults;
    faults.failDelete = [&](const std::string& p, int* e) {
        if (p != locked) return false;
        *e = plat::kErrSharingViolation;
        return true;
    };
    {
        FaultScope scope(faults);
        {
            MutexLock held(engine->StateLockForTest());
            engine->CleanLocalFiles();
        }
    }
    EXPECT_EQ(Paths(), std::vector<std::string>{locked});
    EXPECT_EQ(Log::Lines(), (std::vector<std::string>{
                                "CleanLocalFiles: Removed " + a,
                                "CleanLocalFiles: Unable to Remove " + locked + ", error 32",
                                "CleanLocalFiles: Removed " + c, "CleanLocalFiles: Removed " + gone}));
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 1);
    EXPECT_FALSE(FileExists(a));
    EXPECT_TRUE(FileExists(locked));
}

TEST_F(CleaningTest, ClearCacheResetsEverything) {
    AddFeeds(2);
    for (int i = 0; i < 2; ++i) {
        CLumoraFeed& f = engine->ForTesting().Feeds()[i];
        f.Seed = "seed";
        f.Page = 4;
        f.LastPage = 9;
        f.Retries = 2;
        f.Flg = i == 0 ? CLumoraFeed::kEnabled : 0;
        CLumoraItem it;
        it.Id = "pooled" + std::to_string(i);
        f.Items.Add(it);
    }
    std::string a = Cache("sfw", "a.jpg"), b = Cache("sketchy", "b.png", 1);
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
        engine->WritePagingState();
    }
    engine->ForTesting().CacheList().Records().RemoveAll();  // the clean works from the file
    {
        MutexLock held(engine->StateLockForTest());
        engine->RebuildIdMap();
    }
    engine->ForTesting().CacheList().LastTime().m_dt = 45000.25;
    engine->OnFileDisplayed(a.c_str());
    uint32_t generation = engine->ForTesting().Generation();

    engine->ClearCache(folder);

    EXPECT_FALSE(FileExists(a));
    EXPECT_FALSE(FileExists(b));
    EXPECT_FALSE(FileExists(SidePathOf(a)));
    EXPECT_FALSE(FileExists(PagingPath()));
    EXPECT_EQ(Show(ReadBytes(ListPath())),
              Show("[Veduta Lumora List v3]\r\n0\r\n0\r\n" + plat::OleDateToText(kOleDate2000) + "\r\n"));
    for (int i = 0; i < 2; ++i) {
        const CLumoraFeed& f = engine->ForTesting().Feeds()[i];
        EXPECT_TRUE(f.Items.IsEmpty());
        EXPECT_EQ(f.Seed, "");
        EXPECT_EQ(f.Page, 0);
        EXPECT_EQ(f.LastPage, 0);
        EXPECT_EQ(f.Retries, 2);
        EXPECT_EQ(f.Flg, i == 0 ? CLumoraFeed::kEnabled : 0);
    }
    EXPECT_TRUE(engine->ForTesting().Ids().empty());
    EXPECT_TRUE(engine->ForTesting().CacheList().Records().IsEmpty());
    EXPECT_EQ(engine->ForTesting().CacheList().LastTime().m_dt, kOleDate2000);
    EXPECT_NE(engine->ForTesting().Generation(), generation);
    EXPECT_EQ(Shown(), std::vector<std::string>{a});  // reports are left alone
}

TEST_F(CleaningTest, ClearCacheWithEmptyFolderChangesNothing) {
    AddFeeds(1);
    engine->ForTesting().Feeds()[0].Page = 3;
    std::string a = Cache("sfw", "a.jpg");
    engine->ForTesting().Ids().insert("id-a.jpg");
    uint32_t generation = engine->ForTesting().Generation();
    engine->ClearCache("");
    EXPECT_TRUE(FileExists(a));
    EXPECT_EQ(Paths(), std::vector<std::string>{a});
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 3);
    EXPECT_EQ(engine->ForTesting().Ids().size(), 1u);
    EXPECT_EQ(engine->ForTesting().Generation(), generation);
    EXPECT_FALSE(FileExists(ListPath()));
    EXPECT_TRUE(Log::Lines().empty());
}

TEST_F(CleaningTest, ClearCacheWithoutListWritesEmptyListAndDropsPaging) {
    AddFeeds(1);
    {
        MutexLock held(engine->StateLockForTest());
        engine->WritePagingState();
    }
    WriteBytes(In({"unlisted.jpg"}), "user's own file");
    engine->ClearCache(folder);
    EXPECT_TRUE(FileExists(In({"unlisted.jpg"})));  // never named by a list: never deleted
    EXPECT_FALSE(FileExists(PagingPath()));
    EXPECT_EQ(ReadBytes(ListPath()),
              "[Veduta Lumora List v3]\r\n0\r\n0\r\n" + plat::OleDateToText(kOleDate2000) + "\r\n");
}

TEST_F(CleaningTest, ClearCacheKeepsFailedRecordsAndNeverLeavesTheFolder) {
    namespace fs = std::filesystem;
    std::string parent = fs::path(folder).parent_path().string();
    std::string victim = parent + Sep() + "lumora_ef_victim_" +
                         std::to_string(reinterpret_cast<uintptr_t>(this) % 100000) + ".jpg";
    WriteBytes(victim, "precious");
    WriteBytes(SidePathOf(victim), "precious too");
    std::string a = Cache("sfw", "a.jpg"), locked = Cache("sfw", "locked.jpg");
    engine->ForTesting().CacheList().Records().AddTail(CFileData(victim, "v", 0));
    engine->ForTesting().CacheList().Records().AddTail(
        CFileData(In({"sfw", "..", "..", fs::path(victim).filename().string()}), "w", 0));
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    FaultyFiles faults;
    faults.failDelete = [&](const std::string& p, int* e) {
        if (p != locked) return false;
        *e = plat::kErrSharingViolation;
        return true;
    };
    {
        FaultScope scope(faults);
        engine->ClearCache(folder);
    }
    EXPECT_TRUE(FileExists(victim));
    EXPECT_TRUE(FileExists(SidePathOf(victim)));
    for (const std::string& d : faults.deleted) EXPECT_TRUE(PathInsideFolder(d, folder)) << d;
    EXPECT_EQ(Log::LinesStartingWith("ReadLocalFileList: record outside the folder dropped").size(), 2u)
        << Log::Dump();
    EXPECT_TRUE(Log::Has("CleanLocalFiles: Unable to Remove " + locked + ", error 32")) << Log::Dump();
    // The new list holds only the record whose deletion failed.
    EXPECT_EQ(ReadBytes(ListPath()),
              Crlf("[Veduta Lumora List v3]\n1\n0\n" + plat::OleDateToText(kOleDate2000) +
                   "\nid-locked.jpg\n" + locked + "\n0\n"));
    EXPECT_EQ(Paths(), std::vector<std::string>{locked});
    std::error_code ec;
    fs::remove(fs::path(victim), ec);
    fs::remove(fs::path(SidePathOf(victim)), ec);
}

TEST_F(CleaningTest, ClearCacheOfAnotherFolderKeepsTheImageFolderList) {
    // The Local Cache dialog may clean a folder typed but not yet confirmed.
    std::string mine = Cache("sfw", "mine.jpg");
    engine->ForTesting().Ids().insert("id-mine.jpg");
    engine->ForTesting().CacheList().SetDirty(1);
    std::string other = In({"other"});
    std::filesystem::create_directories(std::filesystem::path(other + Sep() + "sfw"));
    std::string theirs = other + Sep() + "sfw" + Sep() + "theirs.jpg";
    WriteBytes(theirs, "x");
    WriteBytes(other + Sep() + "vdt_vd_paging.lst", "[Lumora Paging v1]\r\n0\r\n");
    WriteBytes(other + Sep() + "vdt_vd_files.lst",
               Crlf("[Veduta Lumora List v3]\n1\n0\n\nT\n" + theirs + "\n0\n"));
    AddFeeds(1);
    engine->ForTesting().Feeds()[0].Page = 5;

    engine->ClearCache(other);

    EXPECT_FALSE(FileExists(theirs));
    EXPECT_TRUE(FileExists(mine));
    EXPECT_FALSE(FileExists(other + Sep() + "vdt_vd_paging.lst"));
    EXPECT_EQ(ReadBytes(other + Sep() + "vdt_vd_files.lst"),
              "[Veduta Lumora List v3]\r\n0\r\n0\r\n" + plat::OleDateToText(kOleDate2000) + "\r\n");
    EXPECT_EQ(Paths(), std::vector<std::string>{mine});
    EXPECT_EQ(engine->ForTesting().CacheList().Dirty(), 1);
    EXPECT_EQ(engine->ForTesting().Ids().count("id-mine.jpg"), 1u);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 0);  // paging restarts all the same
}

TEST_F(CleaningTest, ClearCacheWaitsForAPassHoldingTheData) {
    std::string a = Cache("sfw", "a.jpg");
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
    }
    std::atomic<bool> done{false};
    std::unique_lock<Mutex> pass(engine->StateLockForTest());  // a pass is deciding
    std::thread host([&] {
        engine->ClearCache(folder);
        done = true;
    });
    // The pass may still use its data: nothing changed under it.
    for (int i = 0; i < 50 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(done.load());
    EXPECT_EQ(Paths(), std::vector<std::string>{a});
    pass.unlock();
    host.join();
    EXPECT_TRUE(done.load());
    EXPECT_FALSE(FileExists(a));
}

class CacheStatusTest : public EngineFixture {
  protected:
    std::vector<std::pair<std::string, std::string>> Rows(const std::string& f) {
        std::vector<std::string> names{"Sychronization status:"}, values{""};
        engine->GetCacheStatus(f, names, values);
        EXPECT_EQ(names.size(), values.size());
        std::vector<std::pair<std::string, std::string>> out;
        // The free-space row depends on the machine: its own test below.
        for (size_t i = 1; i < names.size() && i < values.size(); ++i)
            if (names[i] != "Free space:") out.emplace_back(names[i], values[i]);
        return out;
    }
};

// The user sees why no picture arrives on a nearly full drive: the free space
// and the floor below which downloads wait (a few GB at most), for a folder
// that exists, with or without a list; none for a folder that does not.
TEST_F(CacheStatusTest, ShowsTheFreeSpaceAndTheFloorBelowWhichDownloadsWait) {
    const std::string missing = In({"absent"});
    for (const std::string& f : {folder, missing}) {
        std::vector<std::string> names, values;
        engine->GetCacheStatus(f, names, values);
        ASSERT_EQ(names.size(), values.size());
        auto row = std::find(names.begin(), names.end(), "Free space:");
        if (f == missing) {
            EXPECT_EQ(row, names.end()) << "a row for a folder that does not exist";
            continue;
        }
        ASSERT_NE(row, names.end());
        const std::string value = values[row - names.begin()];
        unsigned long long freeMb = 0, floorMb = 0;
        ASSERT_EQ(std::sscanf(value.c_str(), "%llu MB; downloads wait below %llu MB", &freeMb, &floorMb), 2)
            << value;
        EXPECT_GE(floorMb, 1024u) << value;
        EXPECT_LE(floorMb, 4096u) << value;
    }
}

TEST_F(CacheStatusTest, Table) {
    typedef std::vector<std::pair<std::string, std::string>> R;
    std::string list12 = "[Veduta Lumora List v3]\n12\n0\n\n";
    for (int i = 0; i < 12; ++i) list12 += "id\n" + In({std::to_string(i) + ".jpg"}) + "\n0\n";
    const std::string paging2 = "[Lumora Paging v1]\n2\nseed\n3\n40\n\n0\n0\n";
    struct Row {
        const char* what;
        const char* list;  // nullptr: no file
        const char* paging;
        R rows;
    } rows[] = {
        {"12 records, two feeds",
         list12.c_str(),
         paging2.c_str(),
         {{"Cached Files:", "12"}, {"Feeds Status:", ""}, {"Current Page:", "3"}, {"Last Page:", "40"}}},
        {"no list, paging present", nullptr, paging2.c_str(), {}},
        {"list with a wrong header", "[Veduta Lumora List V3]\n12\n0\n\n", paging2.c_str(), {}},
        {"no paging file", "[Veduta Lumora List v3]\n0\n0\n\n", nullptr, {{"Cached Files:", "0"}}},
        {"paging with a wrong header",
         "[Veduta Lumora List v3]\n0\n0\n\n",
         "[Lumora Paging v2]\n1\ns\n1\n2\n",
         {{"Cached Files:", "0"}}},
        {"v2 with files found",
         "[Veduta Lumora List v2]\n3\n250\n\n",
         "[Lumora Paging v1]\n0\n",
         {{"Cached Files:", "3"}, {"Total Files found:", "250"}, {"Feeds Status:", ""}}},
        {"v1, LF only, hex count",
         "[Veduta Lumora List]\n0x10\n0\n",
         "[Lumora Paging v1]\n3\na\n1\n2\nb\n7\n8\nc\n9\n",
         {{"Cached Files:", "16"},
          {"Feeds Status:", ""},
          {"Current Page:", "1"},
          {"Last Page:", "2"},
          {"Current Page:", "7"},
          {"Last Page:", "8"}}},
        {"huge and negative counts",
         "[Veduta Lumora List v3]\n99999999999999\n-5\n",
         "[Lumora Paging v1]\n-1\na\n1\n2\n",
         {{"Cached Files:", "2147483647"}, {"Feeds Status:", ""}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::error_code ec;
        std::filesystem::remove(std::filesystem::path(ListPath()), ec);
        std::filesystem::remove(std::filesystem::path(PagingPath()), ec);
        if (r.list) WriteBytes(ListPath(), Crlf(r.list));
        if (r.paging) WriteBytes(PagingPath(), r.paging);
        EXPECT_EQ(Rows(folder), r.rows);
    }
}

TEST_F(CacheStatusTest, ShowsTheFilesNotTheMemory) {
    AddFeeds(1);
    engine->ForTesting().Feeds()[0].Page = 2;
    engine->ForTesting().Feeds()[0].LastPage = 5;
    engine->ForTesting().CacheList().Records().AddTail(CFileData(In({"a.jpg"}), "a", 0));
    EXPECT_TRUE(Rows(folder).empty());
    {
        MutexLock held(engine->StateLockForTest());
        engine->SaveFileList(ListSave::kAlways);
        engine->WritePagingState();
    }
    typedef std::vector<std::pair<std::string, std::string>> R;
    EXPECT_EQ(
        Rows(folder),
        (R{{"Cached Files:", "1"}, {"Feeds Status:", ""}, {"Current Page:", "2"}, {"Last Page:", "5"}}));
    // With a trailing separator the same files are found.
    EXPECT_EQ(Rows(folder + Sep()).size(), 4u);
}

// A list of more than 2,000 records is written whole only when its journal
// holds a sixteenth of them: the row counts what is cached, journal included.
TEST_F(CacheStatusTest, CountsTheJournalOfALongList) {
    {
        MutexLock held(engine->StateLockForTest());
        engine->ReadLocalFileList();
    }
    std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
    for (int i = 0; i < 2100; ++i)
        engine->ForTesting().CacheList().Records().AddTail(
            CFileData(In({"sfw", std::to_string(i) + ".jpg"}), "id" + std::to_string(i), 0));
    engine->ForTesting().CacheList().SetDirty(1);
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->SaveFileList(ListSave::kNow));
    }
    std::vector<std::string> added;
    for (int i = 0; i < 40; ++i) {
        const std::string p = In({"sfw", "new" + std::to_string(i) + ".jpg"});
        {
            MutexLock held(engine->StateLockForTest());
            ASSERT_TRUE(engine->RecordFileAdding(CFileData(p, "new" + std::to_string(i), 0)));
        }
        WriteBytes(p, "image");
        engine->ForTesting().CacheList().Records().AddTail(CFileData(p, "new" + std::to_string(i), 0));
        added.push_back(p);
    }
    engine->ForTesting().CacheList().SetDirty(1);
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->SaveFileList(ListSave::kIfChanged));
    }
    ASSERT_TRUE(FileExists(In({statefmt::kJournalName})));  // the list on disk still says 2,100
    EXPECT_EQ(Rows(folder).at(0), (std::pair<std::string, std::string>{"Cached Files:", "2140"}));
    // A removal in the journal counts too, and so does a download whose
    // rename did not happen (its file is not there).
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->RecordFileRemoving(CFileData(added[0], "new0", 0)));
    }
    std::filesystem::remove(std::filesystem::path(added[0]));
    {
        MutexLock held(engine->StateLockForTest());
        ASSERT_TRUE(engine->RecordFileAdding(CFileData(In({"sfw", "never.jpg"}), "never", 0)));
    }
    EXPECT_EQ(Rows(folder).at(0), (std::pair<std::string, std::string>{"Cached Files:", "2139"}));
}

}  // namespace
}  // namespace ef
