// Pieces shared by the open-addressing tables of the record containers (the
// ids seen in engine/id_set.h, the path index of engine/file_list.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace opentable {

// The low bits pick a cell: fold the high ones in first.
inline size_t CellOf(uint64_t hash, size_t mask) {
    return static_cast<size_t>(hash ^ (hash >> 29) ^ (hash >> 47)) & mask;
}

// The smallest power of two table that keeps n entries at most half full.
inline size_t TableFor(size_t n) {
    size_t size = 16;
    while (size < 2 * n) size *= 2;
    return size;
}

// The offsets are 32-bit: a list past 4 GB of text is out of memory anyway.
inline void CheckCharCapacity(size_t n) {
    if (n >= 0xFFFFFFF0u) throw std::bad_alloc();
}

}  // namespace opentable
