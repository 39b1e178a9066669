// Engine costs at the scale of a big cache: 100k cached records over 10
// feeds and 100k shown-file reports. Each pass decision must stay far below
// a millisecond (per-feed counts and a path index, no list walks); reading
// and writing the cache list, at 100k and 1M records, is compared with a raw
// read/write of the same bytes (and a raw read plus a line split) in the
// same run.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "platform/fs.h"

namespace {

constexpr int kFeeds = 10;
constexpr int kRecords = 100000;
constexpr int kPerFeed = kRecords / kFeeds;

// One image folder per list size, so the lists of both sizes stay apart.
std::string Folder(int records = kRecords) {
    auto p = std::filesystem::temp_directory_path() / ("lumora_engine_bench_" + std::to_string(records));
    std::filesystem::create_directories(p);
    return p.string();
}

std::string PathOf(int i, int records = kRecords) {
    return Folder(records) + "/sfw/lumora-" + std::to_string(1000000 + i) + ".jpg";
}
std::string IdOf(int i) {
    return "w" + std::to_string(1000000 + i);
}

// The passes must not touch the disk or the network here: transfers answer
// 404 at once and file operations pretend.
class NoNetwork : public CLumoraApi {
  public:
    ServiceAnswer QuerySearchPage(const CLumoraFeed&, int, CItemArray&, std::string&, int&, int&) override {
        return ServiceAnswer{ServiceAnswer::kUnreadable, 0, 0};
    }
    ServiceAnswer QueryCollectionPage(const char*, const char*, const char*, int, CItemArray&, int&,
                                      int&) override {
        return ServiceAnswer{ServiceAnswer::kUnreadable, 0, 0};
    }
    ServiceAnswer DownloadImage(const std::string&, const std::string&) override {
        ++transfers;
        return ServiceAnswer(ServiceAnswer::kHttpStatus, 404);
    }
    int64_t transfers = 0;  // transfers tried: a pass benchmark shows it measured real passes
};

class NoSleep : public Clock {
  public:
    uint32_t TickCount() override { return 0; }
    void Sleep(uint32_t) override {}
    bool Wait(WakeEvent&, uint32_t) override { return false; }
    double LocalNow() override { return 46082.5; }
};

// Ten minutes pass between two readings: every pause a failed transfer asks
// for is over by the next pass, as when passes come far apart.
class StridingClock : public NoSleep {
  public:
    uint32_t TickCount() override { return m_tick += 600000; }

  private:
    uint32_t m_tick = 0;
};

// The cached files and the folders exist (a pass that heals the list must
// find them all); no other file does, so new names are free.
bool FakeExists(const std::string& path) {
    if (path.find("/sfw/lumora-") != std::string::npos) return true;
    // The image folder and its purity folders are there (a pass looks).
    const size_t slash = path.find_last_of('/');
    return path.find("lumora_engine_bench_") != std::string::npos &&
           path.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos;
}
bool FakeDelete(const std::string&, int*) {
    return true;
}
bool FakeCreateFolder(const std::string&, int*) {
    return true;
}
FILE* NoOpen(const std::string&, const char*) {
    return nullptr;
}

struct Fixture {
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0};
    std::atomic<int32_t> hosttype{0};
    NoNetwork client;
    NoSleep clock;
    CLumoraEngine engine{settings, closing, hosttype};

    explicit Fixture(int maxLocal, int records = kRecords, bool shown = true) {
        settings.ImgFolder = Folder(records);
        settings.MaxLocal = maxLocal;
        engine.ForTesting().UseClient(&client);
        engine.ForTesting().UseClock(&clock);
        for (int f = 0; f < kFeeds; ++f) {
            CLumoraFeed feed;
            feed.Query = "feed" + std::to_string(f);
            feed.Page = 3;
            feed.LastPage = 40;
            for (int k = 0; k < 50; ++k) {
                CLumoraItem item;
                item.Id = "p" + std::to_string(f) + "-" + std::to_string(k);
                item.Name = item.Id + ".jpg";
                item.Url = "http://127.0.0.1:1/full/" + item.Name;
                item.FileType = "image/jpeg";
                item.Purity = "sfw";
                feed.Items.Add(item);
            }
            engine.ForTesting().Feeds().Add(feed);
        }
        for (int i = 0; i < records; ++i)
            engine.ForTesting().CacheList().Records().AddTail(
                CFileData(PathOf(i, records), IdOf(i), i % kFeeds));
        for (int i = 0; shown && i < records; ++i)
            engine.ForTesting().ShownFiles().AddTail(CFileData(PathOf(i, records), "", -1));
        engine.RebuildIdMap();
    }
};

// File operations that never reach the disk: the benchmarks of decisions
// measure the decisions, not a write of 100k records at the end of a pass.
struct OffDisk {
    plat::FileOps ops;
    OffDisk() {
        ops = plat::RealFileOps();
        ops.exists = &FakeExists;
        ops.deleteFile = &FakeDelete;
        ops.createFolder = &FakeCreateFolder;
        ops.open = &NoOpen;
        plat::SetFileOpsForTest(&ops);
    }
    ~OffDisk() { plat::SetFileOpsForTest(nullptr); }
};

// A whole refresh pass over 10 feeds that are all at their per-feed limit,
// at 100k records. Every pass ends by writing the cache list; with the disk
// off, that still formats all 100k records (compare BM_WriteLocalFileList).
void BM_RefreshPass(benchmark::State& state) {
    Fixture fx(kPerFeed);
    OffDisk off;
    for (auto _ : state) benchmark::DoNotOptimize(fx.engine.Refresh(0));
    state.counters["records"] = fx.engine.ForTesting().CacheList().Records().GetCount();
}
BENCHMARK(BM_RefreshPass)->Unit(benchmark::kMicrosecond);

// The pass's decisions alone: the same 10 feeds, 100k records and 100k
// shown files, with the records counted per feed but the list write left
// out (the writer finds no records to format: they are moved aside and put
// back around the pass, which costs two pointer swaps).
void BM_RefreshPassDecision(benchmark::State& state) {
    Fixture fx(kPerFeed);
    OffDisk off;
    CFileList aside;
    // Gate on the per-feed limit through the counts of the real list, then
    // let the writer see an empty one.
    for (auto _ : state) {
        int decided = 0;
        for (int i = 0; i < fx.engine.ForTesting().Feeds().GetSize(); ++i) {
            MutexLock held(fx.engine.StateLockForTest());
            decided += fx.engine.CountFeedFiles(i) >= fx.settings.MaxLocal;
        }
        std::swap(aside, fx.engine.ForTesting().CacheList().Records());
        fx.settings.MaxLocal = 0;  // same gate result with the list aside
        benchmark::DoNotOptimize(fx.engine.Refresh(0));
        fx.settings.MaxLocal = kPerFeed;
        std::swap(aside, fx.engine.ForTesting().CacheList().Records());
        benchmark::DoNotOptimize(decided);
    }
    state.counters["records"] = fx.engine.ForTesting().CacheList().Records().GetCount();
}
BENCHMARK(BM_RefreshPassDecision)->Unit(benchmark::kMicrosecond);

// A download pass that finds room, picks a feed and an item, names the file
// and tries the transfer (answered 404 at once; a pass may try up to eight
// when each fails for its wallpaper alone). A wallpaper that failed is tried
// again only after the untried ones, and a feed whose pool holds only failed
// ones waits for its next page, so outside the timing every pool starts over
// after each pass (its failures forgotten, as a new page does): every timed
// pass tries transfers (the counter transfers_per_pass says how many; an idle
// pass that finds nothing to fetch costs a hundred times less).
void BM_DownloadPassDecision(benchmark::State& state) {
    Fixture fx(kPerFeed + 1);
    fx.engine.ForTesting().SeedPicks(1);  // the same picks in every run
    OffDisk off;
    StridingClock striding;
    fx.engine.ForTesting().UseClock(&striding);
    std::vector<CItemArray> full;
    for (int f = 0; f < fx.engine.ForTesting().Feeds().GetSize(); ++f)
        full.push_back(fx.engine.ForTesting().Feeds()[f].Items);
    uint32_t interval = 2000;
    int64_t passes = 0;
    const int64_t before = fx.client.transfers;
    for (auto _ : state) {
        interval = 2000;
        benchmark::DoNotOptimize(fx.engine.DownloadImages(&interval));
        ++passes;
        state.PauseTiming();
        for (int f = 0; f < fx.engine.ForTesting().Feeds().GetSize(); ++f) {
            fx.engine.RotateFeed(f);  // forgets the failures of the pooled wallpapers
            CLumoraFeed& feed = fx.engine.ForTesting().Feeds()[f];
            feed.Items = full[static_cast<size_t>(f)];
            feed.Page = 3;
            feed.LastPage = 40;
        }
        state.ResumeTiming();
    }
    state.counters["records"] = fx.engine.ForTesting().CacheList().Records().GetCount();
    state.counters["transfers_per_pass"] =
        passes ? static_cast<double>(fx.client.transfers - before) / static_cast<double>(passes) : 0;
}
BENCHMARK(BM_DownloadPassDecision)->Unit(benchmark::kMicrosecond);

// The host reports a file that is already on record: it moves to the tail.
void BM_OnFileDisplayed(benchmark::State& state) {
    Fixture fx(kPerFeed);
    std::vector<std::string> paths;
    for (int i = 0; i < kRecords; i += 7) paths.push_back(PathOf(i));
    size_t k = 0;
    for (auto _ : state) {
        fx.engine.OnFileDisplayed(paths[k].c_str());
        if (++k == paths.size()) k = 0;
    }
    state.counters["shown"] = fx.engine.ForTesting().ShownFiles().GetCount();
}
BENCHMARK(BM_OnFileDisplayed)->Unit(benchmark::kMicrosecond);

// One eviction (the oldest report's file deleted and its record dropped),
// then the same file cached and reported again so the sizes stay put.
void BM_EvictOne(benchmark::State& state) {
    Fixture fx(kPerFeed);
    OffDisk off;
    for (auto _ : state) {
        const CFileData head = fx.engine.ForTesting().ShownFiles().GetHead();
        {
            std::lock_guard<Mutex> g(fx.engine.ShownLockForTest());
            {
                MutexLock held(fx.engine.StateLockForTest());
                MutexLock shown(fx.engine.ShownLockForTest());
                fx.engine.CleanDispFiles(1);
            }
        }
        fx.engine.ForTesting().CacheList().Records().AddTail(CFileData(head.Path, "again", 0));
        fx.engine.ForTesting().ShownFiles().AddTail(head);
    }
    state.counters["records"] = fx.engine.ForTesting().CacheList().Records().GetCount();
}
BENCHMARK(BM_EvictOne)->Unit(benchmark::kMicrosecond);

// ---- bytes written per change at 100k records -----------------------------------------
// Each change to the cache (an eviction, a download) goes to the journal at
// once; the list itself is written whole only once the journal holds a
// sixteenth of its records. The file operations are the real ones except
// that the device flush is left out (it writes nothing more), and every byte
// the engine hands to a file is counted.
uint64_t g_bytesWritten = 0;
uint64_t g_largestWrite = 0;
bool CountingWrite(FILE* f, const void* data, size_t size) {
    g_bytesWritten += size;
    if (size > g_largestWrite) g_largestWrite = size;
    return plat::RealFileOps().write(f, data, size);
}
bool CloseWithoutFlush(FILE* f) {
    return f && std::fclose(f) == 0;
}

// One iteration: a record evicted (its removal in the journal, the pass's end
// save), or the same record cached again (its addition, the save).
void BM_BytesWrittenPerChange(benchmark::State& state) {
    const int records = kRecords;
    Fixture fx(records, records, false);
    std::filesystem::remove(Folder(records) + "/vdt_vd_files.jnl");
    {
        MutexLock held(fx.engine.StateLockForTest());
        fx.engine.SaveFileList(ListSave::kAlways);
        fx.engine.ReadLocalFileList();
    }
    plat::FileOps ops = plat::RealFileOps();
    ops.write = &CountingWrite;
    ops.flushClose = &CloseWithoutFlush;
    plat::SetFileOpsForTest(&ops);
    g_bytesWritten = g_largestWrite = 0;
    int64_t changes = 0, fullWrites = 0;
    const CFileData record(PathOf(0, records), IdOf(0), 0);
    for (auto _ : state) {
        std::lock_guard<Mutex> lock(fx.engine.StateLockForTest());
        const bool evict = changes % 2 == 0;
        const bool journalWasThere = std::filesystem::exists(Folder(records) + "/vdt_vd_files.jnl");
        if (evict) {
            {
                MutexLock held(fx.engine.StateLockForTest());
                fx.engine.RecordFileRemoving(record);
            }
            fx.engine.ForTesting().CacheList().Records().RemoveAt(
                fx.engine.ForTesting().CacheList().Records().Find(record.Path));
        } else {
            {
                MutexLock held(fx.engine.StateLockForTest());
                fx.engine.RecordFileAdding(record);
            }
            fx.engine.ForTesting().CacheList().Records().AddTail(record);
        }
        fx.engine.ForTesting().CacheList().SetDirty(1);
        {
            MutexLock held(fx.engine.StateLockForTest());
            fx.engine.SaveFileList(ListSave::kPassEnd);
        }
        if (journalWasThere && !std::filesystem::exists(Folder(records) + "/vdt_vd_files.jnl")) ++fullWrites;
        ++changes;
    }
    plat::SetFileOpsForTest(nullptr);
    state.counters["bytes_per_change"] = static_cast<double>(g_bytesWritten) / static_cast<double>(changes);
    state.counters["largest_write"] = static_cast<double>(g_largestWrite);
    state.counters["full_writes"] = static_cast<double>(fullWrites);
    state.counters["records"] = fx.engine.ForTesting().CacheList().Records().GetCount();
}
BENCHMARK(BM_BytesWrittenPerChange)->Iterations(12500)->Unit(benchmark::kMicrosecond);

// ---- the cache list against raw I/O of the same bytes ---------------------------------
// Each runs at 100k and 1M records (the argument); the list file of that size
// is written first where a benchmark needs it.
std::string ListPath(int records) {
    return Folder(records) + "/vdt_vd_files.lst";
}

// Written once per run, so a list left by an older build is never measured.
void EnsureList(int records) {
    static std::set<int> written;
    if (!written.insert(records).second) return;
    Fixture fx(records, records, false);
    {
        MutexLock held(fx.engine.StateLockForTest());
        fx.engine.SaveFileList(ListSave::kAlways);
    }
}

void BM_WriteLocalFileList(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    Fixture fx(records, records, false);
    for (auto _ : state) {
        MutexLock held(fx.engine.StateLockForTest());  // as a pass holds it
        fx.engine.SaveFileList(ListSave::kAlways);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(std::filesystem::file_size(ListPath(records))));
}
BENCHMARK(BM_WriteLocalFileList)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

std::vector<char> ListBytes(int records) {
    EnsureList(records);
    std::vector<char> bytes(std::filesystem::file_size(ListPath(records)));
    FILE* f = std::fopen(ListPath(records).c_str(), "rb");
    size_t got = f ? std::fread(bytes.data(), 1, bytes.size(), f) : 0;
    if (f) std::fclose(f);
    bytes.resize(got);
    return bytes;
}

// Raw write with the same durability as the list writer: a temporary file,
// flushed to the device, moved over the old one.
// The references' timed work is a function of its own (not inlined), so
// bench/callgrind.sh can count its instructions apart from the set-up.
__attribute__((noinline)) void RawDurableWrite(const std::vector<char>& bytes, const std::string& tmp,
                                               const std::string& target) {
    FILE* f = plat::OpenFile(tmp, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    plat::FlushClose(f);
    plat::MoveReplace(tmp, target);
}

void BM_RawWriteSameBytes(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    std::vector<char> bytes = ListBytes(records);
    const std::string tmp = Folder(records) + "/raw.tmp", target = Folder(records) + "/raw.bin";
    for (auto _ : state) RawDurableWrite(bytes, tmp, target);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_RawWriteSameBytes)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ReadLocalFileList(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    EnsureList(records);
    Fixture fx(records, 0, false);
    fx.settings.ImgFolder = Folder(records);
    for (auto _ : state) {
        MutexLock held(fx.engine.StateLockForTest());  // as a pass holds it
        fx.engine.ReadLocalFileList();
    }
    state.counters["records"] = fx.engine.ForTesting().CacheList().Records().GetCount();
}
BENCHMARK(BM_ReadLocalFileList)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_RawReadSameBytes(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    EnsureList(records);
    std::vector<char> bytes(std::filesystem::file_size(ListPath(records)));
    for (auto _ : state) {
        FILE* f = plat::OpenFile(ListPath(records), "rb");
        benchmark::DoNotOptimize(std::fread(bytes.data(), 1, bytes.size(), f));
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_RawReadSameBytes)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The least a reader of a line-based file does: read the bytes and find the
// lines (views into the buffer, nothing copied).
__attribute__((noinline)) void RawReadAndSplit(const std::string& path, std::vector<char>& bytes,
                                               std::vector<std::string_view>& lines) {
    FILE* f = plat::OpenFile(path, "rb");
    size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    lines.clear();
    size_t start = 0;
    for (size_t i = 0; i < got; ++i) {
        if (bytes[i] != '\n') continue;
        size_t end = i > start && bytes[i - 1] == '\r' ? i - 1 : i;
        lines.emplace_back(bytes.data() + start, end - start);
        start = i + 1;
    }
}

void BM_RawReadAndSplitLines(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    EnsureList(records);
    std::vector<char> bytes(std::filesystem::file_size(ListPath(records)));
    std::vector<std::string_view> lines;
    for (auto _ : state) {
        RawReadAndSplit(ListPath(records), bytes, lines);
        benchmark::DoNotOptimize(lines.data());
    }
    state.counters["lines"] = static_cast<double>(lines.size());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_RawReadAndSplitLines)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Heap bytes per cached record: the record in m_lclfiles (slot, characters,
// path index cell, per-feed count) plus its id in m_ids. Large blocks come
// from mmap and are counted apart from the arena's.
size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void BM_MemoryPerCachedRecord(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CLumoraSettings settings;
        std::atomic<int32_t> closing{0}, hosttype{0};
        const size_t before = HeapInUse();
        {
            CLumoraEngine engine(settings, closing, hosttype);
            const size_t empty = HeapInUse();
            for (int i = 0; i < records; ++i)
                engine.ForTesting().CacheList().Records().AddTail(
                    CFileData(PathOf(i, records), IdOf(i), i % kFeeds));
            {
                MutexLock held(engine.StateLockForTest());
                engine.RebuildIdMap();
            }
            const size_t full = HeapInUse();
            state.counters["bytes_per_record"] = static_cast<double>(full - empty) / records;
            state.counters["path_and_id_chars"] =
                static_cast<double>(PathOf(0, records).size() + IdOf(0).size());
        }
        benchmark::DoNotOptimize(before);
    }
}
BENCHMARK(BM_MemoryPerCachedRecord)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
