// File records of the engine: the cache list's records (engine/cache_list.h)
// and the files the host reported shown, in one container that needs no
// allocation per record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// A record inside a CFileList: views of the list's own characters, valid
// until the list is next changed (an addition or removal may move them).
struct CFileView {
    std::string_view Path;
    std::string_view Id;
    int FeedIndex = -1;
};

class CFileData {
  public:
    std::string Path;
    std::string Id;
    int FeedIndex = -1;
    CFileData() = default;
    CFileData(std::string path, std::string id, int feedIndex)
        : Path(std::move(path)), Id(std::move(id)), FeedIndex(feedIndex) {}
    // A copy of a record a list holds, which outlives changes to the list.
    CFileData(const CFileView& v) : Path(v.Path), Id(v.Id), FeedIndex(v.FeedIndex) {}
    CFileView View() const { return CFileView{Path, Id, FeedIndex}; }
};

// Case-folds a path the way path comparisons of the cache do (per character in
// the system code page).
std::string FoldPathCase(const std::string& path);

// An ordered list of file records (oldest first) with an index by case-folded
// path and per-feed counts, so lookups, counts and removals stay O(1) at
// hundreds of thousands of records. A path may occur more than once; Find
// returns the oldest record with that path.
//
// A million records must fit a 32-bit host, so nothing is allocated per
// record: records are slots of one array linked by slot number (a removed
// slot is reused), their paths and ids lie in one character buffer (packed
// again when it grows or when more of it is dead than alive), and the path
// index is an open-addressing table of slot numbers. An iterator is a slot
// number: it stays valid while other records come and go.
class CFileList {
    struct Slot {
        uint32_t off;  // path in m_chars, the id right after it; kNone: a free slot
        uint32_t pathLen;
        uint32_t idLen;
        int32_t feed;
        uint32_t prev, next;  // list order; a free slot's next is the next free one
        uint32_t seq;         // order of addition, so Find can prefer the oldest
    };
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

  public:
    template <bool Const>
    class Iter {
        typedef typename std::conditional<Const, const CFileList, CFileList>::type List;

      public:
        typedef std::bidirectional_iterator_tag iterator_category;
        typedef CFileView value_type;
        typedef std::ptrdiff_t difference_type;
        typedef const CFileView* pointer;
        typedef CFileView reference;
        // it->Path: the view lives as long as the full expression.
        struct Arrow {
            CFileView view;
            const CFileView* operator->() const { return &view; }
        };

        Iter() = default;
        Iter(List* list, uint32_t slot) : m_list(list), m_slot(slot) {}
        operator Iter<true>() const { return Iter<true>(m_list, m_slot); }
        CFileView operator*() const { return m_list->ViewOf(m_slot); }
        Arrow operator->() const { return Arrow{m_list->ViewOf(m_slot)}; }
        Iter& operator++() {
            m_slot = m_list->m_slots[m_slot].next;
            return *this;
        }
        Iter operator++(int) {
            Iter old = *this;
            ++*this;
            return old;
        }
        // end() steps back to the newest record.
        Iter& operator--() {
            m_slot = m_slot == kNone ? m_list->m_tail : m_list->m_slots[m_slot].prev;
            return *this;
        }
        Iter operator--(int) {
            Iter old = *this;
            --*this;
            return old;
        }
        bool operator==(const Iter& o) const { return m_slot == o.m_slot && m_list == o.m_list; }
        bool operator!=(const Iter& o) const { return !(*this == o); }

      private:
        friend class CFileList;
        List* m_list = nullptr;
        uint32_t m_slot = kNone;
    };
    typedef Iter<false> iterator;
    typedef Iter<true> const_iterator;

    int GetCount() const { return static_cast<int>(m_count); }
    bool IsEmpty() const { return m_count == 0; }
    void AddTail(std::string_view path, std::string_view id, int feedIndex);
    void AddTail(const CFileData& d) { AddTail(d.Path, d.Id, d.FeedIndex); }
    void AddTail(const CFileView& d) { AddTail(d.Path, d.Id, d.FeedIndex); }
    iterator RemoveAt(const_iterator it);  // returns the next position
    void RemoveHead() { RemoveAt(begin()); }
    void RemoveAll();
    // Sizes the list for n records holding chars characters of paths and ids,
    // so a long list read from disk is stored without growing on the way.
    void Reserve(size_t n, size_t chars = 0);
    iterator Find(std::string_view path);  // case-insensitive; end() if none
    const_iterator Find(std::string_view path) const;
    int CountFeed(int feedIndex) const;
    iterator begin() { return iterator(this, m_head); }
    iterator end() { return iterator(this, kNone); }
    const_iterator begin() const { return const_iterator(this, m_head); }
    const_iterator end() const { return const_iterator(this, kNone); }
    CFileView GetHead() const { return ViewOf(m_head); }
    // Bytes held (for the memory figures).
    size_t HeapBytes() const;

  private:
    CFileView ViewOf(uint32_t slot) const {
        const Slot& s = m_slots[slot];
        const char* p = m_chars.data() + s.off;
        return CFileView{std::string_view(p, s.pathLen), std::string_view(p + s.pathLen, s.idLen), s.feed};
    }
    std::string_view PathOf(uint32_t slot) const {
        return std::string_view(m_chars.data() + m_slots[slot].off, m_slots[slot].pathLen);
    }
    uint32_t FindSlot(std::string_view path) const;
    size_t HomeOf(std::string_view path) const;
    void IndexInsert(uint32_t slot);
    void IndexErase(uint32_t slot);
    void Rehash(size_t tableSize);
    // Copies the live characters into a buffer of at least this capacity.
    void Repack(size_t capacity);
    void Renumber();

    std::vector<Slot> m_slots;
    std::vector<char> m_chars;
    size_t m_deadChars = 0;
    std::vector<uint32_t> m_index;  // slot numbers, kNone where empty; a power of two long
    uint32_t m_head = kNone, m_tail = kNone, m_free = kNone;
    uint32_t m_count = 0;
    uint32_t m_nextSeq = 0;
    std::unordered_map<int, int> m_perFeed;
};
