// The engine's list of file records (the cache list's records and the shown
// files), without an allocation per record.
#include "engine/file_list.h"

#include <new>
#include <utility>

#include "engine/open_table.h"
#include "common/records.h"
#include "platform/codepage.h"

using opentable::CellOf;
using opentable::CheckCharCapacity;
using opentable::TableFor;

std::string FoldPathCase(const std::string& path) {
    return plat::FoldCase(path);
}

namespace {
// Hash that is equal for paths equal under case folding: ASCII letters are
// folded, and every byte of 0x80 and above counts the same, since its folded
// form depends on the code page. Candidates are compared exactly afterwards.
uint64_t FoldHash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        if (c >= 0x80) c = 0x80;
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

bool SamePathIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x == y) continue;
        if (x >= 0x80 || y >= 0x80) return FoldPathCase(std::string(a)) == FoldPathCase(std::string(b));
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

// ---- CFileList -------------------------------------------------------------

size_t CFileList::HomeOf(std::string_view path) const {
    return CellOf(FoldHash(path), m_index.size() - 1);
}

void CFileList::AddTail(std::string_view path, std::string_view id, int feedIndex) {
    // A record copied from this list itself: its characters may move below.
    const char* base = m_chars.data();
    if (!m_chars.empty() && ((path.data() >= base && path.data() < base + m_chars.capacity()) ||
                             (id.data() >= base && id.data() < base + m_chars.capacity()))) {
        const std::string p(path), i(id);
        AddTail(p, i, feedIndex);
        return;
    }
    const size_t chars = path.size() + id.size();
    CheckCharCapacity(m_chars.size() + chars);
    if (m_chars.size() + chars > m_chars.capacity()) {
        const size_t live = m_chars.size() - m_deadChars + chars;
        Repack(live + live / 2 + 64);
    }
    if (2 * (static_cast<size_t>(m_count) + 1) > m_index.size()) Rehash(TableFor(m_count + 1));
    if (m_nextSeq == kNone) Renumber();

    uint32_t slot;
    if (m_free != kNone) {
        slot = m_free;
        m_free = m_slots[slot].next;
    } else {
        if (m_slots.size() >= kNone - 1) throw std::bad_alloc();
        if (m_slots.size() == m_slots.capacity()) m_slots.reserve(m_slots.size() + m_slots.size() / 2 + 16);
        slot = static_cast<uint32_t>(m_slots.size());
        m_slots.emplace_back();
    }
    Slot& s = m_slots[slot];
    s.off = static_cast<uint32_t>(m_chars.size());
    s.pathLen = static_cast<uint32_t>(path.size());
    s.idLen = static_cast<uint32_t>(id.size());
    s.feed = feedIndex;
    s.seq = m_nextSeq++;
    s.prev = m_tail;
    s.next = kNone;
    m_chars.insert(m_chars.end(), path.begin(), path.end());
    m_chars.insert(m_chars.end(), id.begin(), id.end());
    if (m_tail != kNone)
        m_slots[m_tail].next = slot;
    else
        m_head = slot;
    m_tail = slot;
    ++m_count;
    IndexInsert(slot);
    ++m_perFeed[feedIndex];
}

CFileList::iterator CFileList::RemoveAt(const_iterator it) {
    const uint32_t slot = it.m_slot;
    if (slot >= m_slots.size() || m_slots[slot].off == kNone)
        throw CInvalidArgException("Invalid argument: no such record in the file list");
    IndexErase(slot);
    Slot& s = m_slots[slot];
    auto pf = m_perFeed.find(s.feed);
    if (pf != m_perFeed.end() && --pf->second == 0) m_perFeed.erase(pf);
    const uint32_t next = s.next;
    if (s.prev != kNone)
        m_slots[s.prev].next = s.next;
    else
        m_head = s.next;
    if (s.next != kNone)
        m_slots[s.next].prev = s.prev;
    else
        m_tail = s.prev;
    m_deadChars += s.pathLen + s.idLen;
    s.off = kNone;
    s.next = m_free;
    m_free = slot;
    --m_count;
    if (m_count == 0) {
        m_chars.clear();
        m_deadChars = 0;
    } else if (m_deadChars > m_chars.size() - m_deadChars) {
        const size_t live = m_chars.size() - m_deadChars;
        Repack(live + live / 2 + 64);
    }
    return iterator(this, next);
}

void CFileList::RemoveAll() {
    *this = CFileList();
}

void CFileList::Reserve(size_t n, size_t chars) {
    if (n > m_count && m_slots.capacity() < n) m_slots.reserve(n);
    if (2 * n > m_index.size()) Rehash(TableFor(n));
    const size_t live = m_chars.size() - m_deadChars;
    if (chars > live && m_chars.capacity() < chars) {
        CheckCharCapacity(chars);
        Repack(chars);
    }
}

void CFileList::Repack(size_t capacity) {
    std::vector<char> chars;
    chars.reserve(capacity);
    for (uint32_t slot = m_head; slot != kNone; slot = m_slots[slot].next) {
        Slot& s = m_slots[slot];
        const char* from = m_chars.data() + s.off;
        s.off = static_cast<uint32_t>(chars.size());
        chars.insert(chars.end(), from, from + s.pathLen + s.idLen);
    }
    m_chars.swap(chars);
    m_deadChars = 0;
}

void CFileList::Renumber() {
    m_nextSeq = 0;
    for (uint32_t slot = m_head; slot != kNone; slot = m_slots[slot].next) m_slots[slot].seq = m_nextSeq++;
}

void CFileList::Rehash(size_t tableSize) {
    m_index.assign(tableSize, kNone);
    for (uint32_t slot = m_head; slot != kNone; slot = m_slots[slot].next) IndexInsert(slot);
}

void CFileList::IndexInsert(uint32_t slot) {
    const size_t mask = m_index.size() - 1;
    size_t cell = HomeOf(PathOf(slot));
    while (m_index[cell] != kNone) cell = (cell + 1) & mask;
    m_index[cell] = slot;
}

// Linear probing without markers: the entries after the hole that may move
// back into it do, so every entry stays reachable from its home cell.
void CFileList::IndexErase(uint32_t slot) {
    const size_t mask = m_index.size() - 1;
    size_t hole = HomeOf(PathOf(slot));
    while (m_index[hole] != slot) hole = (hole + 1) & mask;
    for (size_t cell = (hole + 1) & mask; m_index[cell] != kNone; cell = (cell + 1) & mask) {
        const size_t home = HomeOf(PathOf(m_index[cell]));
        // The entry stays when its home lies cyclically in (hole, cell].
        const bool stays = hole <= cell ? (hole < home && home <= cell) : (hole < home || home <= cell);
        if (stays) continue;
        m_index[hole] = m_index[cell];
        hole = cell;
    }
    m_index[hole] = kNone;
}

uint32_t CFileList::FindSlot(std::string_view path) const {
    if (m_count == 0) return kNone;
    const size_t mask = m_index.size() - 1;
    uint32_t best = kNone;
    for (size_t cell = HomeOf(path); m_index[cell] != kNone; cell = (cell + 1) & mask) {
        const uint32_t slot = m_index[cell];
        if ((best == kNone || m_slots[slot].seq < m_slots[best].seq) &&
            SamePathIgnoringCase(PathOf(slot), path))
            best = slot;
    }
    return best;
}

CFileList::iterator CFileList::Find(std::string_view path) {
    return iterator(this, FindSlot(path));
}

CFileList::const_iterator CFileList::Find(std::string_view path) const {
    return const_iterator(this, FindSlot(path));
}

int CFileList::CountFeed(int feedIndex) const {
    auto it = m_perFeed.find(feedIndex);
    return it == m_perFeed.end() ? 0 : it->second;
}

size_t CFileList::HeapBytes() const {
    return m_slots.capacity() * sizeof(Slot) + m_chars.capacity() + m_index.capacity() * sizeof(uint32_t);
}
