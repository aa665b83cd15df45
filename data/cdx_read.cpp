// Reading a structural CDX: the tag directory and tag headers checked when
// the file is opened, each tag's tree walked and checked when it is first
// asked for. Layout: data/cdx_format.h and docs/formats.md.
#include "data/cdx.h"

#include "data/Coding.h"
#include "data/Error.h"
#include "data/IndexFile.h"
#include "data/cdx_format.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace xbase {

namespace {

using namespace cdxformat;
using coding::getBe32;
using coding::getLe16;
using coding::getLe32;

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

    std::string path_; // a copy: the reader outlives the text it was made from
    IndexFileBytes data_;
    std::vector<unsigned char> used_; // one flag per page
};

std::string trimName(const unsigned char* k, uint16_t len) {
    std::string s(reinterpret_cast<const char*>(k), len);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
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
        // No expression holds control characters: such bytes are damage.
        for (const std::string* text : {&t.keyExpression, &t.forExpression})
            for (char c : *text)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    r.corrupt("tag " + t.name + ": its expression holds control characters");
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

} // namespace xbase
