// What the parts of TAdsTable (data/Ads*.cpp) share: the in-memory form of an
// index order and the small conversions of stored field bytes. Nothing outside
// those files includes this.
#pragma once

#include "common/Date.h"
#include "data/AdsTable.h"
#include "data/KeyEntries.h"
#include "data/KeySorter.h"
#include "data/NumberText.h"
#include "data/Value.h"
#include "data/cdx.h"
#include "data/expr.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TAdsTable::Order {
    std::string name;
    std::string file; // the index file it was read from, for error texts
    bool ntx = false;
    std::string keyExpression;
    std::string forExpression;
    xbase::Expression key;
    xbase::Expression condition;
    bool supported = true; // the key expression compiles against the table
    int keyField = -1;     // the field when the key is one field
    xbase::ValueType keyType = xbase::ValueType::Character;
    uint16_t keyLength = 0;
    uint16_t decimals = 0;
    bool unique = false;
    bool descending = false;
    xbase::KeyEntries entries;
    bool dirty = false;
    // A tag of the structural index is read from the file when first used;
    // until then its entries are empty, `cdx` holds the file and `cdxTag`
    // numbers the tag in it.
    std::shared_ptr<xbase::CdxReader> cdx;
    size_t cdxTag = 0;
    bool loaded() const { return !cdx; }
    // While records are appended through (TAdsTable::AppendThrough): their
    // keys, gathered as they pass, to be sorted when the order is built.
    std::unique_ptr<xbase::KeySorter> passingKeys;
    xbase::RawVector<uint32_t> positionOf; // recno -> position + 1 (0: not in the order)
    bool positionsValid = false;
    // Exact finds: a hash of the distinct keys, each slot the first entry
    // with the key + 1 (0: empty); built at the first find, dropped with the
    // entries.
    xbase::RawVector<uint32_t> slots;
    // The first entry whose key bytes are `sought` (keyLength bytes); size()
    // when none. With nullptr it only builds the hash.
    size_t firstEntryWithKey(const unsigned char* sought);
    // The same for a built hash, probing from the slot `sought` hashes to.
    size_t firstEntryFromSlot(size_t slot, const unsigned char* sought) const;
    // The hash of keyLength key bytes that places them in `slots`.
    size_t hashOf(const unsigned char* key) const;
};

namespace xbase::tabledetail {

// The engine settings in force (TAdsSettings::Apply and Current).
inline TAdsSettings& settings() {
    static TAdsSettings current;
    return current;
}

// The value of numeric field text; blank or unreadable text reads as 0.
inline double numberValue(std::string_view text) {
    double v;
    xbase::parseNumberText(text, v);
    return v;
}

inline kes::Date dateFromRaw(std::string_view raw, bool* empty = nullptr) {
    auto d = kes::Date::fromYyyymmdd(raw);
    if (empty) *empty = !d.has_value();
    return d ? *d : kes::Date();
}

inline bool logicalFromByte(char c) {
    return c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1';
}

// Asks the processor to fetch the memory at `address` ahead of its use.
inline void prefetch(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

} // namespace xbase::tabledetail
