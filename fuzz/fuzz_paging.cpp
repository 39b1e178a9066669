// The paging file, any damage, for one to four feeds: seeds read carry no
// control characters, and the file written from what was read reads back
// equal.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/state_box.h"

namespace {

struct Paging {
    std::string seed;
    int page, lastPage;
    bool operator==(const Paging& o) const { return seed == o.seed && page == o.page && lastPage == o.lastPage; }
};

std::vector<Paging> Read(StateBox& box, int feeds) {
    box.Reset();
    for (int i = 0; i < feeds; ++i) box.engine->m_feeds.Add(CLumoraFeed());
    box.engine->ReadPagingState();
    std::vector<Paging> out;
    for (const CLumoraFeed& f : box.engine->m_feeds) out.push_back(Paging{f.Seed, f.Page, f.LastPage});
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StateBox box("lumora_fuzz_paging");
    if (size == 0) return 0;
    const int feeds = 1 + data[0] % 4;
    box.Write("vdt_vd_paging.lst", std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    const std::vector<Paging> first = Read(box, feeds);
    for (const Paging& p : first)
        for (unsigned char c : p.seed) FUZZ_CHECK(c >= 0x20 && c != 0x7F, FuzzShow(p.seed));
    box.engine->WritePagingState();
    FUZZ_CHECK(Read(box, feeds) == first, "the paging written from what was read reads back different");
    return 0;
}
