// Clipper NTX single-key index files: reading every key in index order, and a
// bulk writer that builds a complete file from keys already in index order.
// Layout notes: docs/formats.md.
#pragma once

#include "data/KeyEntries.h"
#include "data/Value.h"

#include <string>
#include <string_view>

namespace xbase {

struct NtxInfo {
    std::string keyExpression;
    std::string forExpression; // empty when the file carries none
    std::string tagName;       // at most 10 characters; empty when the file carries none
    uint16_t keyLength = 0;
    uint16_t keyDecimals = 0;
    bool unique = false;
    bool descending = false;
};

// Reads the header and walks the B-tree: every key in index order into `out`.
// A damaged file (bad signature, a page offset past the end, a loop in the
// tree, a key length that does not fit the page) throws EADSDatabaseError
// (AE_CORRUPT_INDEX) naming the file; a missing one AE_FILE_NOT_FOUND.
// A unique index yields only the first of equal keys; a descending one its
// keys in tree order, which is then descending. On error `out` is unchanged.
NtxInfo readNtx(const std::string& path, KeyEntries& out);

// Writes an NTX file for `entries`, which are in index order already
// (the caller sorts them by key bytes, equal keys by record number).
// Entries out of byte order (reversed for a descending index) or with record
// number 0 are refused (AE_INVALID_VALUE); a unique index keeps the first of
// equal keys. The file is written under a temporary name in the same folder
// and renamed over `path`.
void writeNtx(const std::string& path, const NtxInfo& info, const KeyEntries& entries);

// The key bytes Clipper stores for a value of a key of this length/decimals:
// character values blank-padded or cut, numbers as text of `keyLength`
// characters with `keyDecimals` decimals in Clipper's sortable form, dates as
// "yyyymmdd" (an empty date as blanks).
std::string ntxKey(const Value& value, uint16_t keyLength, uint16_t keyDecimals);

// Seek in entries of an ascending index: the position of the first entry
// whose key is not below `key` (entries.size() when there is none). A `key`
// shorter than the key length compares as a prefix. An exact seek has found
// the value when that entry's key bytes equal `key`.
size_t ntxLowerBound(const KeyEntries& entries, std::string_view key);

} // namespace xbase
