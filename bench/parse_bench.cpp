// Parse time of one 24-item search page (Google Benchmark). The page is the
// file named by LUMORA_BENCH_PAGE (a page saved from the stand-in service), or a
// page built here in the service's format.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/env.h"
#include "service/api.h"

namespace {

std::string BuiltPage() {
    std::string j = "{\"data\":[";
    for (int i = 0; i < 24; ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "b%05d", i);
        std::string base = "https:\\/\\/w.example";
        j += std::string(i ? "," : "") + "{\"id\":\"" + id + "\",\"url\":\"" + base + "\\/w\\/" + id +
             "\",\"short_url\":\"" + base + "\\/" + id +
             "\",\"views\":11745,\"favorites\":104,\"source\":\"\",\"purity\":\"sfw\",\"category\":\"anime\","
             "\"dimension_x\":2560,\"dimension_y\":1440,\"resolution\":\"2560x1440\",\"ratio\":\"1.78\","
             "\"file_size\":679,\"file_type\":\"image\\/jpeg\",\"created_at\":\"2026-12-01 11:55:02\","
             "\"colors\":[\"#d056bf\",\"#60e14b\",\"#7ca972\"],\"path\":\"" +
             base + "\\/full\\/b0\\/lumora-" + id + ".jpg\",\"thumbs\":{\"large\":\"" + base +
             "\\/thumbs\\/lg\\/b0\\/" + id + ".jpg\",\"original\":\"" + base + "\\/thumbs\\/orig\\/b0\\/" +
             id + ".jpg\",\"small\":\"" + base + "\\/thumbs\\/sm\\/b0\\/" + id + ".jpg\"}}";
    }
    return j +
           "],\"meta\":{\"current_page\":1,\"last_page\":13,\"per_page\":24,\"total\":300,\"query\":null,"
           "\"seed\":null}}";
}

std::string Page() {
    std::string file = plat::GetEnvVar("LUMORA_BENCH_PAGE");
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        if (!s.str().empty()) return s.str();
    }
    return BuiltPage();
}

void BM_ParseWallpaperArray(benchmark::State& state) {
    const std::string page = Page();
    CLumoraApi api;
    for (auto _ : state) {
        CItemArray items;
        std::string seed;
        int last = 0, total = 0;
        benchmark::DoNotOptimize(api.ParseWallpaperArray(page, items, seed, last, total));
        if (items.GetSize() != 24) state.SkipWithError("the page did not give 24 items");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_ParseWallpaperArray);

}  // namespace

BENCHMARK_MAIN();
