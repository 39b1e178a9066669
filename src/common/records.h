// Value records of the plug-in: feeds with their pools, found wallpapers,
// collections of a user, and cached/shown file entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// Raised by an out-of-range element access; the worker loop logs it with its
// message and restarts, like any other exception of a pass.
class CInvalidArgException : public std::out_of_range {
  public:
    explicit CInvalidArgException(const std::string& what) : std::out_of_range(what) {}
    // Copies the message into buf (cut to fit, always terminated).
    bool GetErrorMessage(char* buf, size_t size) const;
};

// A growable array whose element access checks the index, so a stale index
// raises instead of reading past the end.
template <class T>
class CArrayEx {
  public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return m_items.empty(); }
    T& operator[](int i) { return m_items[Check(i)]; }
    const T& operator[](int i) const { return m_items[Check(i)]; }
    T& GetAt(int i) { return (*this)[i]; }
    const T& GetAt(int i) const { return (*this)[i]; }
    int Add(const T& v) {
        m_items.push_back(v);
        return GetSize() - 1;
    }
    void RemoveAt(int i) { m_items.erase(m_items.begin() + Check(i)); }
    void RemoveAll() { m_items.clear(); }
    // Shrinking destroys the surplus elements; growing default-constructs.
    void SetSize(int n) { m_items.resize(n < 0 ? 0 : static_cast<size_t>(n)); }
    // Element-wise assignment: elements at indexes that exist in both keep
    // whatever their own assignment operator keeps (a feed keeps its pool).
    void Copy(const CArrayEx& src) {
        SetSize(src.GetSize());
        for (int i = 0; i < src.GetSize(); ++i) m_items[i] = src.m_items[i];
    }
    typename std::vector<T>::iterator begin() { return m_items.begin(); }
    typename std::vector<T>::iterator end() { return m_items.end(); }
    typename std::vector<T>::const_iterator begin() const { return m_items.begin(); }
    typename std::vector<T>::const_iterator end() const { return m_items.end(); }
    T* GetData() { return m_items.data(); }

  private:
    size_t Check(int i) const {
        if (i < 0 || static_cast<size_t>(i) >= m_items.size())
            throw CInvalidArgException("Invalid argument: array index " + std::to_string(i) +
                                       " out of range (size " + std::to_string(m_items.size()) + ")");
        return static_cast<size_t>(i);
    }
    std::vector<T> m_items;
};

class CLumoraItem {
  public:
    std::string Name;      // remote file name (after the URL's last '/'), or Id
    std::string Id;        // service id; never empty for a kept item
    std::string Uploader;  // may be empty
    std::string Url;
    std::string FileType;  // MIME type
    std::string Purity;    // also the sub-folder name
};

class CLumoraCollection {
  public:
    std::string Id;  // numeric id as decimal text
    std::string Label;
    int Count = 0;
};

class CLumoraFeed {
  public:
    enum { kEnabled = 0x1, kQueried = 0x10000 };

    int Type = 0;  // 0 search, 1 collection
    int Flg = kEnabled;
    int MaxPhotos = 500;  // never stored, edited or copied
    std::string Query;
    std::string Categories = "111";
    std::string Purity = "100";
    int Sorting = 0;
    int TopRange = 3;
    std::string Atleast;
    std::string Ratios;
    std::string Username;
    std::string CollId;
    std::string CollName;
    std::string Seed;
    int Page = 0;
    int LastPage = 0;
    int Retries = 0;
    CArrayEx<CLumoraItem> Items;  // the pool

    CLumoraFeed() = default;
    CLumoraFeed(const CLumoraFeed& o) : MaxPhotos(o.MaxPhotos), Items(o.Items) { AssignFields(o); }
    // A move takes everything, the pool included: an array that shifts its
    // feeds (RemoveAt) moves each pool with its feed.
    CLumoraFeed(CLumoraFeed&&) = default;
    CLumoraFeed& operator=(CLumoraFeed&&) = default;
    // Assignment copies configuration and paging only: the target keeps its
    // own pool and MaxPhotos, so re-assigning a feed list keeps found items.
    CLumoraFeed& operator=(const CLumoraFeed& o) {
        if (this != &o) AssignFields(o);
        return *this;
    }

    bool IsEnabled() const { return (Flg & kEnabled) != 0; }
    bool IsSameFeed(const CLumoraFeed& other) const;
    std::string GetDescription() const;

  private:
    void AssignFields(const CLumoraFeed& o);
};

// The stored configuration of a feed, one row per field in the order the
// settings store keeps them ("Feed%d_" + key). Loading, saving and copying
// walk this table; a field's default is the value a new CLumoraFeed holds.
struct CFeedField {
    const char* key;
    int CLumoraFeed::*number;        // a number field, or null
    std::string CLumoraFeed::*text;  // a text field, or null
};
extern const CFeedField kFeedFields[12];

// Copies the stored configuration fields (not paging, pool or MaxPhotos).
void CopyFeedConfig(CLumoraFeed& to, const CLumoraFeed& from);

typedef CArrayEx<CLumoraFeed> CFeedArray;
typedef CArrayEx<CLumoraItem> CItemArray;
typedef CArrayEx<CLumoraCollection> CCollectionArray;

// Whether two feed lists ask the service for the same things in the same order.
bool FeedsEqual(const CFeedArray& oldList, const CFeedArray& newList);

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

// A set of texts (the ids the engine has seen) without an allocation per
// text: the characters in one buffer, each after its length, and an
// open-addressing table of their offsets. Texts are only added (and all
// cleared); iteration goes in the order of addition.
class CIdSet {
  public:
    class const_iterator {
      public:
        typedef std::forward_iterator_tag iterator_category;
        typedef std::string_view value_type;
        typedef std::ptrdiff_t difference_type;
        typedef const std::string_view* pointer;
        typedef std::string_view reference;
        const_iterator(const char* p) : m_p(p) {}
        std::string_view operator*() const;
        const_iterator& operator++();
        bool operator==(const const_iterator& o) const { return m_p == o.m_p; }
        bool operator!=(const const_iterator& o) const { return m_p != o.m_p; }

      private:
        const char* m_p;
    };

    CIdSet() = default;
    CIdSet(std::initializer_list<std::string_view> ids) {
        for (std::string_view id : ids) insert(id);
    }
    bool insert(std::string_view id);  // true when it was not there
    size_t count(std::string_view id) const;
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    void clear();
    void reserve(size_t n);
    const_iterator begin() const { return const_iterator(m_chars.data()); }
    const_iterator end() const { return const_iterator(m_chars.data() + m_chars.size()); }
    size_t HeapBytes() const { return m_chars.capacity() + m_table.capacity() * sizeof(uint32_t); }

  private:
    size_t Probe(std::string_view id, uint64_t hash) const;  // its cell, or the empty cell it would take
    std::string_view At(uint32_t off) const;
    void Rehash(size_t tableSize);

    std::vector<char> m_chars;
    std::vector<uint32_t> m_table;  // offsets into m_chars, kNone where empty
    size_t m_count = 0;
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
};
