// FoxPro compact compound index (structural CDX): reader and bulk writer.
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
#include "data/cdx.h"

#include "common/Parallel.h"
#include "data/Coding.h"
#include "data/Error.h"
#include "data/IndexFile.h"
#include "data/buffer.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

namespace xbase {

namespace {

using coding::getBe32;
using coding::getLe16;
using coding::getLe32;
using coding::putBe32;
using coding::putLe16;
using coding::putLe32;

constexpr uint32_t kPage = 512;
constexpr uint32_t kHeaderSize = 1024; // a tag header and its expression pool
constexpr uint32_t kNoPage = 0xFFFFFFFFu;
constexpr uint16_t kMaxKeyLength = 240;
constexpr uint16_t kTagNameLength = 10; // key length of the tag directory
constexpr uint32_t kLeafHead = 24;
constexpr uint32_t kLeafRoom = kPage - kLeafHead; // 488
constexpr uint32_t kNodeHead = 12;
constexpr uint32_t kNodeRoom = kPage - kNodeHead; // 500

// Node attributes.
constexpr uint16_t kAttrRoot = 1;
constexpr uint16_t kAttrLeaf = 2;

// Index options byte.
constexpr uint8_t kOptUnique = 0x01;
constexpr uint8_t kOptFor = 0x08;
constexpr uint8_t kOptCompact = 0x20;
constexpr uint8_t kOptCompound = 0x40;
constexpr uint8_t kOptStructure = 0x80; // set on the file header (tag directory)
constexpr uint8_t kSignature = 0x01;

// Offsets inside a tag header.
constexpr uint32_t kHdrRoot = 0;
constexpr uint32_t kHdrFree = 4;
constexpr uint32_t kHdrKeyLength = 12;
constexpr uint32_t kHdrOptions = 14;
constexpr uint32_t kHdrSignature = 15;
constexpr uint32_t kHdrDescending = 502;
constexpr uint32_t kHdrForPos = 504;
constexpr uint32_t kHdrForLen = 506;
constexpr uint32_t kHdrKeyPos = 508;
constexpr uint32_t kHdrKeyLen = 510;
constexpr uint32_t kHdrPool = 512;
constexpr uint32_t kPoolSize = 512;

// The Julian day number of 30 December 1899, day zero of Value::date.
constexpr int32_t kJulianDayZero = 2415019;

// Trailing bytes a leaf leaves out: blanks for character keys, zero bytes for
// the 8-byte numbers of numeric and date keys.
unsigned char padByteFor(ValueType type) {
    return (type == ValueType::Numeric || type == ValueType::Date) ? 0x00 : 0x20;
}

// The bit layout of packed leaf entries: record number in the low bits, then
// the duplicate count, then the trailing count.
struct LeafFormat {
    int recBits = 0;
    int dupBits = 0;
    int trailBits = 0;
    int bytes = 0; // bytes per entry
};

LeafFormat leafFormatFor(uint16_t keyLength, uint32_t maxRecno) {
    LeafFormat f;
    f.dupBits = f.trailBits = std::bit_width(unsigned(keyLength));
    const int recNeed = std::max(1, int(std::bit_width(maxRecno)));
    f.bytes = std::max(3, (recNeed + f.dupBits + f.trailBits + 7) / 8);
    f.recBits = std::min(32, f.bytes * 8 - f.dupBits - f.trailBits);
    return f;
}

// ---------------------------------------------------------------- reading

struct TagHeader {
    uint32_t root = 0;
    uint16_t keyLength = 0;
    uint8_t options = 0;
    bool descending = false;
    std::string keyExpression;
    std::string forExpression;
};

class Reader {
  public:
    Reader(const std::string& path, IndexFileBytes data)
        : path_(path), data_(std::move(data)), used_(data_.size() / kPage + 1, 0) {}

    [[noreturn]] void corrupt(const std::string& what) const {
        throw EADSDatabaseError(AE_CORRUPT_INDEX, path_ + ": corrupt CDX index: " + what);
    }

    // Reads the tag header at `offset`; `what` names it in errors.
    TagHeader header(uint32_t offset, const std::string& what) {
        if (offset % kPage != 0)
            corrupt(what + " at " + hexText(offset) + " is not on a page boundary");
        if (uint64_t(offset) + kHeaderSize > data_.size())
            corrupt(what + " at " + hexText(offset) + " lies past the end of the file (" +
                    std::to_string(data_.size()) + " bytes)");
        claim(offset, what);
        claim(offset + kPage, what);
        const unsigned char* h = data_.data() + offset;
        TagHeader t;
        t.root = getLe32(h + kHdrRoot);
        t.keyLength = getLe16(h + kHdrKeyLength);
        t.options = h[kHdrOptions];
        if (h[kHdrSignature] != kSignature || !(t.options & kOptCompact))
            corrupt(what + " at " + hexText(offset) + " is not a compact index header (options " +
                    hexText(t.options) + ", signature " + hexText(h[kHdrSignature]) + ")");
        if (t.keyLength == 0 || t.keyLength > kMaxKeyLength)
            corrupt(what + ": key length " + std::to_string(t.keyLength) +
                    " does not fit a page (1 to " + std::to_string(kMaxKeyLength) + ")");
        t.descending = getLe16(h + kHdrDescending) != 0;
        const uint16_t keyPos = getLe16(h + kHdrKeyPos), keyLen = getLe16(h + kHdrKeyLen);
        t.keyExpression = poolString(h, keyPos, keyLen, what + " key expression");
        if (t.options & kOptFor) {
            uint16_t forPos = getLe16(h + kHdrForPos);
            const uint16_t forLen = getLe16(h + kHdrForLen);
            if (forPos == 0) forPos = keyLen; // the condition follows the key expression
            t.forExpression = poolString(h, forPos, forLen, what + " FOR expression");
        }
        return t;
    }

    // Every entry of the B-tree rooted at `root`, in index order.
    void walk(const TagHeader& t, unsigned char pad, KeyEntries& out, const std::string& what) {
        out.clear();
        out.keyLength = t.keyLength;
        struct Item {
            uint32_t offset;
            int depth;
        };
        std::vector<Item> stack{{t.root, 0}};
        int leafDepth = -1;
        uint32_t prevLeaf = kNoPage, prevLeafRight = kNoPage;
        bool first = true;
        std::vector<uint32_t> leaves; // in index order
        size_t total = 0;             // keys the leaves claim
        while (!stack.empty()) {
            const Item it = stack.back();
            stack.pop_back();
            const unsigned char* n = node(it.offset, what);
            const uint16_t attr = getLe16(n);
            const uint16_t count = getLe16(n + 2);
            if (attr > (kAttrRoot | kAttrLeaf))
                corrupt(what + ": node at " + hexText(it.offset) + " has attributes " +
                        std::to_string(attr));
            if (first && !(attr & kAttrRoot))
                corrupt(what + ": root node at " + hexText(it.offset) +
                        " is not marked as the root");
            first = false;
            if (attr & kAttrLeaf) {
                if (leafDepth < 0) leafDepth = it.depth;
                if (it.depth != leafDepth)
                    corrupt(what + ": leaf at " + hexText(it.offset) +
                            " lies at another depth than the first leaf");
                const uint32_t left = getLe32(n + 4), right = getLe32(n + 8);
                if (left != prevLeaf || (prevLeaf != kNoPage && prevLeafRight != it.offset))
                    corrupt(what + ": sibling links of the leaf at " + hexText(it.offset) +
                            " do not match the tree (a loop or a broken chain)");
                prevLeaf = it.offset;
                prevLeafRight = right;
                leaves.push_back(it.offset);
                total += count;
                continue;
            }
            const uint32_t entry = uint32_t(t.keyLength) + 8;
            if (count == 0 || count * entry > kNodeRoom)
                corrupt(what + ": interior node at " + hexText(it.offset) + " claims " +
                        std::to_string(count) + " keys");
            if (it.depth >= 64) corrupt(what + ": the tree is deeper than 64 levels");
            for (uint32_t i = count; i-- > 0;) {
                const unsigned char* e = n + kNodeHead + i * entry;
                stack.push_back({getBe32(e + t.keyLength + 4), it.depth + 1});
            }
        }
        if (prevLeafRight != kNoPage)
            corrupt(what + ": the last leaf at " + hexText(prevLeaf) +
                    " points on to a right sibling");
        // The structure holds: decode the leaves.
        out.keys.reserve(std::min<size_t>(total, data_.size()) * t.keyLength);
        out.recnos.reserve(std::min<size_t>(total, data_.size()));
        for (uint32_t at : leaves) {
            const unsigned char* n = data_.data() + at;
            const uint16_t count = getLe16(n + 2);
            // A leaf holds at most 488 entries (one byte each); one that
            // claims more is refused before anything is written.
            const size_t base = out.recnos.size(), room = std::min<size_t>(count, kLeafRoom);
            out.keys.resize((base + room) * t.keyLength);
            out.recnos.resize(base + room);
            leaf(n, count, at, t.keyLength, pad, out.keys.data() + base * t.keyLength,
                 out.recnos.data() + base, what);
        }
    }

  private:
    // Marks a page as belonging to some structure; a second claim is a loop
    // or two structures sharing a page.
    void claim(uint32_t offset, const std::string& what) {
        unsigned char& u = used_[offset / kPage];
        if (u)
            corrupt(what + ": page " + hexText(offset) +
                    " is reached a second time (a loop, or a page in two places)");
        u = 1;
    }

    const unsigned char* node(uint32_t offset, const std::string& what) {
        if (offset % kPage != 0 || offset == kNoPage)
            corrupt(what + ": node offset " + hexText(offset) + " is not on a page boundary");
        if (uint64_t(offset) + kPage > data_.size())
            corrupt(what + ": node offset " + hexText(offset) + " lies past the end of the file (" +
                    std::to_string(data_.size()) + " bytes)");
        claim(offset, what);
        return data_.data() + offset;
    }

    std::string poolString(const unsigned char* h, uint16_t pos, uint16_t len,
                           const std::string& what) const {
        if (uint32_t(pos) + len > kPoolSize)
            corrupt(what + " (" + std::to_string(pos) + "+" + std::to_string(len) +
                    ") lies outside the expression pool");
        const char* s = reinterpret_cast<const char*>(h + kHdrPool + pos);
        return std::string(s, strnlen(s, len));
    }

    // Decodes the leaf at `offset` (its page at `n`) into `keys` and `recnos`.
    void leaf(const unsigned char* n, uint16_t count, uint32_t offset, uint16_t kl,
              unsigned char pad, unsigned char* keys, uint32_t* recnos,
              const std::string& what) const {
        const uint16_t freeSpace = getLe16(n + 12);
        const uint32_t recMask = getLe32(n + 14);
        const unsigned dupMask = n[18], trailMask = n[19];
        const unsigned recBits = n[20], dupBits = n[21], trailBits = n[22], bytes = n[23];
        auto bad = [&](const std::string& why) {
            corrupt(what + ": leaf at " + hexText(offset) + ": " + why);
        };
        if (bytes < 1 || bytes > 8 || recBits < 1 || recBits > 32 || dupBits > 8 || trailBits > 8 ||
            recBits + dupBits + trailBits > bytes * 8)
            bad("bit counts " + std::to_string(recBits) + "/" + std::to_string(dupBits) + "/" +
                std::to_string(trailBits) + " do not fit " + std::to_string(bytes) +
                " bytes per entry");
        if (recMask != (recBits == 32 ? 0xFFFFFFFFu : (1u << recBits) - 1) ||
            dupMask != (1u << dupBits) - 1 || trailMask != (1u << trailBits) - 1)
            bad("masks do not match the bit counts");
        const uint32_t infoEnd = kLeafHead + uint32_t(count) * bytes;
        if (infoEnd > kPage) bad("claims " + std::to_string(count) + " keys");
        if (freeSpace > kPage - infoEnd) bad("free space " + std::to_string(freeSpace));

        uint32_t keyPos = kPage; // key bytes are stored from the end backwards
        for (uint32_t i = 0; i < count; ++i) {
            const unsigned char* e = n + kLeafHead + i * bytes;
            uint64_t v = 0;
            for (unsigned b = 0; b < bytes; ++b)
                v |= uint64_t(e[b]) << (8 * b);
            const uint32_t recno = uint32_t(v) & recMask;
            const unsigned dup = unsigned(v >> recBits) & dupMask;
            const unsigned trail = unsigned(v >> (recBits + dupBits)) & trailMask;
            if (dup + trail > kl)
                bad("entry " + std::to_string(i + 1) + " has " + std::to_string(dup) +
                    " duplicate and " + std::to_string(trail) + " trailing bytes");
            if (i == 0 && dup != 0) bad("the first entry repeats bytes of no key");
            const unsigned stored = kl - dup - trail;
            if (keyPos < infoEnd + stored) bad("key bytes overlap the entry information");
            keyPos -= stored;
            unsigned char* k = keys + size_t(i) * kl;
            if (dup) std::memcpy(k, k - kl, dup);
            std::memcpy(k + dup, n + keyPos, stored);
            std::memset(k + dup + stored, pad, trail);
            recnos[i] = recno;
        }
    }

    const std::string& path_;
    IndexFileBytes data_;
    std::vector<unsigned char> used_; // one flag per page
};

std::string trimName(const unsigned char* k, uint16_t len) {
    std::string s(reinterpret_cast<const char*>(k), len);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

// ---------------------------------------------------------------- writing

[[noreturn]] void createFailed(const std::string& path, const std::string& what) {
    throw EADSDatabaseError(AE_CREATE_FAILED, path + ": cannot write the CDX index: " + what);
}

// Lays out one B-tree: leaves filled with compressed entries, then the
// interior levels bottom-up, the root last.
class TreeBuilder {
  public:
    TreeBuilder(const KeyEntries& e, unsigned char pad, LeafFormat f)
        : e_(e), kl_(e.keyLength), pad_(pad), f_(f) {
        planLeaves();
        interiorCapacity_ = kNodeRoom / (uint32_t(kl_) + 8);
        size_t n = leafStarts_.size();
        pages_ = n;
        while (n > 1) {
            n = (n + interiorCapacity_ - 1) / interiorCapacity_;
            pages_ += n;
        }
    }

    size_t pages() const { return pages_; }

    // Writes the pages at `base` (a file offset) into `out`; returns the root.
    uint32_t write(unsigned char* out, uint32_t base) const {
        const size_t leaves = leafStarts_.size();
        // Each level: offset of every node and the index of its last entry.
        std::vector<uint32_t> offsets(leaves);
        std::vector<size_t> lastEntry(leaves);
        for (size_t p = 0; p < leaves; ++p) {
            offsets[p] = base + uint32_t(p * kPage);
            const size_t from = leafStarts_[p];
            const size_t to = p + 1 < leaves ? leafStarts_[p + 1] : e_.size();
            lastEntry[p] = to - 1;
            writeLeaf(out + p * kPage, from, to, leaves == 1, p > 0 ? offsets[p] - kPage : kNoPage,
                      p + 1 < leaves ? offsets[p] + kPage : kNoPage);
        }
        size_t next = leaves;
        while (offsets.size() > 1) {
            const size_t children = offsets.size();
            const size_t nodes = (children + interiorCapacity_ - 1) / interiorCapacity_;
            std::vector<uint32_t> upOffsets(nodes);
            std::vector<size_t> upLast(nodes);
            for (size_t q = 0; q < nodes; ++q) {
                unsigned char* n = out + (next + q) * kPage;
                upOffsets[q] = base + uint32_t((next + q) * kPage);
                const size_t from = q * interiorCapacity_;
                const size_t to = std::min(children, from + interiorCapacity_);
                putLe16(n, nodes == 1 ? kAttrRoot : 0);
                putLe16(n + 2, uint16_t(to - from));
                putLe32(n + 4, q > 0 ? upOffsets[q] - kPage : kNoPage);
                putLe32(n + 8, q + 1 < nodes ? upOffsets[q] + kPage : kNoPage);
                unsigned char* entry = n + kNodeHead;
                for (size_t c = from; c < to; ++c) {
                    std::memcpy(entry, e_.key(lastEntry[c]), kl_);
                    putBe32(entry + kl_, e_.recnos[lastEntry[c]]);
                    putBe32(entry + kl_ + 4, offsets[c]);
                    entry += kl_ + 8;
                }
                upLast[q] = lastEntry[to - 1];
            }
            next += nodes;
            offsets.swap(upOffsets);
            lastEntry.swap(upLast);
        }
        return offsets[0];
    }

  private:
    unsigned trailing(const unsigned char* k) const {
        unsigned t = 0;
        while (t < kl_ && k[kl_ - 1 - t] == pad_)
            ++t;
        return t;
    }
    unsigned shared(const unsigned char* a, const unsigned char* b, unsigned limit) const {
        unsigned d = 0;
        while (d < limit && a[d] == b[d])
            ++d;
        return d;
    }

    // Splits the entries into leaves, each filled as far as its free space
    // allows, and keeps each entry's counts of leading bytes shared with the
    // entry before it (0 at the start of a leaf) and of trailing pad bytes.
    void planLeaves() {
        leafStarts_.push_back(0);
        // Every entry's counts are written below: no need to clear them first.
        dup_.resize(e_.size());
        trail_.resize(e_.size());
        uint32_t room = kLeafRoom;
        for (size_t i = 0; i < e_.size(); ++i) {
            const unsigned char* k = e_.key(i);
            const unsigned trail = trailing(k);
            const bool firstInLeaf = leafStarts_.back() == i;
            unsigned dup = firstInLeaf ? 0 : shared(e_.key(i - 1), k, kl_ - trail);
            uint32_t need = f_.bytes + (kl_ - trail - dup);
            if (need > room) {
                leafStarts_.push_back(i);
                room = kLeafRoom;
                dup = 0;
                need = f_.bytes + (kl_ - trail);
            }
            room -= need;
            dup_[i] = static_cast<unsigned char>(dup);
            trail_[i] = static_cast<unsigned char>(trail);
        }
    }

    void writeLeaf(unsigned char* n, size_t from, size_t to, bool root, uint32_t left,
                   uint32_t right) const {
        putLe16(n, uint16_t(kAttrLeaf | (root ? kAttrRoot : 0)));
        putLe16(n + 2, uint16_t(to - from));
        putLe32(n + 4, left);
        putLe32(n + 8, right);
        putLe32(n + 14, f_.recBits == 32 ? 0xFFFFFFFFu : (1u << f_.recBits) - 1);
        n[18] = uint8_t((1u << f_.dupBits) - 1);
        n[19] = uint8_t((1u << f_.trailBits) - 1);
        n[20] = uint8_t(f_.recBits);
        n[21] = uint8_t(f_.dupBits);
        n[22] = uint8_t(f_.trailBits);
        n[23] = uint8_t(f_.bytes);
        uint32_t keyPos = kPage;
        unsigned char* info = n + kLeafHead;
        for (size_t i = from; i < to; ++i) {
            const unsigned char* k = e_.key(i);
            const unsigned trail = trail_[i];
            const unsigned dup = dup_[i];
            const unsigned stored = kl_ - trail - dup;
            keyPos -= stored;
            std::memcpy(n + keyPos, k + dup, stored);
            const uint64_t v = uint64_t(e_.recnos[i]) | uint64_t(dup) << f_.recBits |
                               uint64_t(trail) << (f_.recBits + f_.dupBits);
            for (int b = 0; b < f_.bytes; ++b)
                info[b] = uint8_t(v >> (8 * b));
            info += f_.bytes;
        }
        putLe16(n + 12, uint16_t(keyPos - (info - n)));
    }

    const KeyEntries& e_;
    uint16_t kl_;
    unsigned char pad_;
    LeafFormat f_;
    std::vector<size_t> leafStarts_;
    RawVector<unsigned char> dup_, trail_; // per entry; a key has at most 240 bytes
    size_t interiorCapacity_ = 1;
    size_t pages_ = 0;
};

void writeHeader(unsigned char* h, uint32_t root, uint16_t keyLength, uint8_t options,
                 bool descending, const std::string& keyExpr, const std::string& forExpr) {
    putLe32(h + kHdrRoot, root);
    putLe32(h + kHdrFree, 0); // no free pages
    putLe16(h + kHdrKeyLength, keyLength);
    h[kHdrOptions] = options;
    h[kHdrSignature] = kSignature;
    putLe16(h + kHdrDescending, descending ? 1 : 0);
    const uint16_t keyLen = uint16_t(keyExpr.size() + 1);
    putLe16(h + kHdrForPos, keyLen);
    putLe16(h + kHdrForLen, uint16_t(forExpr.size() + 1));
    putLe16(h + kHdrKeyPos, 0);
    putLe16(h + kHdrKeyLen, keyLen);
    std::memcpy(h + kHdrPool, keyExpr.data(), keyExpr.size());
    std::memcpy(h + kHdrPool + keyLen, forExpr.data(), forExpr.size());
}

void checkTag(const std::string& path, const CdxTag& t, size_t outOfOrder) {
    const std::string what = "tag \"" + t.name + "\": ";
    if (t.name.empty() || t.name.size() > kTagNameLength)
        createFailed(path, what + "a tag name has 1 to 10 characters");
    if (std::isdigit(static_cast<unsigned char>(t.name[0])))
        createFailed(path, what + "a tag name begins with a letter or _");
    for (char c : t.name)
        if (!(std::isupper(static_cast<unsigned char>(c)) ||
              std::isdigit(static_cast<unsigned char>(c)) || c == '_'))
            createFailed(path, what + "a tag name holds upper-case letters, digits and _");
    if (t.keyExpression.empty() || t.keyExpression.find('\0') != std::string::npos)
        createFailed(path, what + "empty key expression");
    if (t.forExpression.find('\0') != std::string::npos ||
        t.keyExpression.size() + t.forExpression.size() + 2 > kPoolSize)
        createFailed(path, what + "the expressions do not fit the expression pool");
    const KeyEntries& e = t.entries;
    const uint16_t kl = e.keyLength;
    if (kl == 0 || kl > kMaxKeyLength)
        createFailed(path, what + "key length " + std::to_string(kl) + " is not 1 to 240");
    if ((t.keyType == ValueType::Numeric || t.keyType == ValueType::Date) && kl != 8)
        createFailed(path, what + "numeric and date keys have 8 bytes");
    if (e.keys.size() != e.recnos.size() * size_t(kl))
        createFailed(path, what + "key bytes and record numbers do not agree");
    if (outOfOrder != 0)
        createFailed(path, what + "entries are not in index order at entry " +
                               std::to_string(outOfOrder));
}

// The one-based number of the first entry of an ascending tag out of index
// order, 0 when all are in order (a descending tag is stored as given).
size_t firstEntryOutOfIndexOrder(const CdxTag& t) {
    const KeyEntries& e = t.entries;
    const uint16_t kl = e.keyLength;
    if (t.descending || kl == 0 || e.keys.size() != e.recnos.size() * size_t(kl)) return 0;
    for (size_t i = 1; i < e.size(); ++i) {
        const int c = std::memcmp(e.key(i - 1), e.key(i), kl);
        if (c > 0 || (c == 0 && e.recnos[i - 1] >= e.recnos[i])) return i + 1;
    }
    return 0;
}

uint64_t sortableDouble(double d) {
    if (d == 0 || std::isnan(d)) d = 0; // -0 sorts as 0
    uint64_t u = std::bit_cast<uint64_t>(d);
    return (u >> 63) ? ~u : (u | (uint64_t(1) << 63));
}

} // namespace

struct CdxReader::State {
    Reader reader;
    std::vector<TagHeader> headers;
};

CdxReader::CdxReader() = default;
CdxReader::~CdxReader() = default;
CdxReader::CdxReader(CdxReader&&) noexcept = default;
CdxReader& CdxReader::operator=(CdxReader&&) noexcept = default;

CdxReader::CdxReader(const std::string& path, const KeyTypeResolver& keyTypeOf)
    : state_(std::make_unique<State>(State{Reader(path, viewIndexFile(path)), {}})) {
    Reader& r = state_->reader;
    const TagHeader dir = r.header(0, "file header");
    if (!(dir.options & kOptCompound))
        r.corrupt("file header: not a compound index (options " + hexText(dir.options) + ")");
    KeyEntries names;
    r.walk(dir, ' ', names, "tag directory");

    struct Found {
        uint32_t offset;
        std::string name;
    };
    std::vector<Found> found;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = trimName(names.key(i), names.keyLength);
        if (name.empty())
            r.corrupt("tag directory: entry " + std::to_string(i + 1) + " has no name");
        found.push_back({names.recnos[i], std::move(name)});
    }
    // Tags in the order they were created: by the offset of their header.
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.offset < b.offset; });

    // Every header first, so that no tree can wander into one of them.
    state_->headers.reserve(found.size());
    for (const Found& f : found)
        state_->headers.push_back(r.header(f.offset, "tag " + f.name + " header"));

    tags_.reserve(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const TagHeader& h = state_->headers[i];
        CdxTag t;
        t.name = found[i].name;
        t.keyExpression = h.keyExpression;
        t.forExpression = h.forExpression;
        t.unique = h.options & kOptUnique;
        t.descending = h.descending;
        if (t.keyExpression.empty()) r.corrupt("tag " + t.name + ": empty key expression");
        t.keyType = keyTypeOf(t.keyExpression);
        t.entries.keyLength = h.keyLength;
        tags_.push_back(std::move(t));
    }
}

void CdxReader::readEntries(size_t tag, KeyEntries& out) {
    const CdxTag& t = tags_.at(tag);
    state_->reader.walk(state_->headers[tag], padByteFor(t.keyType), out, "tag " + t.name);
}

std::vector<CdxTag> readCdx(const std::string& path, const KeyTypeResolver& keyTypeOf) {
    CdxReader reader(path, keyTypeOf);
    std::vector<CdxTag> tags = reader.tags();
    for (size_t i = 0; i < tags.size(); ++i)
        reader.readEntries(i, tags[i].entries);
    return tags;
}

void writeCdx(const std::string& path, const std::vector<CdxTag>& tags) {
    // Large tags are checked and laid out two at a time, each into its own
    // part of the file.
    size_t entries = 0;
    for (const CdxTag& t : tags)
        entries += t.entries.size();
    const bool twoThreads = entries >= 100000;

    std::vector<size_t> outOfOrder(tags.size(), 0);
    kes::runJobs(tags.size(), twoThreads,
                 [&](size_t i) { outOfOrder[i] = firstEntryOutOfIndexOrder(tags[i]); });
    for (size_t i = 0; i < tags.size(); ++i) {
        checkTag(path, tags[i], outOfOrder[i]);
        for (size_t j = 0; j < i; ++j)
            if (tags[j].name == tags[i].name)
                createFailed(path, "two tags are named \"" + tags[i].name + "\"");
    }

    std::vector<std::optional<TreeBuilder>> builders(tags.size());
    kes::runJobs(tags.size(), twoThreads, [&](size_t i) {
        const CdxTag& t = tags[i];
        uint32_t maxRecno = 0;
        for (uint32_t r : t.entries.recnos)
            maxRecno = std::max(maxRecno, r);
        builders[i].emplace(t.entries, padByteFor(t.keyType),
                            leafFormatFor(t.entries.keyLength, maxRecno));
    });

    // The tag directory lies right after the file header; its size depends on
    // the bits its "record numbers" (the tag header offsets) need, and those
    // offsets on its size, so settle both together.
    std::vector<size_t> order(tags.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    auto padded = [&](size_t i) {
        std::string n = tags[i].name;
        n.resize(kTagNameLength, ' ');
        return n;
    };
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return padded(a) < padded(b); });

    std::vector<uint32_t> headerAt(tags.size());
    KeyEntries dirEntries;
    dirEntries.keyLength = kTagNameLength;
    size_t dirPages = 1;
    uint64_t total = 0;
    for (;;) {
        uint64_t at = kHeaderSize + dirPages * kPage;
        for (size_t i = 0; i < tags.size(); ++i) {
            headerAt[i] = uint32_t(at);
            at += kHeaderSize + uint64_t(builders[i]->pages()) * kPage;
            if (at > 0xFFFFFE00u) createFailed(path, "the index would exceed 4 GB");
        }
        total = at;
        dirEntries.clear();
        uint32_t maxOffset = 0;
        for (size_t i : order) {
            dirEntries.push(reinterpret_cast<const unsigned char*>(padded(i).data()), headerAt[i]);
            maxOffset = std::max(maxOffset, headerAt[i]);
        }
        TreeBuilder dir(dirEntries, ' ', leafFormatFor(kTagNameLength, maxOffset));
        if (dir.pages() <= dirPages) break;
        dirPages = dir.pages();
    }

    // Fresh pages read as zero: what no page fills stays zero.
    ByteBuffer file;
    file.resize(total);
    unsigned char* out = reinterpret_cast<unsigned char*>(file.data());
    uint32_t maxOffset = 0;
    for (uint32_t a : headerAt)
        maxOffset = std::max(maxOffset, a);
    TreeBuilder dir(dirEntries, ' ', leafFormatFor(kTagNameLength, maxOffset));
    const uint32_t dirRoot = dir.write(out + kHeaderSize, kHeaderSize);
    writeHeader(out, dirRoot, kTagNameLength, kOptCompact | kOptCompound | kOptStructure, false, "",
                "");
    kes::runJobs(tags.size(), twoThreads, [&](size_t i) {
        const CdxTag& t = tags[i];
        const uint32_t pagesAt = headerAt[i] + kHeaderSize;
        const uint32_t root = builders[i]->write(out + pagesAt, pagesAt);
        builders[i].reset(); // its counts go as soon as its pages are laid out
        uint8_t options = kOptCompact | kOptCompound;
        if (t.unique) options |= kOptUnique;
        if (!t.forExpression.empty()) options |= kOptFor;
        writeHeader(out + headerAt[i], root, t.entries.keyLength, options, t.descending,
                    t.keyExpression, t.forExpression);
    });
    writeIndexFile(path, std::string_view(file.data(), file.size()));
}

std::string cdxKey(const Value& value, uint16_t keyLength) {
    std::string key;
    switch (value.type) {
    case ValueType::Character:
        key = value.str;
        key.resize(keyLength, ' ');
        return key;
    case ValueType::Logical:
        key = value.logical ? "T" : "F";
        key.resize(keyLength, ' ');
        return key;
    case ValueType::Numeric:
    case ValueType::Date: {
        const double d = value.type == ValueType::Numeric ? value.num
                         : value.dateEmpty                ? 0.0
                                                          : double(value.date) + kJulianDayZero;
        const uint64_t u = sortableDouble(d);
        key.resize(8);
        for (int i = 0; i < 8; ++i)
            key[i] = char(uint8_t(u >> (56 - 8 * i)));
        key.resize(keyLength, '\0');
        return key;
    }
    }
    return key;
}

uint16_t cdxKeyLength(ValueType type, uint16_t fieldLength) {
    switch (type) {
    case ValueType::Numeric:
    case ValueType::Date:
        return 8;
    case ValueType::Logical:
        return 1;
    case ValueType::Character:
        break;
    }
    return std::min<uint16_t>(std::max<uint16_t>(fieldLength, 1), kMaxKeyLength);
}

} // namespace xbase
