#include "engine/records.h"

#include <cstring>

#include "platform/codepage.h"

bool CInvalidArgException::GetErrorMessage(char* buf, size_t size) const {
    if (!buf || size == 0) return false;
    std::strncpy(buf, what(), size - 1);
    buf[size - 1] = 0;
    return true;
}

void CLumoraFeed::AssignFields(const CLumoraFeed& o) {
    Type = o.Type;
    Flg = o.Flg;
    Query = o.Query;
    Categories = o.Categories;
    Purity = o.Purity;
    Sorting = o.Sorting;
    TopRange = o.TopRange;
    Atleast = o.Atleast;
    Ratios = o.Ratios;
    Username = o.Username;
    CollId = o.CollId;
    CollName = o.CollName;
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

std::string FoldPathCase(const std::string& path) { return plat::FoldCase(path); }

void CFileList::AddTail(const CFileData& d) {
    m_list.push_back(d);
    iterator it = std::prev(m_list.end());
    m_byPath.emplace(FoldPathCase(d.Path), it);
    ++m_perFeed[d.FeedIndex];
}

CFileList::iterator CFileList::RemoveAt(iterator it) {
    auto range = m_byPath.equal_range(FoldPathCase(it->Path));
    for (auto r = range.first; r != range.second; ++r)
        if (r->second == it) {
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
    auto range = m_byPath.equal_range(FoldPathCase(path));
    if (range.first == range.second) return m_list.end();
    // Several records may share a path; the oldest one is the one a list walk
    // from the head would find first.
    iterator best = range.first->second;
    if (std::next(range.first) != range.second) {
        for (iterator it = m_list.begin(); it != m_list.end(); ++it)
            for (auto r = range.first; r != range.second; ++r)
                if (r->second == it) return it;
    }
    return best;
}

int CFileList::CountFeed(int feedIndex) const {
    auto it = m_perFeed.find(feedIndex);
    return it == m_perFeed.end() ? 0 : it->second;
}
