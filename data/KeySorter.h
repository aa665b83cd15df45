// Sorting the keys of an index order in memory, before they are written or
// searched.
#pragma once

#include "data/ByteBuffer.h"
#include "data/KeyEntries.h"

#include <cstddef>
#include <cstdint>

namespace xbase {

// Sorts keys into index order: by key bytes (reversed when descending), equal
// keys by record number. With `threads` 2 the passes are shared with a second
// thread (worth it for large sorts only); the order is the same either way.
void sortEntries(KeyEntries& e, bool descending, int threads = 1);

// Gathers the entries of an order one at a time and sorts them into index
// order as sortEntries does. The keys are written straight into the records
// the sort moves, so that no second copy of them exists while it runs.
class KeySorter {
  public:
    // Room for `capacity` entries; pages that no entry reaches cost nothing.
    KeySorter(uint16_t keyLength, size_t capacity);
    ~KeySorter();
    KeySorter(const KeySorter&) = delete;
    KeySorter& operator=(const KeySorter&) = delete;

    // The next entry (at most `capacity` of them): its keyLength key bytes
    // are to be written where the result points.
    unsigned char* add(uint32_t recno) {
        unsigned char* r = reinterpret_cast<unsigned char*>(records_.data()) + count_ * stride_;
        for (size_t j = 0; j < 4; ++j)
            r[keyLength_ + j] = static_cast<unsigned char>(recno >> (8 * j));
        if (recno < lastRecno_) inRecordOrder_ = false;
        lastRecno_ = recno;
        if (recno > maxRecno_) maxRecno_ = recno;
        ++count_;
        return r;
    }
    size_t size() const { return count_; }

    // Sorts the entries added into `out`, replacing what it held; the sorter
    // is spent afterwards. With `threads` 2 the work is shared with a second
    // thread.
    void sortInto(KeyEntries& out, bool descending, int threads);

  private:
    uint16_t keyLength_;
    size_t stride_;
    size_t count_ = 0;
    uint32_t lastRecno_ = 0, maxRecno_ = 0;
    bool inRecordOrder_ = true;
    ByteBuffer records_;
};

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
