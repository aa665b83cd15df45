// Checks an index read from a file against the table it belongs to, so that
// a damaged or out-of-step index is never used to find records: every entry
// must name a record of the table whose key is the entry's key, the keys must
// stand in index order, and an index without a condition must list every
// record (once; a unique index once per distinct key).
#pragma once

#include "data/KeyEntries.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace xbase {

struct IndexShape {
    bool unique = false;
    bool descending = false;
    bool hasCondition = false;
};

// Where the keys of `entries` leave index order: the one-based number of the
// first entry out of order, 0 when they are all in order. Equal keys may
// stand in any order of their record numbers.
size_t firstEntryOutOfOrder(const KeyEntries& entries, bool descending);

// Empty when the index fits the table; otherwise a short description of the
// first disagreement found ("entry 12 names record 40 whose key is ...").
// `keyOf(recno)` is the key the record gives (keyLength bytes), `passes(recno)`
// whether it satisfies the index's condition (only asked when there is one).
// `keyIs(recno, key, part)`, when given, tells whether the record gives
// exactly these keyLength bytes, without building its key.
//
// With `threads` 2, an index without a condition that gives `keyIs` is
// checked by two threads: keyIs is then called from both at once, `part` (0
// or 1) naming the caller, so that each can keep its own reading state. The
// answer is the same as with one thread.
//
// When the index fits and `entryOf` is given, it receives for each record
// number the position of its entry plus one (0: none), indexed by record
// number (recordCount + 1 elements).
std::string
indexDisagreement(const KeyEntries& entries, const IndexShape& shape, uint32_t recordCount,
                  const std::function<std::string(uint32_t)>& keyOf,
                  const std::function<bool(uint32_t)>& passes,
                  const std::function<bool(uint32_t, const unsigned char*, int)>& keyIs = {},
                  int threads = 1, RawVector<uint32_t>* entryOf = nullptr);

} // namespace xbase
