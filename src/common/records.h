// Value records of the plug-in: feeds with their pools, found wallpapers,
// and collections of a user. (Cached and shown file records and the set of
// ids seen are the engine's: engine/file_list.h, engine/id_set.h.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
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
