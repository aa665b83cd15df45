// The keys of one index order held in memory: fixed-length key bytes in the
// form the index file stores them (so that byte order is key order) and the
// record number of each, in index order.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace xbase {

struct KeyEntries {
    uint16_t keyLength = 0;
    std::vector<unsigned char> keys; // size() * keyLength bytes
    std::vector<uint32_t> recnos;

    size_t size() const { return recnos.size(); }
    const unsigned char* key(size_t i) const { return keys.data() + i * keyLength; }
    void clear() {
        keys.clear();
        recnos.clear();
    }
    void push(const unsigned char* k, uint32_t recno) {
        keys.insert(keys.end(), k, k + keyLength);
        recnos.push_back(recno);
    }
};

} // namespace xbase
