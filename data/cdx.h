// FoxPro compact compound (CDX) index files: every tag of a structural CDX
// read into memory, and a writer that rebuilds the whole file from the tags.
// Layout notes: docs/formats.md.
#pragma once

#include "data/Value.h"
#include "data/keys.h"

#include <functional>
#include <string>
#include <vector>

namespace xbase {

struct CdxTag {
    std::string name; // as stored (upper case)
    std::string keyExpression;
    std::string forExpression; // empty when none
    ValueType keyType = ValueType::Character;
    bool unique = false;
    bool descending = false;
    KeyEntries entries; // in index order; entries.keyLength is the key length
};

// Tells the reader the type of a tag's key expression (it decides how trailing
// bytes that the leaf pages leave out are restored).
using KeyTypeResolver = std::function<ValueType(const std::string& keyExpression)>;

// Reads the tag directory and every tag. Damaged files throw EADSDatabaseError
// (AE_CORRUPT_INDEX) naming the file; a missing one AE_FILE_NOT_FOUND.
std::vector<CdxTag> readCdx(const std::string& path, const KeyTypeResolver& keyTypeOf);

// Writes a complete structural CDX file holding `tags` (entries in index order),
// replacing any file of that name.
void writeCdx(const std::string& path, const std::vector<CdxTag>& tags);

// The key bytes FoxPro stores for a value: character values blank-padded or cut
// to `keyLength`; numbers and dates as 8-byte sortable doubles; logicals one byte.
std::string cdxKey(const Value& value, uint16_t keyLength);

// The key length of a tag on a field of this type and width.
uint16_t cdxKeyLength(ValueType type, uint16_t fieldLength);

} // namespace xbase
