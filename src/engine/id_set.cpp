#include "engine/id_set.h"

#include "engine/open_table.h"

// Each text is stored after its length, 7 bits a byte (the high bit says
// another byte follows).

using opentable::CellOf;
using opentable::CheckCharCapacity;
using opentable::TableFor;

namespace {
// FNV-1a, case kept (ids compare exactly).
uint64_t ExactHash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

const char* ReadLength(const char* p, size_t* len) {
    size_t n = 0;
    int shift = 0;
    unsigned char c;
    do {
        c = static_cast<unsigned char>(*p++);
        n |= static_cast<size_t>(c & 0x7F) << shift;
        shift += 7;
    } while (c & 0x80);
    *len = n;
    return p;
}
}  // namespace

std::string_view CIdSet::const_iterator::operator*() const {
    size_t len;
    const char* p = ReadLength(m_p, &len);
    return std::string_view(p, len);
}

CIdSet::const_iterator& CIdSet::const_iterator::operator++() {
    size_t len;
    m_p = ReadLength(m_p, &len) + len;
    return *this;
}

std::string_view CIdSet::At(uint32_t off) const {
    size_t len;
    const char* p = ReadLength(m_chars.data() + off, &len);
    return std::string_view(p, len);
}

size_t CIdSet::Probe(std::string_view id, uint64_t hash) const {
    const size_t mask = m_table.size() - 1;
    size_t cell = CellOf(hash, mask);
    while (m_table[cell] != kNone && At(m_table[cell]) != id) cell = (cell + 1) & mask;
    return cell;
}

bool CIdSet::insert(std::string_view id) {
    if (2 * (m_count + 1) > m_table.size()) Rehash(TableFor(m_count + 1));
    const uint64_t hash = ExactHash(id);
    size_t cell = Probe(id, hash);
    if (m_table[cell] != kNone) return false;
    CheckCharCapacity(m_chars.size() + id.size() + 5);
    if (m_chars.size() + id.size() + 5 > m_chars.capacity())
        m_chars.reserve(m_chars.size() + m_chars.size() / 2 + id.size() + 64);
    m_table[cell] = static_cast<uint32_t>(m_chars.size());
    size_t n = id.size();
    do {
        unsigned char c = static_cast<unsigned char>(n & 0x7F);
        n >>= 7;
        if (n) c |= 0x80;
        m_chars.push_back(static_cast<char>(c));
    } while (n);
    m_chars.insert(m_chars.end(), id.begin(), id.end());
    ++m_count;
    return true;
}

size_t CIdSet::count(std::string_view id) const {
    if (m_count == 0) return 0;
    return m_table[Probe(id, ExactHash(id))] != kNone ? 1 : 0;
}

void CIdSet::clear() {
    *this = CIdSet();
}

void CIdSet::reserve(size_t n) {
    if (2 * n > m_table.size()) Rehash(TableFor(n));
}

void CIdSet::Rehash(size_t tableSize) {
    m_table.assign(tableSize, kNone);
    const size_t mask = tableSize - 1;
    for (size_t off = 0; off < m_chars.size();) {
        size_t len;
        const char* p = ReadLength(m_chars.data() + off, &len);
        size_t cell = CellOf(ExactHash(std::string_view(p, len)), mask);
        while (m_table[cell] != kNone) cell = (cell + 1) & mask;
        m_table[cell] = static_cast<uint32_t>(off);
        off = static_cast<size_t>(p - m_chars.data()) + len;
    }
}
