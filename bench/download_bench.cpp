// Throughput of DownloadImage on one large file, memory before and after
// (an image is streamed, so the peak must stay flat), and the parse time of
// one search page. Prints "key=value" lines for download_bench.sh.
//
// usage: download_bench BASE_URL OUTFILE [ROUNDS] [MIB]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

#include "platform/env.h"
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

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: download_bench BASE_URL OUTFILE [ROUNDS] [MIB]\n");
        return 2;
    }
    std::string base = argv[1], out = argv[2];
    int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    int mib = argc > 4 ? std::atoi(argv[4]) : 50;
    plat::SetEnvVar("LUMORA_SERVICE_URL", base);
    CLumoraApi api;

    long rss0, peak0;
    Memory(&rss0, &peak0);
    std::printf("rss_before_kb=%ld\npeak_before_kb=%ld\n", rss0, peak0);

    std::string url = base + "/bench/" + std::to_string(mib) + "mb.jpg";
    std::vector<double> times;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        int result = api.DownloadImage(url, out);
        double s = Seconds(std::chrono::steady_clock::now() - t0);
        if (result != 0) {
            std::fprintf(stderr, "DownloadImage failed: %d\n", result);
            return 1;
        }
        times.push_back(s);
        std::printf("ours_round_seconds=%.4f\n", s);
    }
    std::sort(times.begin(), times.end());
    double bytes = static_cast<double>(mib) * 1024 * 1024;
    std::printf("ours_best_mib_s=%.1f\nours_median_mib_s=%.1f\n", bytes / times.front() / 1048576.0,
                bytes / times[times.size() / 2] / 1048576.0);

    long rss1, peak1;
    Memory(&rss1, &peak1);
    std::printf("rss_after_kb=%ld\npeak_after_kb=%ld\n", rss1, peak1);

    // Parse time of a real 24-item page.
    CParamList params;
    params.Append("sorting", "date_added");
    params.Append("page", "1");
    std::string page;
    if (api.QueryServerApi(base + "/api/v1/search", params, page, false, false, false) != 0) {
        std::fprintf(stderr, "search page failed: %s\n", api.m_errtext.c_str());
        return 1;
    }
    const int iterations = 2000;
    int parsed = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i) {
        CItemArray items;
        std::string seed;
        int last = 0, total = 0;
        api.ParseWallpaperArray(page, items, seed, last, total);
        parsed += items.GetSize();
    }
    double s = Seconds(std::chrono::steady_clock::now() - t0);
    std::printf("page_bytes=%zu\npage_items=%d\nparse_us_per_page=%.1f\n", page.size(), parsed / iterations,
                s / iterations * 1e6);
    return 0;
}
