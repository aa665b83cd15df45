// Clipper NTX single-key index files: the reader walks the B-tree of a file
// read whole into memory, checking every offset before it is used; the writer
// lays out a complete tree for keys already in index order. Layout notes:
// docs/formats.md, "NTX (Clipper single-key index)".
#include "data/ntx.h"

#include "common/Date.h"
#include "data/Coding.h"
#include "data/Error.h"
#include "data/IndexCheck.h"
#include "data/IndexFile.h"
#include "data/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace xbase {
namespace {

using coding::getLe16;
using coding::getLe32;
using coding::putLe16;
using coding::putLe32;

// Header (page 0) offsets and the page layout.
constexpr size_t kPageSize = 1024;
constexpr size_t kOffSignature = 0; // uint16 LE
constexpr size_t kOffVersion = 2;   // uint16 LE, an update counter
constexpr size_t kOffRoot = 4;      // uint32 LE, file offset of the root page
constexpr size_t kOffNextFree = 8;  // uint32 LE, first page of the free list, 0 for none
constexpr size_t kOffItemSize = 12; // uint16 LE, key length + 8
constexpr size_t kOffKeySize = 14;  // uint16 LE
constexpr size_t kOffKeyDecimals = 16;
constexpr size_t kOffMaxItems = 18; // uint16 LE, keys a page may hold
constexpr size_t kOffHalfPage = 20; // uint16 LE, max items / 2
constexpr size_t kOffKeyExpr = 22;  // 256 bytes, NUL terminated
constexpr size_t kOffUnique = 278;  // 1 byte
constexpr size_t kOffDescending = 280;
constexpr size_t kOffForExpr = 282; // 256 bytes
constexpr size_t kOffTagName = 538; // 12 bytes
constexpr size_t kExprSize = 256;
constexpr size_t kTagNameMax = 10;
constexpr size_t kItemHead = 8; // child page offset + record number before the key
constexpr size_t kMaxKeyLength = 256;

constexpr uint16_t kFlagForItem = 0x0001;
constexpr uint16_t kFlagDefault = 0x0006;
constexpr uint16_t kFlagOldDefault = 0x0003;
constexpr uint16_t kFlagLargeFile = 0x0200; // page references are page numbers
constexpr uint16_t kFlagCompound = 0x8000;  // a multi-tag file, not a single NTX
constexpr uint16_t kFlagKnown = 0x87FF;

// Keys per page for a key length: as many items (plus one more child slot and
// the offset table) as fit in 1022 bytes, less one, rounded down to even.
uint16_t maxItemsFor(size_t keyLength) {
    size_t m = (kPageSize - 2) / (keyLength + kItemHead + 2) - 1;
    if (m & 1) --m;
    return static_cast<uint16_t>(m);
}

std::string headerText(const unsigned char* p, size_t size) {
    size_t n = 0;
    while (n < size && p[n] != 0)
        ++n;
    while (n > 0 && p[n - 1] == ' ')
        --n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

[[noreturn]] void corrupt(const std::string& path, const std::string& problem) {
    throw EADSDatabaseError(AE_CORRUPT_INDEX,
                            "The index file " + path + " is damaged: " + problem + ".");
}

// ---------------------------------------------------------------------------
// Reading

class TreeReader {
  public:
    TreeReader(const std::string& path, const IndexFileBytes& data, uint16_t keyLength,
               uint16_t maxItems, bool largeFile)
        : path_(path), data_(data), keyLength_(keyLength), itemSize_(keyLength + kItemHead),
          maxItems_(maxItems), largeFile_(largeFile), visited_(data.size() / kPageSize, 0) {}

    // Offset in the file of a page reference (a byte offset, or a page number
    // in files flagged as large), checked to name a whole page of the file.
    uint64_t pageOffset(uint32_t ref, const char* what) const {
        const uint64_t off = largeFile_ ? static_cast<uint64_t>(ref) * kPageSize : ref;
        if (off % kPageSize != 0)
            corrupt(path_, std::string(what) + " offset " + hexText(off) +
                               " is not a multiple of " + std::to_string(kPageSize));
        if (off < kPageSize)
            corrupt(path_, std::string(what) + " offset " + hexText(off) + " points at the header");
        if (off + kPageSize > data_.size())
            corrupt(path_, std::string(what) + " offset " + hexText(off) +
                               " lies past the end of the file (" + std::to_string(data_.size()) +
                               " bytes): the file is truncated");
        return off;
    }

    void walk(uint32_t rootRef, bool unique, RawVector<unsigned char>& keys,
              RawVector<uint32_t>& recnos) {
        struct Frame {
            const unsigned char* page;
            uint64_t offset;
            uint16_t count;
            uint16_t slot; // next slot whose child is to be visited
        };
        std::vector<Frame> stack;
        const unsigned char* lastKey = nullptr;

        auto enter = [&](uint32_t ref, const char* what) {
            const uint64_t off = pageOffset(ref, what);
            unsigned char& seen = visited_[off / kPageSize];
            if (seen)
                corrupt(path_, "the page at offset " + hexText(off) +
                                   " is reached twice: the tree has a loop");
            seen = 1;
            const unsigned char* page = data_.data() + off;
            const uint16_t count = getLe16(page);
            if (count > maxItems_)
                corrupt(path_, "the page at offset " + hexText(off) + " holds " +
                                   std::to_string(count) + " keys, more than the " +
                                   std::to_string(maxItems_) + " a page can hold");
            // The offset table has count + 1 entries: the items, then the slot
            // that carries only the rightmost child.
            const size_t tableEnd = 2 + 2 * (static_cast<size_t>(count) + 1);
            for (size_t s = 0; s <= count; ++s) {
                const size_t itemOff = getLe16(page + 2 + 2 * s);
                const size_t need = s < count ? itemSize_ : 4;
                if (itemOff < tableEnd || itemOff + need > kPageSize)
                    corrupt(path_, "item " + std::to_string(s) + " of the page at offset " +
                                       hexText(off) + " lies outside the page (at " +
                                       std::to_string(itemOff) + ")");
            }
            stack.push_back(Frame{page, off, count, 0});
        };

        auto emit = [&](const Frame& f, size_t slot) {
            const unsigned char* item = f.page + getLe16(f.page + 2 + 2 * slot);
            const uint32_t recno = getLe32(item + 4);
            if (recno == 0)
                corrupt(path_, "key " + std::to_string(slot) + " of the page at offset " +
                                   hexText(f.offset) + " has record number 0");
            const unsigned char* key = item + kItemHead;
            if (unique && lastKey && std::memcmp(lastKey, key, keyLength_) == 0) return;
            keys.insert(keys.end(), key, key + keyLength_);
            recnos.push_back(recno);
            lastKey = key;
        };

        enter(rootRef, "the root page");
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.slot > f.count) {
                stack.pop_back();
                if (!stack.empty()) {
                    Frame& parent = stack.back();
                    if (parent.slot < parent.count) emit(parent, parent.slot);
                    ++parent.slot;
                }
                continue;
            }
            const unsigned char* item = f.page + getLe16(f.page + 2 + 2 * f.slot);
            const uint32_t child = getLe32(item);
            if (child != 0) {
                enter(child, "a child page"); // may reallocate: f is not used after this
                continue;
            }
            if (f.slot < f.count) emit(f, f.slot);
            ++f.slot;
        }
    }

  private:
    const std::string& path_;
    const IndexFileBytes& data_;
    size_t keyLength_;
    size_t itemSize_;
    uint16_t maxItems_;
    bool largeFile_;
    std::vector<unsigned char> visited_;
};

// ---------------------------------------------------------------------------
// Writing

// Builds the pages in the order a bulk build closes them: each page is written
// when it is full and a further key arrives (that key goes one level up, with
// the full page as its left child), the open pages of every level last, the
// root at the very end of the file.
class TreeBuilder {
  public:
    explicit TreeBuilder(uint16_t keyLength)
        : keyLength_(keyLength), itemSize_(keyLength + kItemHead),
          maxItems_(maxItemsFor(keyLength)),
          itemsStart_(2 + 2 * (static_cast<size_t>(maxItems_) + 1)) {}

    uint16_t maxItems() const { return maxItems_; }

    void reserveFor(size_t keys) {
        file_.reserve(kPageSize * (keys / std::max<size_t>(1, maxItems_ / 2) + 2));
    }

    void startFile() { file_.assign(kPageSize, 0); }

    void add(const unsigned char* key, uint32_t recno) {
        uint32_t child = 0;
        size_t level = 0;
        for (;;) {
            if (level == open_.size()) {
                open_.emplace_back();
                freshPage(open_.back());
                break;
            }
            if (open_[level].count < maxItems_) break;
            child = closePage(open_[level], child);
            freshPage(open_[level]);
            ++level;
        }
        putItem(open_[level], open_[level].count, child, recno, key);
        ++open_[level].count;
    }

    // Closes the open pages bottom-up and returns the root's offset.
    uint32_t finish() {
        if (open_.empty()) {
            open_.emplace_back();
            freshPage(open_.back());
        }
        uint32_t child = 0;
        for (Open& page : open_)
            child = closePage(page, child);
        open_.clear();
        balanceRightEdge(child);
        return child;
    }

    std::vector<unsigned char>& file() { return file_; }

  private:
    struct Open {
        unsigned char bytes[kPageSize];
        uint16_t count = 0;
    };

    void layout(unsigned char* page) const {
        std::memset(page, 0, kPageSize);
        for (size_t s = 0; s <= maxItems_; ++s)
            putLe16(page + 2 + 2 * s, static_cast<uint32_t>(itemsStart_ + s * itemSize_));
    }
    void freshPage(Open& page) {
        layout(page.bytes);
        page.count = 0;
    }
    unsigned char* itemAt(unsigned char* page, size_t slot) const {
        return page + itemsStart_ + slot * itemSize_;
    }
    void putItem(Open& page, size_t slot, uint32_t child, uint32_t recno,
                 const unsigned char* key) const {
        unsigned char* item = itemAt(page.bytes, slot);
        putLe32(item, child);
        putLe32(item + 4, recno);
        std::memcpy(item + kItemHead, key, keyLength_);
    }
    // Sets the rightmost child, appends the page to the file, returns its offset.
    uint32_t closePage(Open& page, uint32_t rightChild) {
        putLe32(itemAt(page.bytes, page.count), rightChild);
        putLe16(page.bytes, page.count);
        const size_t offset = file_.size();
        if (offset > UINT32_MAX - kPageSize)
            throw EADSDatabaseError(AE_WRITE_FAILED, "An NTX index cannot exceed 4 GB.");
        file_.insert(file_.end(), page.bytes, page.bytes + kPageSize);
        return static_cast<uint32_t>(offset);
    }

    // Only the last page of each level can hold fewer than half the keys a page
    // holds; such a page shares the keys of its left neighbour evenly, through
    // their separator in the parent.
    void balanceRightEdge(uint32_t root) {
        const uint16_t half = maxItems_ / 2;
        uint32_t at = root;
        for (;;) {
            unsigned char* parent = file_.data() + at;
            const uint16_t n = getLe16(parent);
            const uint32_t last = getLe32(itemAt(parent, n));
            if (last == 0) return;
            if (n > 0 && getLe16(file_.data() + last) < half)
                rebalance(parent, n - 1, getLe32(itemAt(parent, n - 1)), last);
            at = last;
        }
    }

    void rebalance(unsigned char* parent, size_t sepSlot, uint32_t leftOff, uint32_t rightOff) {
        unsigned char* left = file_.data() + leftOff;
        unsigned char* right = file_.data() + rightOff;
        const size_t nl = getLe16(left), nr = getLe16(right);
        // Every item of both pages in order, the separator between them; each
        // item carries its left child, `rightmost` the last child.
        std::vector<unsigned char> items;
        items.reserve((nl + nr + 1) * itemSize_);
        const unsigned char* l0 = itemAt(left, 0);
        items.insert(items.end(), l0, l0 + nl * itemSize_);
        const size_t sepAt = items.size();
        const unsigned char* sep = itemAt(parent, sepSlot);
        items.insert(items.end(), sep, sep + itemSize_);
        putLe32(items.data() + sepAt, getLe32(itemAt(left, nl)));
        const unsigned char* r0 = itemAt(right, 0);
        items.insert(items.end(), r0, r0 + nr * itemSize_);
        const uint32_t rightmost = getLe32(itemAt(right, nr));

        const size_t a = (nl + nr + 1) / 2; // keys left of the new separator
        layout(left);
        std::memcpy(itemAt(left, 0), items.data(), a * itemSize_);
        const unsigned char* newSep = items.data() + a * itemSize_;
        putLe32(itemAt(left, a), getLe32(newSep));
        putLe16(left, static_cast<uint32_t>(a));

        std::memcpy(itemAt(parent, sepSlot) + 4, newSep + 4, itemSize_ - 4);

        const size_t b = nl + nr - a;
        layout(right);
        std::memcpy(itemAt(right, 0), newSep + itemSize_, b * itemSize_);
        putLe32(itemAt(right, b), rightmost);
        putLe16(right, static_cast<uint32_t>(b));
    }

    size_t keyLength_;
    size_t itemSize_;
    uint16_t maxItems_;
    size_t itemsStart_;
    std::vector<Open> open_;
    std::vector<unsigned char> file_;
};

[[noreturn]] void badArgument(const std::string& path, const std::string& problem) {
    throw EADSDatabaseError(AE_INVALID_VALUE,
                            "The index file " + path + " cannot be written: " + problem + ".");
}

void putText(unsigned char* p, const std::string& text) {
    std::memcpy(p, text.data(), text.size());
}

// ---------------------------------------------------------------------------
// Keys

std::string fitted(std::string s, size_t length) {
    s.resize(length, ' ');
    return s;
}

} // namespace

NtxInfo readNtx(const std::string& path, KeyEntries& out) {
    const IndexFileBytes data = readIndexFile(path);
    if (data.size() < kPageSize)
        corrupt(path, "the file has " + std::to_string(data.size()) +
                          " bytes, less than its 1024-byte header");
    const unsigned char* h = data.data();

    const uint16_t signature = getLe16(h + kOffSignature);
    if (signature & kFlagCompound)
        corrupt(path, "it is a multi-tag index (signature " + hexText(signature) +
                          "), not a single-key NTX file");
    if ((signature & ~kFlagKnown) != 0 ||
        ((signature & kFlagDefault) != kFlagDefault && signature != kFlagOldDefault))
        corrupt(path, "the signature " + hexText(signature) + " is not that of an NTX index");
    const bool largeFile = (signature & kFlagLargeFile) != 0;

    NtxInfo info;
    const uint16_t itemSize = getLe16(h + kOffItemSize);
    info.keyLength = getLe16(h + kOffKeySize);
    info.keyDecimals = getLe16(h + kOffKeyDecimals);
    const uint16_t maxItems = getLe16(h + kOffMaxItems);
    if (info.keyLength == 0 || info.keyLength > kMaxKeyLength)
        corrupt(path, "the key length " + std::to_string(info.keyLength) + " is outside 1.." +
                          std::to_string(kMaxKeyLength));
    if (itemSize != info.keyLength + kItemHead)
        corrupt(path, "the item size " + std::to_string(itemSize) +
                          " does not match the key length " + std::to_string(info.keyLength));
    if (maxItems < 2)
        corrupt(path, "a page is to hold " + std::to_string(maxItems) + " keys, fewer than 2");
    if (2 + (static_cast<size_t>(maxItems) + 1) * (itemSize + 2) > kPageSize)
        corrupt(path, std::to_string(maxItems) + " keys of length " +
                          std::to_string(info.keyLength) + " do not fit a " +
                          std::to_string(kPageSize) + "-byte page");
    if (info.keyDecimals >= info.keyLength && info.keyDecimals != 0)
        corrupt(path, "the key has " + std::to_string(info.keyDecimals) + " decimals but only " +
                          std::to_string(info.keyLength) + " characters");

    info.keyExpression = headerText(h + kOffKeyExpr, kExprSize);
    if (info.keyExpression.empty() || h[kOffKeyExpr] < 0x20)
        corrupt(path, "the header holds no key expression");
    if ((signature & kFlagForItem) && h[kOffForExpr] >= 0x20)
        info.forExpression = headerText(h + kOffForExpr, kExprSize);
    if (h[kOffTagName] > 0x20) info.tagName = headerText(h + kOffTagName, kTagNameMax);
    info.unique = h[kOffUnique] != 0;
    info.descending = h[kOffDescending] != 0;

    TreeReader reader(path, data, info.keyLength, maxItems, largeFile);
    const uint32_t nextFree = getLe32(h + kOffNextFree);
    if (nextFree != 0) reader.pageOffset(nextFree, "the free-list");

    KeyEntries entries;
    entries.keyLength = info.keyLength;
    const size_t pages = data.size() / kPageSize;
    entries.recnos.reserve(pages * maxItems);
    entries.keys.reserve(pages * maxItems * info.keyLength);
    reader.walk(getLe32(h + kOffRoot), info.unique, entries.keys, entries.recnos);
    // A descending index keeps its keys from the highest down; keys in any
    // other order (or a flag that contradicts them) would make every find miss.
    if (const size_t at = firstEntryOutOfOrder(entries, info.descending))
        corrupt(path, "its keys are not in " +
                          std::string(info.descending ? "descending" : "ascending") +
                          " order (entry " + std::to_string(at) + ")");
    out = std::move(entries);
    return info;
}

void writeNtx(const std::string& path, const NtxInfo& info, const KeyEntries& entries) {
    if (info.keyLength == 0 || info.keyLength > kMaxKeyLength)
        badArgument(path, "the key length " + std::to_string(info.keyLength) + " is outside 1.." +
                              std::to_string(kMaxKeyLength));
    if ((entries.keyLength != info.keyLength) && !(entries.size() == 0 && entries.keyLength == 0))
        badArgument(path, "the keys have length " + std::to_string(entries.keyLength) +
                              ", the index " + std::to_string(info.keyLength));
    if (entries.keys.size() != entries.size() * entries.keyLength)
        badArgument(path, "the key bytes do not match the number of record numbers");
    if (info.keyDecimals != 0 && info.keyDecimals >= info.keyLength)
        badArgument(path, "a key of " + std::to_string(info.keyLength) +
                              " characters cannot have " + std::to_string(info.keyDecimals) +
                              " decimals");
    if (info.keyExpression.empty() || static_cast<unsigned char>(info.keyExpression[0]) < 0x20 ||
        info.keyExpression.size() >= kExprSize)
        badArgument(path, "the key expression must have 1 to 255 characters");
    if (info.forExpression.size() >= kExprSize ||
        (!info.forExpression.empty() && static_cast<unsigned char>(info.forExpression[0]) < 0x20))
        badArgument(path, "the FOR expression must have at most 255 characters");
    if (info.tagName.size() > kTagNameMax)
        badArgument(path, "the tag name must have at most 10 characters");

    const size_t len = info.keyLength;
    TreeBuilder builder(info.keyLength);
    builder.reserveFor(entries.size());
    builder.startFile();
    const unsigned char* previous = nullptr;
    for (size_t i = 0; i < entries.size(); ++i) {
        const unsigned char* key = entries.key(i);
        if (entries.recnos[i] == 0)
            badArgument(path, "entry " + std::to_string(i) + " has record number 0");
        if (previous) {
            const int cmp = std::memcmp(previous, key, len);
            if (info.descending ? cmp < 0 : cmp > 0)
                badArgument(path, "entry " + std::to_string(i) + " is out of index order");
            if (cmp == 0 && info.unique) continue; // a unique index keeps the first of equal keys
        }
        builder.add(key, entries.recnos[i]);
        previous = key;
    }
    const uint32_t root = builder.finish();

    std::vector<unsigned char>& file = builder.file();
    unsigned char* h = file.data();
    putLe16(h + kOffSignature, kFlagDefault | (info.forExpression.empty() ? 0 : kFlagForItem));
    putLe16(h + kOffVersion, 1);
    putLe32(h + kOffRoot, root);
    putLe32(h + kOffNextFree, 0);
    putLe16(h + kOffItemSize, static_cast<uint32_t>(len + kItemHead));
    putLe16(h + kOffKeySize, info.keyLength);
    putLe16(h + kOffKeyDecimals, info.keyDecimals);
    putLe16(h + kOffMaxItems, builder.maxItems());
    putLe16(h + kOffHalfPage, builder.maxItems() / 2);
    putText(h + kOffKeyExpr, info.keyExpression);
    h[kOffUnique] = info.unique ? 1 : 0;
    h[kOffDescending] = info.descending ? 1 : 0;
    putText(h + kOffForExpr, info.forExpression);
    putText(h + kOffTagName, info.tagName);

    // The complete file replaces the old one at once: readers see the old
    // file or the new one, never a part.
    writeIndexFile(path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
}

std::string ntxKey(const Value& value, uint16_t keyLength, uint16_t keyDecimals) {
    switch (value.type) {
    case ValueType::Character:
        return fitted(value.str, keyLength);
    case ValueType::Date:
        return fitted(value.dateEmpty ? std::string(8, ' ') : kes::Date(value.date).toYyyymmdd(),
                      keyLength);
    case ValueType::Logical:
        return fitted(value.logical ? "T" : "F", keyLength);
    case ValueType::Numeric: {
        const std::string text = numberText(value.num, keyDecimals);
        if (text.empty() || text.size() > keyLength) return std::string(keyLength, '*');
        // Right-aligned with leading zeros; a negative number loses its sign
        // and every digit d becomes ',' - d (0 -> ',', 9 -> '#'), all below
        // '0', so that byte order is numeric order.
        std::string key(keyLength - text.size(), '0');
        key += text;
        if (text[0] == '-') {
            key[keyLength - text.size()] = '0';
            for (char& c : key)
                if (c >= '0' && c <= '9') c = static_cast<char>(',' - (c - '0'));
        }
        return key;
    }
    }
    return std::string(keyLength, ' ');
}

size_t ntxLowerBound(const KeyEntries& entries, std::string_view key) {
    const size_t n = std::min<size_t>(key.size(), entries.keyLength);
    size_t lo = 0, hi = entries.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (std::memcmp(entries.key(mid), key.data(), n) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

} // namespace xbase
