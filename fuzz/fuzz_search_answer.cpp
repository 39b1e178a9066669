// A search or collection page from the service: whatever it holds, the items
// the parser keeps have an id, fit their buffers, carry no NUL, and a failed
// parse leaves the caller's outputs as they were.
#include <json/json.h>

#include <cstdint>
#include <exception>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CLumoraApi api;
    CItemArray items;
    CLumoraItem before;
    before.Id = "kept";
    items.Add(before);
    std::string seed = "seed-before";
    int lastPage = -7, total = -9;
    int result;
    try {
        result = api.ParseWallpaperArray(text, items, seed, lastPage, total);
    } catch (const std::exception&) {
        // A value of the wrong kind: the page requests turn it into a failed
        // query. What was appended before it is theirs to drop.
        FUZZ_CHECK(items.GetSize() >= 1 && items[0].Id == "kept", "the caller's item");
        return 0;
    }
    FUZZ_CHECK(result == 0 || result == 1, std::to_string(result));
    FUZZ_CHECK(items.GetSize() >= 1 && items[0].Id == "kept", "the caller's item");
    if (result == 0) {
        FUZZ_CHECK(items.GetSize() == 1 && seed == "seed-before" && lastPage == -7 && total == -9,
                   "outputs touched by a failed parse");
        FUZZ_CHECK(api.m_errtext == "JSON parse error", api.m_errtext);
        return 0;
    }
    FUZZ_CHECK(seed.size() <= 254 && seed.find('\0') == std::string::npos, FuzzShow(seed));
    for (int i = 1; i < items.GetSize(); ++i) {
        const CLumoraItem& it = items[i];
        FUZZ_CHECK(!it.Id.empty(), "an item without id");
        const std::string* texts[] = {&it.Id, &it.Name, &it.FileType, &it.Uploader, &it.Purity};
        for (const std::string* t : texts) {
            FUZZ_CHECK(t->size() <= 254, FuzzShow(*t));
            FUZZ_CHECK(t->find('\0') == std::string::npos, "NUL in " + FuzzShow(*t));
        }
        FUZZ_CHECK(it.Url.size() <= 2046, "url too long");
        FUZZ_CHECK(it.Url.find('\0') == std::string::npos, "NUL in " + FuzzShow(it.Url));
        // The name is the address's last segment, or the id when it has none.
        if (it.Url.find('/') != std::string::npos)
            FUZZ_CHECK(it.Name.find('/') == std::string::npos, FuzzShow(it.Name));
        else
            FUZZ_CHECK(it.Name == it.Id, FuzzShow(it.Name));
    }
    return 0;
}
