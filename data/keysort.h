// Sorting the keys of an index order in memory, before they are written or
// searched.
#pragma once

#include "data/keys.h"

#include <cstddef>
#include <cstdint>

namespace xbase {

// Sorts keys into index order: by key bytes (reversed when descending), equal
// keys by record number.
void sortEntries(KeyEntries& e, bool descending);

// Keeps the first entry of each run of equal keys (unique orders).
void dropDuplicateKeys(KeyEntries& e);

// The first eight key bytes as one integer, zero-padded: comparing prefixes
// orders keys as comparing their first eight bytes does.
inline uint64_t keyPrefix(const unsigned char* key, size_t len) {
    uint64_t p = 0;
    for (size_t b = 0; b < 8; ++b)
        p = (p << 8) | (b < len ? key[b] : 0);
    return p;
}

} // namespace xbase
