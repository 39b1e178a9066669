// The cache list and its journal, any version and any damage: every record
// read or salvaged lies inside the folder and has an id without control
// characters, and the list (or a journal entry) written from what was read
// reads back equal.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/state_format.h"
#include "fuzz/fuzz_check.h"

namespace {

const char kFolder[] = "/img";  // the seeds name it as well

bool HasControlChar(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

void CheckRecord(const CFileData& r, const CFolderGate& gate) {
    FUZZ_CHECK(!r.Id.empty() && !HasControlChar(r.Id), FuzzShow(r.Id));
    FUZZ_CHECK(!HasControlChar(r.Path), FuzzShow(r.Path));
    FUZZ_CHECK(gate.Contains(r.Path) && PathInsideFolder(r.Path, kFolder), "outside: " + FuzzShow(r.Path));
}

bool SameRecord(const CFileData& a, const CFileData& b) {
    return a.Id == b.Id && a.Path == b.Path && a.FeedIndex == b.FeedIndex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const CFolderGate gate(kFolder);

    statefmt::DecodedList first;
    statefmt::DecodeList(bytes, size, gate, &first);
    for (const CFileData& r : first.records) CheckRecord(r, gate);
    for (const CFileData& r : statefmt::SalvageList(bytes, size, gate)) CheckRecord(r, gate);

    // Written from what was read, the list reads back the same.
    std::vector<CFileData> skipped;
    const std::string text = statefmt::EncodeList(first.records, first.timeText, &skipped);
    statefmt::DecodedList again;
    statefmt::DecodeList(text.data(), text.size(), gate, &again);
    FUZZ_CHECK(again.version == 3, std::to_string(again.version));
    FUZZ_CHECK(again.damage.empty(), again.damage);
    FUZZ_CHECK(again.records.GetCount() + skipped.size() == static_cast<size_t>(first.records.GetCount()),
               "records lost on the way");
    auto back = again.records.begin();
    for (const CFileData& r : first.records) {
        bool wasSkipped = false;
        for (const CFileData& s : skipped) wasSkipped = wasSkipped || s.Path == r.Path;
        if (wasSkipped) continue;
        FUZZ_CHECK(back != again.records.end() && SameRecord(*back, r),
                   FuzzShow(r.Id) + " " + FuzzShow(r.Path));
        ++back;
    }
    if (statefmt::FitsLine(first.timeText, statefmt::kListLineMax))
        FUZZ_CHECK(again.timeText == first.timeText, FuzzShow(first.timeText));

    // The journal: every entry read writes back to the same entry.
    std::vector<statefmt::JournalEntry> entries;
    int skippedLines = 0;
    statefmt::DecodeJournal(bytes, size, &entries, &skippedLines);
    for (const statefmt::JournalEntry& e : entries) {
        FUZZ_CHECK(e.op == '+' || e.op == '-', std::string(1, e.op));
        if (!statefmt::FitsList(e.record)) continue;
        std::string text = statefmt::EncodeJournalHeader() + statefmt::EncodeJournalRecord(e.op, e.record);
        std::vector<statefmt::JournalEntry> back;
        int none = 0;
        statefmt::DecodeJournal(text.data(), text.size(), &back, &none);
        FUZZ_CHECK(
            none == 0 && back.size() == 1 && back[0].op == e.op && SameRecord(back[0].record, e.record),
            FuzzShow(text));
    }
    return 0;
}
