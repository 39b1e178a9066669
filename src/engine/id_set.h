// The set of ids the engine has seen: cached files and pooled wallpapers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <vector>

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
