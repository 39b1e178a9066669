// The cache list, any version and any damage: every record read lies inside
// the folder and has an id without control characters, and the list written
// from what was read reads back equal.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/state_box.h"

namespace {

struct Rec {
    std::string id, path;
    int feed;
    bool operator==(const Rec& o) const { return id == o.id && path == o.path && feed == o.feed; }
};

std::vector<Rec> Records(const CLumoraEngine& e) {
    std::vector<Rec> out;
    for (const CFileData& d : e.m_lclfiles) out.push_back(Rec{d.Id, d.Path, d.FeedIndex});
    return out;
}

bool HasControlChar(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StateBox box("lumora_fuzz_list");
    std::string text(reinterpret_cast<const char*>(data), size);
    // "/img" in the seeds stands for the folder the list belongs to.
    for (size_t p; (p = text.find("/img")) != std::string::npos;) text.replace(p, 4, box.Folder());
    box.Remove("vdt_vd_paging.lst");
    box.Write("vdt_vd_files.lst", text);

    box.Reset();
    box.engine->ReadLocalFileList();
    const std::vector<Rec> first = Records(*box.engine);
    const double firstTime = box.engine->m_lastTm.m_dt;
    for (const Rec& r : first) {
        FUZZ_CHECK(!r.id.empty() && !HasControlChar(r.id), FuzzShow(r.id));
        FUZZ_CHECK(!HasControlChar(r.path), FuzzShow(r.path));
        FUZZ_CHECK(PathInsideFolder(r.path, box.Folder()), "outside: " + FuzzShow(r.path));
    }

    box.engine->WriteLocalFileList();
    box.Reset();
    box.engine->ReadLocalFileList();
    FUZZ_CHECK(Records(*box.engine) == first, "the list written from what was read reads back different");
    FUZZ_CHECK(box.engine->m_lastTm.m_dt == firstTime || (firstTime == 0 && box.engine->m_lastTm.m_dt == 0),
               std::to_string(firstTime) + " read back as " + std::to_string(box.engine->m_lastTm.m_dt));
    return 0;
}
