// Writing a structural CDX: the tags checked, every tree laid out in memory
// (large tags two at a time), the file written whole; and the key bytes the
// format stores for a value. Layout: cdx_format.h, docs/formats.md.
#include "data/cdx.h"

#include "common/Parallel.h"
#include "data/ByteBuffer.h"
#include "data/Coding.h"
#include "data/Error.h"
#include "data/IndexFile.h"
#include "data/cdx_format.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>

namespace xbase {

namespace {

using namespace cdxformat;
using coding::putBe32;
using coding::putLe16;
using coding::putLe32;

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
