// The flat cache list and id set: record order, slot reuse, the oldest of
// duplicate paths, character packing, folded paths and removal while
// iterating, each checked against a plain list of copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "common/records.h"
#include "engine/file_list.h"
#include "engine/id_set.h"
#include "engine/line_text.h"
#include "engine/path.h"
#include "engine/state_format.h"

namespace {

// What the list must hold: copies in order, duplicates allowed.
struct Model {
    std::list<CFileData> items;

    void Add(const CFileData& d) { items.push_back(d); }
    // The oldest record with a path equal under folding, or null.
    const CFileData* Find(const std::string& path) const {
        for (const CFileData& d : items)
            if (FoldPathCase(d.Path) == FoldPathCase(path)) return &d;
        return nullptr;
    }
    void RemoveOldest(const std::string& path) {
        for (auto it = items.begin(); it != items.end(); ++it)
            if (FoldPathCase(it->Path) == FoldPathCase(path)) {
                items.erase(it);
                return;
            }
    }
    int CountFeed(int feed) const {
        int n = 0;
        for (const CFileData& d : items) n += d.FeedIndex == feed ? 1 : 0;
        return n;
    }
};

std::string Show(const CFileList& list) {
    std::string out;
    for (const CFileView d : list) out += std::string(d.Path) + "|" + std::string(d.Id) + " ";
    return out;
}
std::string Show(const Model& model) {
    std::string out;
    for (const CFileData& d : model.items) out += d.Path + "|" + d.Id + " ";
    return out;
}

// Order, count, per-feed counts, every Find, and the walk back from end().
void ExpectSame(const CFileList& list, const Model& model, const std::string& where) {
    ASSERT_EQ(Show(list), Show(model)) << where;
    ASSERT_EQ(list.GetCount(), static_cast<int>(model.items.size())) << where;
    std::vector<std::string> backwards;
    for (auto it = list.end(); it != list.begin();) backwards.push_back(std::string((--it)->Path));
    ASSERT_EQ(backwards.size(), model.items.size()) << where;
    auto m = model.items.rbegin();
    for (size_t k = 0; k < backwards.size(); ++k, ++m) ASSERT_EQ(backwards[k], m->Path) << where;
    for (int feed = -1; feed < 4; ++feed) ASSERT_EQ(list.CountFeed(feed), model.CountFeed(feed)) << where;
    for (const CFileData& d : model.items) {
        const CFileData* want = model.Find(d.Path);
        auto got = list.Find(d.Path);
        ASSERT_TRUE(got != list.end()) << where << " " << d.Path;
        ASSERT_EQ(got->Id, want->Id) << where << " " << d.Path;
    }
}

// ---- tables of operations ------------------------------------------------------------
// "+path:id:feed" adds, "-path" removes the oldest record with that path.
struct OpsCase {
    const char* name;
    std::vector<std::string> ops;
    std::string order;  // the list afterwards, as Show prints it
};

void Apply(const std::string& op, CFileList& list, Model& model) {
    if (op[0] == '+') {
        const size_t a = op.find(':'), b = op.find(':', a + 1);
        CFileData d(op.substr(1, a - 1), op.substr(a + 1, b - a - 1), std::stoi(op.substr(b + 1)));
        list.AddTail(d);
        model.Add(d);
    } else {
        const std::string path = op.substr(1);
        auto it = list.Find(path);
        ASSERT_TRUE(it != list.end()) << op;
        list.RemoveAt(it);
        model.RemoveOldest(path);
    }
}

class FileListOps : public ::testing::TestWithParam<OpsCase> {};

TEST_P(FileListOps, KeepOrderCountsAndOldestMatch) {
    const OpsCase& c = GetParam();
    CFileList list;
    Model model;
    for (const std::string& op : c.ops) {
        Apply(op, list, model);
        ExpectSame(list, model, std::string(c.name) + " after " + op);
    }
    EXPECT_EQ(Show(list), c.order);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileListOps,
    ::testing::Values(
        // Freed slots are taken by later records, which still come last.
        OpsCase{"SlotReuseKeepsOrder",
                {"+a:1:0", "+b:2:0", "+c:3:1", "+d:4:1", "-b", "-c", "+e:5:2", "+f:6:2", "-a", "+g:7:0"},
                "d|4 e|5 f|6 g|7 "},
        // The oldest duplicate is found; once it goes, the next oldest.
        OpsCase{"OldestDuplicateAfterTheOlderGoes",
                {"+x.jpg:old:0", "+y.jpg:y:1", "+X.JPG:mid:2", "+x.jpg:new:3", "-x.jpg", "-X.jpg"},
                "y.jpg|y x.jpg|new "},
        // A duplicate added into a reused slot is still the younger one.
        OpsCase{"DuplicateInAReusedSlotIsYounger",
                {"+p:1:0", "+q:2:0", "+dup:old:0", "-p", "+dup:young:1", "-q"},
                "dup|old dup|young "},
        // Head and tail removals, down to empty and up again.
        OpsCase{"EmptyAndRefilled", {"+a:1:0", "+b:2:0", "-a", "-b", "+c:3:1", "+a:4:1"}, "c|3 a|4 "},
        // Paths that differ only in ASCII case are one path.
        OpsCase{"AsciiCaseFolds",
                {"+\\Img\\A.jpg:1:0", "+\\img\\a.JPG:2:0", "-\\IMG\\A.JPG"},
                "\\img\\a.JPG|2 "}),
    [](const ::testing::TestParamInfo<OpsCase>& i) { return std::string(i.param.name); });

// Long runs of additions and removals grow the index, reuse slots and pack
// the characters many times over; after each step the list equals the model.
TEST(FileList, ChurnMatchesACopyAtEveryStep) {
    CFileList list;
    Model model;
    uint32_t r = 12345;
    auto next = [&r] { return r = r * 1103515245u + 12345u, (r >> 8) & 0xFFFF; };
    for (int step = 0; step < 3000; ++step) {
        const unsigned roll = next();
        if (model.items.empty() || roll % 5 < 3) {
            // Few distinct names, so duplicates and case variants are common.
            std::string path = "/img/sfw/" + std::string(roll % 3 ? "pic" : "PIC") +
                               std::to_string(roll % 97) + std::string(roll % 40, 'x') + ".jpg";
            CFileData d(path, "id" + std::to_string(step), static_cast<int>(roll % 4));
            list.AddTail(d);
            model.Add(d);
        } else {
            auto m = model.items.begin();
            std::advance(m, roll % model.items.size());
            const std::string path = m->Path;
            list.RemoveAt(list.Find(path));
            model.RemoveOldest(path);
        }
        if (step % 50 == 0 || step > 2950) ExpectSame(list, model, "step " + std::to_string(step));
    }
}

// Removing most records packs the characters again: the ones left keep
// their paths and ids, and churn at a steady size does not grow the memory.
TEST(FileList, PackingKeepsEveryPathAndIdAndBoundsMemory) {
    CFileList list;
    Model model;
    for (int i = 0; i < 400; ++i) {
        CFileData d("/img/sfw/" + std::string(50, 'a' + i % 26) + std::to_string(i) + ".jpg",
                    "w" + std::to_string(i), i % 3);
        list.AddTail(d);
        model.Add(d);
    }
    for (int i = 0; i < 400; ++i) {
        if (i % 7 == 0) continue;
        const std::string path = "/img/sfw/" + std::string(50, 'a' + i % 26) + std::to_string(i) + ".jpg";
        list.RemoveAt(list.Find(path));
        model.RemoveOldest(path);
    }
    ExpectSame(list, model, "after the removals");
    const size_t steady = list.HeapBytes();
    for (int i = 0; i < 20000; ++i) {
        const std::string path = "/img/sfw/churn" + std::to_string(i) + std::string(60, 'c') + ".jpg";
        list.AddTail(path, "c" + std::to_string(i), 1);
        list.RemoveAt(list.Find(path));
    }
    ExpectSame(list, model, "after the churn");
    // Without packing the characters alone would pass 1.5 MB.
    EXPECT_LT(list.HeapBytes(), steady + 64 * 1024);
}

// Paths with bytes of 0x80 and above are one path exactly when the code
// page's folding says so (Windows folds the Latin-1 letters).
TEST(FileList, NonAsciiPathsFoldAsTheCodePageDoes) {
    struct Case {
        std::string stored, asked;
    };
    const Case cases[] = {
        {"/img/\xC4pfel.jpg", "/img/\xE4pfel.jpg"},       {"/img/\xE4PFEL.jpg", "/img/\xC4pfel.JPG"},
        {"/img/\xC4pfel.jpg", "/img/Bpfel.jpg"},          {"/img/\xC4pfel.jpg", "/img/\xC5pfel.jpg"},
        {"/img/caf\xC3\xA9.jpg", "/img/CAF\xC3\xA9.jpg"},
    };
    for (const Case& c : cases) {
        CFileList list;
        list.AddTail(c.stored, "id", 0);
        list.AddTail("/img/other.jpg", "o", 0);
        const bool same = FoldPathCase(c.stored) == FoldPathCase(c.asked);
        EXPECT_EQ(list.Find(c.asked) != list.end(), same) << c.asked;
        EXPECT_TRUE(list.Find(c.stored) != list.end()) << c.stored;
    }
    CFileList list;
    list.AddTail("/img/caf\xC3\xA9.jpg", "id", 0);
    EXPECT_TRUE(list.Find("/IMG/CAF\xC3\xA9.JPG") != list.end());
#ifdef _WIN32
    list.AddTail("/img/\xC4pfel.jpg", "a", 0);
    EXPECT_TRUE(list.Find("/img/\xE4PFEL.jpg") != list.end());
#endif
}

// Removing while iterating (a pass dropping records whose files are gone):
// the position handed back is the next record, even when the removal packs
// the characters under the loop.
TEST(FileList, RemovalWhileIteratingVisitsEachRecordOnce) {
    for (int keepEvery : {1, 2, 3, 1000}) {
        CFileList list;
        Model model;
        for (int i = 0; i < 300; ++i) {
            CFileData d("/img/" + std::to_string(i) + std::string(30, 'p'), std::to_string(i), i % 4);
            list.AddTail(d);
            if (i % keepEvery == 0) model.Add(d);
        }
        int visited = 0;
        for (CFileList::iterator it = list.begin(); it != list.end();) {
            ++visited;
            if (std::stoi(std::string(it->Id)) % keepEvery != 0)
                it = list.RemoveAt(it);
            else
                ++it;
        }
        EXPECT_EQ(visited, 300) << keepEvery;
        ExpectSame(list, model, "keep every " + std::to_string(keepEvery));
    }
}

// A record copied from the list into itself while its characters move.
TEST(FileList, AddingACopyOfItsOwnRecordSurvivesGrowth) {
    CFileList list;
    list.AddTail("/img/first-record-with-a-long-name.jpg", "first", 2);
    for (int i = 0; i < 200; ++i) list.AddTail(list.GetHead());
    ASSERT_EQ(list.GetCount(), 201);
    for (const CFileView d : list) {
        EXPECT_EQ(d.Path, "/img/first-record-with-a-long-name.jpg");
        EXPECT_EQ(d.Id, "first");
    }
    EXPECT_EQ(list.CountFeed(2), 201);
}

TEST(FileList, RemovingAtEndRaisesInvalidArgument) {
    CFileList list;
    list.AddTail("/a", "a", 0);
    EXPECT_THROW(list.RemoveAt(list.end()), CInvalidArgException);
    auto it = list.begin();
    list.RemoveAt(it);
    EXPECT_THROW(list.RemoveAt(it), CInvalidArgException);  // already removed
    EXPECT_TRUE(list.IsEmpty());
}

// A count line is no promise: a short file claiming millions of records is
// not sized for them (a 32-bit host would run out of memory), and what it
// does hold is read.
TEST(FileList, ReaderSizesTheListByTheFileNotByItsCount) {
    const std::string folder = "/img";
    struct Case {
        const char* count;
        int records;
    };
    for (const Case& c : {Case{"9999999", 1}, Case{"10000000", 1}, Case{"2", 1}, Case{"-1", 1}}) {
        const std::string bytes = std::string("[Veduta Lumora List v3]\r\n") + c.count +
                                  "\r\n0\r\n\r\nid1\r\n" + folder + "/sfw/a.jpg\r\n0\r\n";
        statefmt::DecodedList list;
        statefmt::DecodeList(bytes.data(), bytes.size(), CFolderGate(folder, PathStyle::kPosix), &list);
        EXPECT_EQ(list.records.GetCount(), c.records) << c.count;
        EXPECT_LT(list.records.HeapBytes(), 64u * 1024) << c.count;
    }
}

// ---- the id set ------------------------------------------------------------------------
TEST(IdSet, KeepsEachIdOnceInOrderOfAddition) {
    // Lengths around the one- and two-byte length prefixes.
    const std::vector<std::string> ids = {"a",
                                          "A",
                                          "",
                                          std::string(127, 'x'),
                                          std::string(128, 'x'),
                                          std::string(16383, 'y'),
                                          std::string(16384, 'y'),
                                          "w1000001",
                                          std::string("nul\0inside", 10)};
    CIdSet set;
    for (const std::string& id : ids) EXPECT_TRUE(set.insert(id)) << id.size();
    for (const std::string& id : ids) EXPECT_FALSE(set.insert(id)) << id.size();
    // Enough more to rehash several times.
    for (int i = 0; i < 5000; ++i) EXPECT_TRUE(set.insert("n" + std::to_string(i)));
    EXPECT_EQ(set.size(), ids.size() + 5000);
    for (const std::string& id : ids) EXPECT_EQ(set.count(id), 1u) << id.size();
    EXPECT_EQ(set.count("nul"), 0u);
    EXPECT_EQ(set.count(std::string(129, 'x')), 0u);
    std::vector<std::string> listed;
    for (std::string_view id : set) listed.push_back(std::string(id));
    ASSERT_EQ(listed.size(), set.size());
    for (size_t k = 0; k < ids.size(); ++k) EXPECT_EQ(listed[k], ids[k]) << k;
    EXPECT_EQ(listed.back(), "n4999");
    set.clear();
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.count("a"), 0u);
    EXPECT_TRUE(set.begin() == set.end());
}

// ---- control characters ----------------------------------------------------------------
// The check runs eight bytes at a time: one bad byte at each position of a
// text among neighbours of every kind.
TEST(LineText, HasControlFindsABadByteAtEveryPosition) {
    const unsigned char bad[] = {0x00, 0x01, 0x09, 0x0A, 0x0D, 0x1F, 0x7F};
    const unsigned char good[] = {0x20, 0x21, 0x41, 0x7E, 0x80, 0x9F, 0xA0, 0xFF};
    for (unsigned char fill : good) {
        for (size_t len = 0; len <= 19; ++len) {
            const std::string clean(len, static_cast<char>(fill));
            EXPECT_FALSE(HasControl(clean)) << int(fill) << " " << len;
            for (size_t pos = 0; pos < len; ++pos)
                for (unsigned char b : bad) {
                    std::string text = clean;
                    text[pos] = static_cast<char>(b);
                    EXPECT_TRUE(HasControl(text)) << int(fill) << " " << len << " " << pos << " " << int(b);
                }
        }
    }
    // Mixed good bytes whose borrows could meet.
    EXPECT_FALSE(HasControl(std::string("\x20\x80\x20\xFF\x21\x7E\xA0\x20\x20\x80", 10)));
    EXPECT_FALSE(HasControl(std::string("\x80\x20\x20\x20\x20\x20\x20\x20\x7E\x80", 10)));
}

}  // namespace
