#include "common/records.h"

#include <cstring>
#include <utility>

#include "platform/codepage.h"

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

std::string FoldPathCase(const std::string& path) {
    return plat::FoldCase(path);
}

namespace {
// Hash that is equal for paths equal under case folding: ASCII letters are
// folded, and every byte of 0x80 and above counts the same, since its folded
// form depends on the code page. Candidates are compared exactly afterwards.
size_t FoldHash(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        if (c >= 0x80) c = 0x80;
        h = (h ^ c) * 1099511628211ull;
    }
    return static_cast<size_t>(h);
}

bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x == y) continue;
        if (x >= 0x80 || y >= 0x80) return FoldPathCase(a) == FoldPathCase(b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}
}  // namespace

void CFileList::AddTail(CFileData&& d) {
    m_list.push_back(std::move(d));
    iterator it = std::prev(m_list.end());
    m_byPath.emplace(FoldHash(it->Path), IndexEntry{m_seq++, it});
    ++m_perFeed[it->FeedIndex];
}

CFileList::iterator CFileList::RemoveAt(iterator it) {
    auto range = m_byPath.equal_range(FoldHash(it->Path));
    for (auto r = range.first; r != range.second; ++r)
        if (r->second.it == it) {
            m_byPath.erase(r);
            break;
        }
    auto pf = m_perFeed.find(it->FeedIndex);
    if (pf != m_perFeed.end() && --pf->second == 0) m_perFeed.erase(pf);
    return m_list.erase(it);
}

void CFileList::RemoveAll() {
    m_list.clear();
    m_byPath.clear();
    m_perFeed.clear();
}

CFileList::iterator CFileList::Find(const std::string& path) {
    auto range = m_byPath.equal_range(FoldHash(path));
    const IndexEntry* best = nullptr;
    for (auto r = range.first; r != range.second; ++r)
        if ((!best || r->second.seq < best->seq) && SamePathIgnoringCase(r->second.it->Path, path))
            best = &r->second;
    return best ? best->it : m_list.end();
}

int CFileList::CountFeed(int feedIndex) const {
    auto it = m_perFeed.find(feedIndex);
    return it == m_perFeed.end() ? 0 : it->second;
}
