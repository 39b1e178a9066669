#include "common/records.h"

#include <cstring>
#include <new>
#include <utility>

bool CInvalidArgException::GetErrorMessage(char* buf, size_t size) const {
    if (!buf || size == 0) return false;
    std::strncpy(buf, what(), size - 1);
    buf[size - 1] = 0;
    return true;
}

const CFeedField kFeedFields[12] = {
    {"Type", &CLumoraFeed::Type, nullptr},         {"Flg", &CLumoraFeed::Flg, nullptr},
    {"Query", nullptr, &CLumoraFeed::Query},       {"Categories", nullptr, &CLumoraFeed::Categories},
    {"Purity", nullptr, &CLumoraFeed::Purity},     {"Sorting", &CLumoraFeed::Sorting, nullptr},
    {"TopRange", &CLumoraFeed::TopRange, nullptr}, {"Atleast", nullptr, &CLumoraFeed::Atleast},
    {"Ratios", nullptr, &CLumoraFeed::Ratios},     {"Username", nullptr, &CLumoraFeed::Username},
    {"CollId", nullptr, &CLumoraFeed::CollId},     {"CollName", nullptr, &CLumoraFeed::CollName},
};

void CopyFeedConfig(CLumoraFeed& to, const CLumoraFeed& from) {
    for (const CFeedField& f : kFeedFields) {
        if (f.number) to.*f.number = from.*f.number;
        if (f.text) to.*f.text = from.*f.text;
    }
}

void CLumoraFeed::AssignFields(const CLumoraFeed& o) {
    CopyFeedConfig(*this, o);
    Seed = o.Seed;
    Page = o.Page;
    LastPage = o.LastPage;
    Retries = o.Retries;
}

bool CLumoraFeed::IsSameFeed(const CLumoraFeed& b) const {
    if (Type != b.Type) return false;
    if (Type == 0)
        return Query == b.Query && Categories == b.Categories && Purity == b.Purity && Atleast == b.Atleast &&
               Ratios == b.Ratios && Sorting == b.Sorting && TopRange == b.TopRange;
    if (Type == 1) return Username == b.Username && CollId == b.CollId;
    return false;
}

bool FeedsEqual(const CFeedArray& a, const CFeedArray& b) {
    if (a.GetSize() != b.GetSize()) return false;
    for (int i = 0; i < a.GetSize(); ++i)
        if (!a[i].IsSameFeed(b[i])) return false;
    return true;
}
