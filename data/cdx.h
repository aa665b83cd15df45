// FoxPro compact compound (CDX) index files: every tag of a structural CDX
// read into memory, and a writer that rebuilds the whole file from the tags.
// The reader lives in cdx_read.cpp, the writer in cdx_write.cpp. Layout
// notes: docs/formats.md.
#pragma once

#include "data/KeyEntries.h"
#include "data/Value.h"

#include <functional>
#include <memory>
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

// A CDX file read whole, its tag directory and tag headers checked at once and
// each tag's entries walked when they are asked for: a table that uses one of
// its tags never decodes the others. Pages are checked across the walks, so a
// page that two tags share is found when the second one is read.
class CdxReader {
  public:
    CdxReader();
    // Reads the file and its tag headers; damage there throws as readCdx does.
    CdxReader(const std::string& path, const KeyTypeResolver& keyTypeOf);
    ~CdxReader();
    CdxReader(CdxReader&&) noexcept;
    CdxReader& operator=(CdxReader&&) noexcept;

    // The tags in the order they were created, without their entries
    // (entries.keyLength is set).
    const std::vector<CdxTag>& tags() const { return tags_; }
    // Walks one tag's tree into `out` (AE_CORRUPT_INDEX on damage).
    void readEntries(size_t tag, KeyEntries& out);

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::vector<CdxTag> tags_;
};

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
