// The paging file, any damage: seeds read carry no control characters, and
// the file written from what was read reads back equal.
#include <cstdint>
#include <string>

#include "engine/state_format.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    statefmt::DecodedPaging first;
    statefmt::DecodePaging(reinterpret_cast<const char*>(data), size, &first);
    if (!first.ok) return 0;
    FUZZ_CHECK(first.entries.size() <= static_cast<size_t>(first.stored < 0 ? 0 : first.stored),
               "more than stored");
    CFeedArray feeds;
    for (const statefmt::PagingEntry& e : first.entries) {
        for (unsigned char c : e.seed) FUZZ_CHECK(c >= 0x20 && c != 0x7F, FuzzShow(e.seed));
        CLumoraFeed feed;
        feed.Seed = e.seed;
        feed.Page = e.page;
        feed.LastPage = e.lastPage;
        feeds.Add(feed);
    }
    const std::string text = statefmt::EncodePaging(feeds);
    statefmt::DecodedPaging again;
    statefmt::DecodePaging(text.data(), text.size(), &again);
    FUZZ_CHECK(again.ok && again.stored == static_cast<int>(first.entries.size()), FuzzShow(text));
    FUZZ_CHECK(again.entries.size() == first.entries.size(), FuzzShow(text));
    for (size_t i = 0; i < first.entries.size(); ++i) {
        const statefmt::PagingEntry &a = first.entries[i], &b = again.entries[i];
        FUZZ_CHECK(a.seed == b.seed && a.page == b.page && a.lastPage == b.lastPage, FuzzShow(text));
    }
    return 0;
}
