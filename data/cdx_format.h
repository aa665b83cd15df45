// The layout of a structural CDX that its reader (cdx_read.cpp) and writer
// (cdx_write.cpp) share: page and header sizes, offsets, attribute and option
// bits. Nothing outside those two files includes this.
//
// File layout (all integers little-endian unless noted):
//   offset 0     file header (1,024 bytes): the tag directory's own tag header
//   pages        512 bytes each, at multiples of 512
//   tag header   1,024 bytes: root page, free list, key length, options,
//                signature, order, expression pool lengths, expression pool
//   interior     attributes, key count, left/right sibling, then entries of
//                key + big-endian record number + big-endian child offset
//   leaf         attributes, key count, siblings, free space, bit masks and
//                counts, packed entry info from the front, key bytes from the
//                back with leading duplicate and trailing pad bytes left out
// The tag directory is a compact index like any tag: its keys are the tag
// names (10 bytes, blank padded) and its "record numbers" the offsets of the
// tag headers. docs/formats.md describes every field.
#pragma once

#include "data/Value.h"

#include <cstdint>

namespace xbase::cdxformat {

inline constexpr uint32_t kPage = 512;
inline constexpr uint32_t kHeaderSize = 1024; // a tag header and its expression pool
inline constexpr uint32_t kNoPage = 0xFFFFFFFFu;
inline constexpr uint16_t kMaxKeyLength = 240;
inline constexpr uint16_t kTagNameLength = 10; // key length of the tag directory
inline constexpr uint32_t kLeafHead = 24;
inline constexpr uint32_t kLeafRoom = kPage - kLeafHead; // 488
inline constexpr uint32_t kNodeHead = 12;
inline constexpr uint32_t kNodeRoom = kPage - kNodeHead; // 500

// Node attributes.
inline constexpr uint16_t kAttrRoot = 1;
inline constexpr uint16_t kAttrLeaf = 2;

// Index options byte.
inline constexpr uint8_t kOptUnique = 0x01;
inline constexpr uint8_t kOptFor = 0x08;
inline constexpr uint8_t kOptCompact = 0x20;
inline constexpr uint8_t kOptCompound = 0x40;
inline constexpr uint8_t kOptStructure = 0x80; // set on the file header (tag directory)
inline constexpr uint8_t kSignature = 0x01;

// Offsets inside a tag header.
inline constexpr uint32_t kHdrRoot = 0;
inline constexpr uint32_t kHdrFree = 4;
inline constexpr uint32_t kHdrKeyLength = 12;
inline constexpr uint32_t kHdrOptions = 14;
inline constexpr uint32_t kHdrSignature = 15;
inline constexpr uint32_t kHdrDescending = 502;
inline constexpr uint32_t kHdrForPos = 504;
inline constexpr uint32_t kHdrForLen = 506;
inline constexpr uint32_t kHdrKeyPos = 508;
inline constexpr uint32_t kHdrKeyLen = 510;
inline constexpr uint32_t kHdrPool = 512;
inline constexpr uint32_t kPoolSize = 512;

// Trailing bytes a leaf leaves out: blanks for character keys, zero bytes for
// the 8-byte numbers of numeric and date keys.
inline unsigned char padByteFor(ValueType type) {
    return (type == ValueType::Numeric || type == ValueType::Date) ? 0x00 : 0x20;
}

} // namespace xbase::cdxformat
