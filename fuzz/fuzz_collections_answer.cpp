// A user's list of collections: never an exception (it runs on the host's
// thread), a failure leaves the list as it was, and every record is an id
// in decimal with a label that fits its buffer.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CLumoraApi api;
    CCollectionArray list;
    CLumoraCollection before;
    before.Id = "1";
    before.Label = "kept";
    list.Add(before);
    int result = api.ParseUserCollections(text, "user", list);  // must not throw
    FUZZ_CHECK(result == 0 || result == 1, std::to_string(result));
    FUZZ_CHECK(list.GetSize() >= 1 && list[0].Label == "kept", "the caller's record");
    if (result == 0) {
        FUZZ_CHECK(list.GetSize() == 1, "records left by a failed answer");
        FUZZ_CHECK(!api.m_errtext.empty(), "a failure without a reason");
        return 0;
    }
    for (int i = 1; i < list.GetSize(); ++i) {
        const CLumoraCollection& c = list[i];
        char* end = nullptr;
        long long id = std::strtoll(c.Id.c_str(), &end, 10);
        FUZZ_CHECK(!c.Id.empty() && *end == '\0' && std::to_string(id) == c.Id, FuzzShow(c.Id));
        FUZZ_CHECK(c.Label.size() <= 510 && c.Label.find('\0') == std::string::npos, FuzzShow(c.Label));
    }
    return 0;
}
