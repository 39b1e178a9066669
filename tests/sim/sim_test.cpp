// A month in a minute: the real run loop with its refresh and download
// passes, evictions and state files on a real folder, driven on simulated
// time against a simulated service and a host that keeps showing images.
// Each scenario checks the liveness invariants after every loop step and
// prints its figures; the table of all scenarios is printed at the end.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <random>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/disk_state.h"
#include "support/run_fixture.h"

using namespace erun;

namespace {

constexpr uint64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;

// ---- the simulated service ------------------------------------------------------
enum class ItemKind { Image, Always404, NotImage };

struct CatalogSpec {
    int type = 0;                // 0 search, 1 collection
    int size = 0;                // images the service has for the feed
    const char* purity = "sfw";  // the service's purity text of its images
    int badEvery = 0;            // every n-th item is bad (0: none)
    ItemKind bad = ItemKind::Image;
};

// Fault windows repeat every day at the same time of day.
struct DailyWindow {
    uint64_t start = 0;  // offset into the day
    uint64_t length = 0;
    bool Contains(uint64_t t) const { return length && (t % kDay) >= start && (t % kDay) < start + length; }
};

struct Faults {
    DailyWindow outage;    // no connection at all (result -1)
    DailyWindow storm5xx;  // every answer 503
    DailyWindow burst429;  // every answer 429 with a Retry-After
    uint32_t retryAfterMs = 0;
};

class SimService : public CLumoraApi {
  public:
    SimClock* clock = nullptr;
    std::vector<CatalogSpec> catalogs;
    Faults faults;
    std::deque<uint64_t> recentQueries;  // times of API requests in the last minute
    int peakPerMinute = 0;
    long queries = 0, downloads = 0;
    std::string violation;  // first broken rule seen by the service

    static const int kPerPage = 24;

    ServiceAnswer QuerySearchPage(const CLumoraFeed& feed, int page, CItemArray& items, std::string& seed,
                                  int& lastPage, int& total) override {
        int key = feed.Query.compare(0, 4, "feed") == 0 ? std::atoi(feed.Query.c_str() + 4) : -1;
        seed = "simseed";
        return Page(key, feed.Purity, page, items, lastPage, total);
    }
    ServiceAnswer QueryCollectionPage(const char*, const char* collId, const char* purity, int page,
                                      CItemArray& items, int& lastPage, int& total) override {
        return Page(std::atoi(collId), purity, page, items, lastPage, total);
    }
    ServiceAnswer DownloadImage(const std::string& url, const std::string& file) override {
        const ServiceAnswer fault = Fault();
        if (!fault.Ok()) return fault;
        // "http://img.sim/<key>/<n>.jpg"
        int key = 0, n = 0;
        std::sscanf(url.c_str(), "http://img.sim/%d/%d.jpg", &key, &n);
        const ItemKind kind = KindOf(key, n);
        if (kind == ItemKind::Always404) return StatusAnswer(404);
        if (kind == ItemKind::NotImage) return KindAnswer(ServiceAnswer::kNotImage);
        ++downloads;
        return FakeClient::WriteBytes(file, "\xFF\xD8\xFF\xE0 sim");
    }

    ItemKind KindOf(int key, int n) const {
        const CatalogSpec& c = catalogs[static_cast<size_t>(key)];
        return (c.badEvery && n % c.badEvery == 0) ? c.bad : ItemKind::Image;
    }
    // Images of the feed that can ever arrive (the nsfw ones need a key).
    int Deliverable(int key) const {
        const CatalogSpec& c = catalogs[static_cast<size_t>(key)];
        if (!Visible(c)) return 0;
        if (!c.badEvery || c.bad == ItemKind::Image) return c.size;
        return c.size - (c.size + c.badEvery - 1) / c.badEvery;
    }

  private:
    bool Visible(const CatalogSpec& c) const { return std::string(c.purity) != "nsfw" || !m_apikey.empty(); }
    // What the service's state answers now (kDone: nothing in the way).
    ServiceAnswer Fault() const {
        const uint64_t t = clock->now;
        if (faults.outage.Contains(t)) return KindAnswer(ServiceAnswer::kNotSent);
        if (faults.storm5xx.Contains(t)) return StatusAnswer(503);
        if (faults.burst429.Contains(t))
            return ServiceAnswer(ServiceAnswer::kHttpStatus, 429, faults.retryAfterMs);
        return KindAnswer(ServiceAnswer::kDone);
    }
    ServiceAnswer Page(int key, const std::string&, int page, CItemArray& items, int& lastPage, int& total) {
        ++queries;
        const uint64_t t = clock->now;
        recentQueries.push_back(t);
        while (!recentQueries.empty() && recentQueries.front() + kMinute <= t) recentQueries.pop_front();
        peakPerMinute = std::max(peakPerMinute, static_cast<int>(recentQueries.size()));
        if (recentQueries.size() > 45 && violation.empty())
            violation = "more than 45 API requests within a minute at " + std::to_string(t / kSecond) + " s";
        const ServiceAnswer fault = Fault();
        if (!fault.Ok()) return fault;
        if (key < 0 || key >= static_cast<int>(catalogs.size())) return StatusAnswer(404);
        const CatalogSpec& c = catalogs[static_cast<size_t>(key)];
        const int visible = Visible(c) ? c.size : 0;
        total = visible;
        lastPage = visible == 0 ? 1 : (visible + kPerPage - 1) / kPerPage;
        for (int n = (page - 1) * kPerPage; n < visible && n < page * kPerPage; ++n) {
            CLumoraItem it;
            it.Id = "k" + std::to_string(key) + "n" + std::to_string(n);
            it.Name = it.Id + ".jpg";
            it.Url = "http://img.sim/" + std::to_string(key) + "/" + std::to_string(n) + ".jpg";
            it.FileType = "image/jpeg";
            it.Purity = c.purity;
            items.Add(it);
        }
        return KindAnswer(ServiceAnswer::kDone);
    }
};

// ---- one scenario -------------------------------------------------------------------
struct Scenario {
    const char* name = "";
    int days = 30;
    int maxLocal = 100;
    std::vector<CatalogSpec> feeds;
    uint32_t showEverySec = 5;
    uint64_t sessionPerDay = 10 * kMinute;  // the host shows images this long each day
    Faults faults;
    uint64_t deleteFolderAt = 0;     // the user deletes the "sfw" folder (0: never)
    uint64_t stopStartEvery = 0;     // host stops and starts the plug-in (0: never)
    uint64_t cacheCleanAt = 0;       // the user cleans the cache (0: never)
    uint64_t clockBackAt = 0;        // the local clock is set back 3 hours (0: never)
    uint64_t scanEvery = 6 * kHour;  // disk against list comparison
    // Runs only with LUMORA_SIM_HEAVY set: filling 20,000 files takes about
    // 20 s natively, a third of the whole table's budget.
    bool heavy = false;
    // The longest gap must stay under twice that of the same feeds with no
    // failing wallpaper (run with the same seed for the comparison).
    bool gapGoal = false;
};

CatalogSpec Search(int size, const char* purity = "sfw") {
    CatalogSpec c;
    c.size = size;
    c.purity = purity;
    return c;
}
CatalogSpec Collection(int size) {
    CatalogSpec c = Search(size);
    c.type = 1;
    return c;
}
CatalogSpec Bad(CatalogSpec c, int every, ItemKind kind) {
    c.badEvery = every;
    c.bad = kind;
    return c;
}

struct Figures {
    std::string name;
    int days = 0;
    long downloads = 0, evictions = 0;
    double longestGapMin =
        0;  // longest showing time without a new image, over the feeds that had images to give
    double gapBoundMin = 0;
    int peakPerMinute = 0;
    uint32_t longestInterval = 0;
    double realSeconds = 0;
};
std::vector<Figures>& Table() {
    static std::vector<Figures> t;
    return t;
}

// Counts log lines without keeping a month of them; keeps the last few for a
// failure message.
struct LogTally {
    long added = 0, removed = 0;
    std::vector<long> perFeed;  // downloads per feed index
    std::deque<std::string> tail;
    static LogTally*& Current() {
        static LogTally* c = nullptr;
        return c;
    }
    static int32_t LUMORA_STDCALL Callback(uint32_t code, HostWord, HostWord second) {
        LogTally* t = Current();
        if (!t || code != PHC_LOG || !second) return 1;
        const char* line = reinterpret_cast<const char*>(second);
        if (std::strncmp(line, "m_lclfiles Add: ", 16) == 0) {
            ++t->added;
            const char* f = std::strrchr(line, '(');
            int feed = -1;
            if (f && std::sscanf(f, "(feed %d)", &feed) == 1 && feed >= 0 &&
                feed < static_cast<int>(t->perFeed.size()))
                ++t->perFeed[static_cast<size_t>(feed)];
        }
        if (std::strncmp(line, "CleanDispFiles: Removed ", 24) == 0) ++t->removed;
        t->tail.push_back(line);
        if (t->tail.size() > 60) t->tail.pop_front();
        return 1;
    }
    std::string Dump() const {
        std::string s;
        for (const std::string& l : tail) s += "  " + l + "\n";
        return s;
    }
};

// The clock of the simulation: every wait of the loop is one step, and the
// invariants are checked before it.
class StepClock : public SimClock {
  public:
    std::function<void()> onStep;
    double dateShift = 0;  // days added to the local date (the user sets the clock)
    bool Wait(WakeEvent& ev, uint32_t timeoutMs) override {
        if (onStep) onStep();
        return SimClock::Wait(ev, timeoutMs);
    }
    double LocalNow() override { return SimClock::LocalNow() + dateShift; }
};

// A folder of its own in memory-backed storage where there is one (natively
// /dev/shm; under wine the same through drive Z:), else in the temporary
// folder: a month of renames on a disk would take minutes.
std::string SimFolder() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // A tag of this process in the name: runs of the simulation side by side
    // (two builds on one machine) must not share a folder.
    static const unsigned tag = std::random_device{}();
    std::string name = std::string("lumora_sim_") + info->name() + "_" + std::to_string(tag);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
    for (const char* base : {"/dev/shm", "Z:\\dev\\shm"}) {
        std::error_code ec;
        if (!std::filesystem::is_directory(base, ec)) continue;
        std::filesystem::path p = std::filesystem::path(base) / name;
        std::filesystem::remove_all(p, ec);
        if (std::filesystem::create_directories(p, ec)) return p.string();
    }
    return ::TestFolder("lumora_sim_");
}

// Real files, without the flush to the device before each rename: a month
// of state-file writes would otherwise wait on the disk for minutes, and
// power loss is not what this simulation is about.
bool CloseWithoutDeviceFlush(FILE* f) {
    const bool flushed = std::fflush(f) == 0;
    return std::fclose(f) == 0 && flushed;
}

// The seed of a run: the pick of the engine and the host's shuffle follow
// it, so a failing run can be replayed (LUMORA_SIM_SEED, default 1).
// LUMORA_SIM_SEEDS runs that many seeds in a row from there.
uint64_t FirstSeed() {
    const char* s = std::getenv("LUMORA_SIM_SEED");
    return s && *s ? std::strtoull(s, nullptr, 10) : 1;
}
int SeedCount() {
    const char* s = std::getenv("LUMORA_SIM_SEEDS");
    return s && std::atoi(s) > 0 ? std::atoi(s) : 1;
}

class Simulation {
  public:
    Simulation(const Scenario& s, uint64_t seed)
        : sc(s), seed(seed), rng(static_cast<uint32_t>(seed * 2654435761u)) {}

    Figures Run() {
        const auto realStart = std::chrono::steady_clock::now();
        folder = SimFolder();
        settings.Enabled = 1;
        settings.ImgFolder = folder;
        settings.MaxLocal = sc.maxLocal;
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        engine->ForTesting().UseClock(&clock);
        engine->ForTesting().SeedPicks(seed);
        service.clock = &clock;
        service.catalogs = sc.feeds;
        service.faults = sc.faults;
        engine->ForTesting().UseClient(&service);
        for (size_t k = 0; k < sc.feeds.size(); ++k) {
            CLumoraFeed f =
                sc.feeds[k].type == 1 ? CollectionFeed(static_cast<int>(k)) : SearchFeed(static_cast<int>(k));
            f.Purity = std::string(sc.feeds[k].purity) == "nsfw" ? "001" : "100";
            engine->ForTesting().Feeds().Add(f);
        }
        gaps.assign(sc.feeds.size(), 0);
        longestGap.assign(sc.feeds.size(), 0);
        lastDeliveredCount.assign(sc.feeds.size(), 0);
        tally.perFeed.assign(sc.feeds.size(), 0);
        LogTally::Current() = &tally;
        theApp().m_callback.store(&LogTally::Callback);
        worker = std::make_shared<CLumoraThread>();
        worker->m_engine = engine.get();
        engine->ForTesting().Thread() = worker;
        clock.onStep = [this] { Step(); };

        end = static_cast<uint64_t>(Days()) * kDay;
        ScheduleShows(0);
        clock.At(end, [this] { StopWorker(); });
        if (sc.stopStartEvery) ScheduleStopStart(sc.stopStartEvery);
        if (sc.deleteFolderAt) clock.At(sc.deleteFolderAt, [this] { DeleteSfwFolder(); });
        if (sc.cacheCleanAt) clock.At(sc.cacheCleanAt, [this] { engine->ClearCache(folder); });
        if (sc.clockBackAt) clock.At(sc.clockBackAt, [this] { clock.dateShift -= 3.0 / 24; });

        plat::FileOps ops = plat::RealFileOps();
        ops.flushClose = &CloseWithoutDeviceFlush;
        plat::SetFileOpsForTest(&ops);
        while (failure.empty() && clock.now < end) {
            closing.store(0);
            worker->InitInstance();
        }
        plat::SetFileOpsForTest(nullptr);
        if (failure.empty()) CheckDisk();
        if (failure.empty() && !service.violation.empty()) failure = service.violation;

        theApp().m_callback.store(nullptr);
        LogTally::Current() = nullptr;
        Figures fig;
        fig.name = sc.name;
        fig.days = static_cast<int>(clock.now / kDay);
        fig.downloads = tally.added;
        fig.evictions = tally.removed;
        for (uint64_t g : longestGap) fig.longestGapMin = std::max(fig.longestGapMin, g / 60000.0);
        fig.gapBoundMin = GapBound() / 60000.0;
        fig.peakPerMinute = service.peakPerMinute;
        fig.longestInterval = longestInterval;
        fig.realSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
        engine.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
        return fig;
    }

    std::string failure;
    std::string Log() const { return tally.Dump(); }

    // The bound on the longest showing time without a new image for a feed
    // that still has images to give: ten minutes, plus the longest daily
    // fault window (the service gives nothing meanwhile), plus the two minutes
    // the engine may take to notice the service is back.
    // LUMORA_SIM_DAYS shortens every scenario (for looking into one).
    int Days() const {
        const char* d = std::getenv("LUMORA_SIM_DAYS");
        return d && std::atoi(d) > 0 ? std::min(std::atoi(d), sc.days) : sc.days;
    }

    uint64_t GapBound() const {
        uint64_t fault =
            std::max({sc.faults.outage.length, sc.faults.storm5xx.length, sc.faults.burst429.length});
        return 10 * kMinute + (fault ? fault + 2 * kMinute : 0);
    }

  private:
    const Scenario& sc;
    uint64_t seed;
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0};
    std::atomic<int32_t> hosttype{0};
    StepClock clock;
    SimService service;
    std::string folder;
    std::unique_ptr<CLumoraEngine> engine;
    std::shared_ptr<CLumoraThread> worker;
    LogTally tally;
    uint64_t end = 0;
    uint64_t lastStep = 0, nextScan = 0, healDeadline = 0;
    std::vector<uint64_t> gaps, longestGap;
    std::vector<long> lastDeliveredCount;
    std::vector<std::string> playlist;
    size_t playAt = 0;
    uint32_t rng;
    uint32_t longestInterval = 0;

    bool InSession(uint64_t t) const { return (t % kDay) < sc.sessionPerDay; }
    // The part of [from, to) that lies in the daily sessions.
    uint64_t SessionTimeBetween(uint64_t from, uint64_t to) const {
        uint64_t total = 0;
        for (uint64_t day = from / kDay; day * kDay < to; ++day) {
            const uint64_t start = std::max(from, day * kDay);
            const uint64_t end = std::min(to, day * kDay + sc.sessionPerDay);
            if (end > start) total += end - start;
        }
        return total;
    }

    void StopWorker() {
        closing.store(1);
        worker->m_wakeEvent.Set();
    }
    void ScheduleStopStart(uint64_t at) {
        if (at >= end) return;
        clock.At(at, [this, at] {
            StopWorker();  // the driver loop starts it again at once
            ScheduleStopStart(at + sc.stopStartEvery);
        });
    }
    void ScheduleShows(uint64_t from) {
        // The next show: within today's session, else at the start of the next one.
        uint64_t t = from;
        if (!InSession(t)) t = (t / kDay + 1) * kDay;
        if (t >= end) return;
        clock.At(t, [this, t] {
            ShowNext();
            ScheduleShows(t + sc.showEverySec * kSecond);
        });
    }
    // The image files in the folder as the stand-in host finds them: a scan
    // of the folder and its sub-folders by extension, whatever the engine's
    // list says (an orphan is shown too).
    std::vector<std::string> ScanImages() const {
        std::vector<std::string> images;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file()) continue;
            std::string ext = it->path().extension().string();
            for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            static const char* const kHostImages[] = {".jpg", ".jpeg", ".png", ".gif",
                                                      ".bmp", ".tif",  ".webp"};
            if (std::find(std::begin(kHostImages), std::end(kHostImages), ext) != std::end(kHostImages))
                images.push_back(it->path().string());
        }
        std::sort(images.begin(), images.end());  // the scan's order is the file system's
        return images;
    }
    // The host's slideshow: the files a scan of the folder found, in a
    // shuffled order; it scans again when it has shown them all. (A round in
    // path order would leave a late folder's files unshown through a short
    // session; one that took in every new file at once would never end.)
    void ShowNext() {
        for (int tries = 0; tries < 2; ++tries) {
            while (playAt < playlist.size()) {
                const std::string& p = playlist[playAt++];
                if (plat::PathExists(p)) {
                    engine->OnFileDisplayed(p.c_str());
                    return;
                }
            }
            playlist = ScanImages();
            for (size_t i = playlist.size(); i > 1; --i) {
                rng = rng * 1103515245u + 12345u;
                std::swap(playlist[i - 1], playlist[(rng >> 8) % i]);
            }
            playAt = 0;
        }
    }
    void DeleteSfwFolder() {
        std::error_code ec;
        std::filesystem::remove_all(Join(folder, "sfw"), ec);
        healDeadline = clock.now + 6 * kMinute;  // the engine looks at its folders every 5 minutes
        nextScan = healDeadline;
    }
    void Fail(const std::string& what) {
        if (!failure.empty()) return;
        failure = "day " + std::to_string(clock.now / kDay) + " " +
                  std::to_string((clock.now % kDay) / kSecond) + " s: " + what;
        StopWorker();
    }

    // ---- the invariants, checked at every step of the loop ----
    void Step() {
        const uint64_t now = clock.now;
        // Only showing time counts: a step of the idle loop may span the
        // night and land at the start of a session.
        const uint64_t showing = SessionTimeBetween(lastStep, now);
        lastStep = now;
        int enabled = 0;
        for (const CLumoraFeed& f : engine->ForTesting().Feeds())
            if (f.IsEnabled()) ++enabled;
        if (enabled != static_cast<int>(engine->ForTesting().Feeds().GetSize()))
            Fail("a feed was disabled though no answer named it wrong");
        const int64_t limit = static_cast<int64_t>(sc.maxLocal) * std::max(enabled, 1);
        if (engine->ForTesting().CacheList().Records().GetCount() > limit)
            Fail("cache over its limit: " +
                 std::to_string(engine->ForTesting().CacheList().Records().GetCount()) + "/" +
                 std::to_string(limit));
        uint32_t interval;
        {
            MutexLock lock(engine->StateLockForTest());
            interval = engine->PacingForTesting().DownloadInterval();
        }
        longestInterval = std::max(longestInterval, interval);
        if (interval > CPacing::kMaxDownloadIntervalMs + sc.faults.retryAfterMs)
            Fail("download interval " + std::to_string(interval) + " ms beyond its cap");
        if (!service.violation.empty()) Fail(service.violation);

        // Liveness: showing time since the last new image of each feed that
        // still has images it has not delivered.
        for (size_t k = 0; k < sc.feeds.size(); ++k) {
            const long delivered = tally.perFeed[k];
            bool hasMore;
            {
                MutexLock held(engine->StateLockForTest());
                hasMore =
                    service.Deliverable(static_cast<int>(k)) > engine->CountFeedFiles(static_cast<int>(k));
            }
            if (delivered != lastDeliveredCount[k] || !hasMore) {
                gaps[k] = 0;
                lastDeliveredCount[k] = delivered;
            } else {
                gaps[k] += showing;
            }
            longestGap[k] = std::max(longestGap[k], gaps[k]);
            if (gaps[k] > GapBound())
                Fail("feed " + std::to_string(k) + " got no new image for " +
                     std::to_string(gaps[k] / kSecond) + " s of showing time");
        }
        if (now >= nextScan) {
            CheckDisk();
            nextScan = now + sc.scanEvery;
        }
    }
    // The folder against the list file and its journal ON DISK (what the
    // next start reads, and what another host would read): every image in
    // the purity folders is named there, every record there has its file,
    // no temporary file is left; and the engine's memory is the same list.
    void CheckDisk() {
        const diskstate::Folder disk = diskstate::Read(folder);
        if (!disk.temps.empty()) return Fail("temporary file left: " + disk.temps.front());
        if (disk.journalSkipped > 0)
            return Fail("journal with " + std::to_string(disk.journalSkipped) + " damaged lines");
        for (const auto& image : disk.images)
            if (!disk.records.count(image.first))
                return Fail("file not in the cache list on disk: " + image.second);
        // Records of a folder the user deleted stay until the engine's next
        // look at its folders.
        if (clock.now >= healDeadline)
            for (const auto& record : disk.records)
                if (!disk.images.count(record.first))
                    return Fail("record on disk without its file: " + record.second);
        std::set<std::string> memory;
        for (const CFileData& d : engine->ForTesting().CacheList().Records()) {
            memory.insert(FoldPathCase(d.Path));
            if (!disk.records.count(FoldPathCase(d.Path)))
                return Fail("record in memory that the list on disk lacks: " + d.Path);
        }
        for (const auto& record : disk.records)
            if (!memory.count(record.first))
                return Fail("record on disk that memory lacks: " + record.second);
    }
};  // namespace

// ---- the table --------------------------------------------------------------------
Faults Outage() {
    Faults f;
    f.outage = {4 * kMinute, 5 * kMinute};  // inside the host's session
    return f;
}
Faults Storms() {
    Faults f;
    f.storm5xx = {1 * kMinute, 8 * kMinute};
    return f;
}
Faults Bursts() {
    Faults f;
    f.burst429 = {4 * kMinute, 3 * kMinute};
    f.retryAfterMs = 90000;
    return f;
}

Scenario Named(const char* name) {
    Scenario s;
    s.name = name;
    return s;
}

std::vector<Scenario> Scenarios() {
    std::vector<Scenario> v;
    auto add = [&v](Scenario s) { v.push_back(s); };
    Scenario s;
    s = Named("large search");
    s.feeds = {Search(100000)};
    add(s);
    s = Named("collection smaller than MaxLocal");
    s.feeds = {Search(100000), Collection(30)};
    add(s);
    s = Named("empty search");
    s.feeds = {Search(100000), Search(0)};
    add(s);
    s = Named("nsfw without key");
    s.feeds = {Search(100000), Search(5000, "nsfw")};
    add(s);
    s = Named("MaxLocal 5");
    s.maxLocal = 5;
    s.feeds = {Search(100000), Collection(2)};
    add(s);
    s = Named("MaxLocal 100, three feeds");
    s.feeds = {Search(100000), Search(3000, "sketchy"), Collection(500)};
    add(s);
    s = Named("MaxLocal 1000");
    s.maxLocal = 1000;
    s.feeds = {Search(100000)};
    add(s);
    s = Named("MaxLocal 20000");
    s.maxLocal = 20000;
    s.feeds = {Search(100000)};
    s.scanEvery = 5 * kDay;
    s.heavy = true;
    add(s);
    s = Named("several feeds mixed");
    s.maxLocal = 20;
    s.feeds = {Search(100000), Collection(7), Search(0), Search(900, "nsfw"), Search(4000, "sketchy")};
    add(s);
    s = Named("URL that always 404s");
    s.feeds = {Bad(Search(100000), 4, ItemKind::Always404)};
    s.gapGoal = true;
    add(s);
    s = Named("never an image");
    s.feeds = {Bad(Search(100000), 3, ItemKind::NotImage)};
    s.gapGoal = true;
    add(s);
    s = Named("5xx storms");
    s.feeds = {Search(100000), Collection(300)};
    s.faults = Storms();
    add(s);
    s = Named("five-minute outage each day");
    s.feeds = {Search(100000), Collection(300)};
    s.faults = Outage();
    add(s);
    s = Named("429 bursts");
    s.feeds = {Search(100000), Collection(300)};
    s.faults = Bursts();
    add(s);
    s = Named("purity folder deleted");
    s.feeds = {Search(100000), Search(5000, "sketchy")};
    s.deleteFolderAt = 2 * kDay + 5 * kMinute;
    add(s);
    s = Named("stop and start every hour");
    s.feeds = {Search(100000), Collection(40)};
    s.stopStartEvery = kHour;
    add(s);
    s = Named("cache clean");
    s.feeds = {Search(100000), Collection(40)};
    s.cacheCleanAt = 3 * kDay + 10 * kMinute;
    add(s);
    s = Named("clock set back");
    s.feeds = {Search(100000)};
    s.clockBackAt = 2 * kDay + 6 * kMinute;
    add(s);
    return v;
}

class LivenessSim : public ::testing::TestWithParam<Scenario> {};

TEST_P(LivenessSim, KeepsDeliveringForAMonth) {
    const Scenario& sc = GetParam();
    if (sc.heavy && !std::getenv("LUMORA_SIM_HEAVY")) GTEST_SKIP() << "set LUMORA_SIM_HEAVY to run it";
    const uint64_t first = FirstSeed();
    const int runs = SeedCount();
    for (uint64_t seed = first; seed < first + static_cast<uint64_t>(runs); ++seed) {
        Simulation sim(sc, seed);
        Figures fig = sim.Run();
        ASSERT_TRUE(sim.failure.empty())
            << sc.name << " (seed " << seed << "): " << sim.failure << "\nlast log lines:\n"
            << sim.Log();
        ASSERT_GE(fig.days, std::getenv("LUMORA_SIM_DAYS") ? 1 : sc.days) << sc.name << " seed " << seed;
        ASSERT_GT(fig.downloads, 0) << sc.name << " seed " << seed;
        if (sc.gapGoal) {
            // The same feeds, every wallpaper good, the same seed.
            Scenario good = sc;
            for (CatalogSpec& c : good.feeds) c.badEvery = 0;
            Simulation reference(good, seed);
            const Figures ref = reference.Run();
            ASSERT_TRUE(reference.failure.empty()) << reference.failure;
            ASSERT_LT(fig.longestGapMin, 2 * ref.longestGapMin)
                << sc.name << " seed " << seed << ": longest gap " << fig.longestGapMin * 60 << " s against "
                << ref.longestGapMin * 60 << " s with no failing wallpaper";
        }
        if (seed == first) {
            std::printf(
                "[ sim      ] %-34s %3d days %8ld downloads %8ld evictions  gap %6.1f min (bound %4.1f)  "
                "%2d API/min peak  %6.2f s\n",
                fig.name.c_str(), fig.days, fig.downloads, fig.evictions, fig.longestGapMin, fig.gapBoundMin,
                fig.peakPerMinute, fig.realSeconds);
            Table().push_back(fig);
        }
    }
    if (std::getenv("LUMORA_SIM_SEEDS"))  // scripts/sim-seeds.sh sums these lines
        std::printf("[ sim      ] %-34s %d seeds from %llu passed\n", sc.name, runs,
                    static_cast<unsigned long long>(first));
}

INSTANTIATE_TEST_SUITE_P(Month, LivenessSim, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

// Prints the figures of every scenario as one Markdown table.
class TablePrinter : public ::testing::Environment {
  public:
    void TearDown() override {
        if (Table().empty()) return;
        std::printf(
            "\n| scenario | simulated days | downloads | evictions | longest time without a new image "
            "(min, bound) | API requests/min at peak | longest download interval (s) | real time (s) |\n");
        std::printf("|---|---|---|---|---|---|---|---|\n");
        for (const Figures& f : Table())
            std::printf("| %s | %d | %ld | %ld | %.1f (%.0f) | %d | %.0f | %.1f |\n", f.name.c_str(), f.days,
                        f.downloads, f.evictions, f.longestGapMin, f.gapBoundMin, f.peakPerMinute,
                        f.longestInterval / 1000.0, f.realSeconds);
    }
};
const ::testing::Environment* const g_printer = ::testing::AddGlobalTestEnvironment(new TablePrinter);

}  // namespace
