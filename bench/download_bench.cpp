// Image transfers through DownloadImage, for bench/transfer_bench.sh, which
// runs curl against the same server in the same run. Prints "key=value"
// lines; asserts nothing.
//
// usage:
//   download_bench big URL OUTFILE [ROUNDS]   one large file, ROUNDS times (default 1);
//                                             memory before and after (an image is streamed)
//   download_bench many LISTFILE OUTDIR       every URL of LISTFILE (one a line), one after another
//   download_bench stop URL OUTFILE AFTER_MS  starts a transfer, raises the stop flag after AFTER_MS
//                                             and cancels, as the worker's stop does; prints how long
//                                             the transfer took to end after the stop
//   download_bench parse PAGEFILE [ITER]      parse time of a saved search page
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

#include "service/api.h"

namespace {

// Resident and peak resident memory of this process, in KiB.
void Memory(long* rssKb, long* peakKb) {
    *rssKb = *peakKb = -1;
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS pmc;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) {
        *rssKb = static_cast<long>(pmc.WorkingSetSize / 1024);
        *peakKb = static_cast<long>(pmc.PeakWorkingSetSize / 1024);
    }
#else
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        std::sscanf(line, "VmRSS: %ld", rssKb);
        std::sscanf(line, "VmHWM: %ld", peakKb);
    }
    std::fclose(f);
#endif
}

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

long long FileSize(const std::string& path) {
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    return f ? static_cast<long long>(f.tellg()) : -1;
}

int Big(const std::string& url, const std::string& out, int rounds) {
    CLumoraApi api;
    long rss0, peak0;
    Memory(&rss0, &peak0);
    std::printf("rss_before_kb=%ld\npeak_before_kb=%ld\n", rss0, peak0);
    for (int r = 0; r < rounds; ++r) {
        auto t0 = Clock::now();
        int result = api.DownloadImage(url, out).Code();
        double s = Seconds(Clock::now() - t0);
        if (result != 0) {
            std::fprintf(stderr, "DownloadImage failed: %d\n", result);
            return 1;
        }
        std::printf("seconds=%.4f\nbytes=%lld\n", s, FileSize(out));
    }
    long rss1, peak1;
    Memory(&rss1, &peak1);
    std::printf("rss_after_kb=%ld\npeak_after_kb=%ld\n", rss1, peak1);
    return 0;
}

int Many(const std::string& list, const std::string& outDir) {
    std::ifstream in(list);
    std::vector<std::string> urls;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) urls.push_back(line);
    }
    CLumoraApi api;
    auto t0 = Clock::now();
    for (size_t i = 0; i < urls.size(); ++i) {
        std::string out = outDir + "/" + std::to_string(i) + ".jpg";
        int result = api.DownloadImage(urls[i], out).Code();
        if (result != 0) {
            std::fprintf(stderr, "DownloadImage %s failed: %d\n", urls[i].c_str(), result);
            return 1;
        }
    }
    std::printf("files=%zu\nseconds=%.4f\n", urls.size(), Seconds(Clock::now() - t0));
    return 0;
}

int Stop(const std::string& url, const std::string& out, int afterMs) {
    std::atomic<int32_t> stop{0};
    CLumoraApi api;
    api.m_stop = &stop;
    std::atomic<bool> ended{false};
    int result = 0;
    Clock::time_point endedAt;
    std::thread worker([&] {
        result = api.DownloadImage(url, out).Code();
        endedAt = Clock::now();
        ended.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
    bool endedEarly = ended.load();
    auto stopAt = Clock::now();
    stop.store(1);
    api.CancelTransfer();
    worker.join();
    std::printf("result=%d\nended_before_stop=%d\nstop_ms=%.1f\nfile_left=%d\n", result, endedEarly ? 1 : 0,
                endedEarly ? 0.0 : Seconds(endedAt - stopAt) * 1000.0, FileSize(out) >= 0 ? 1 : 0);
    return 0;
}

int Parse(const std::string& pageFile, int iterations) {
    std::ifstream in(pageFile, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string page = ss.str();
    if (page.empty()) {
        std::fprintf(stderr, "no page in %s\n", pageFile.c_str());
        return 1;
    }
    CLumoraApi api;
    int parsed = 0;
    auto t0 = Clock::now();
    for (int i = 0; i < iterations; ++i) {
        CItemArray items;
        std::string seed;
        int last = 0, total = 0;
        api.ParseWallpaperArray(page, items, seed, last, total);
        parsed += items.GetSize();
    }
    double s = Seconds(Clock::now() - t0);
    std::printf("page_bytes=%zu\npage_items=%d\nparse_us_per_page=%.1f\n", page.size(), parsed / iterations,
                s / iterations * 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "big" && argc >= 4) return Big(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 1);
    if (mode == "many" && argc >= 4) return Many(argv[2], argv[3]);
    if (mode == "stop" && argc >= 5) return Stop(argv[2], argv[3], std::atoi(argv[4]));
    if (mode == "parse" && argc >= 3) return Parse(argv[2], argc > 3 ? std::atoi(argv[3]) : 2000);
    std::fprintf(
        stderr,
        "usage: download_bench big URL OUTFILE [ROUNDS] | many LISTFILE OUTDIR | stop URL OUTFILE AFTER_MS"
        " | parse PAGEFILE [ITER]\n");
    return 2;
}
