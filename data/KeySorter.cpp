#include "data/KeySorter.h"

#include "common/Parallel.h"
#include "data/ByteBuffer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

namespace xbase {

namespace {

// ------------------------------------------------------------ radix sort
//
// Keys of up to 28 bytes are sorted by their bytes, one byte a pass, least
// significant first: every pass is stable, so the result is ordered by key
// bytes and, among equal keys, as the entries came. Entries that come in
// record order (as a build from the records gives them) therefore need no
// pass over their record numbers; others get one pass per byte of the
// largest record number, below the key bytes. A byte that is the same in
// every entry (a dash in every SSN, the high bytes of a date) costs no pass.
//
// The passes move whole entries (key bytes, then the record number) between
// two arrays, so that no pass reaches back into the key array out of order.

// One entry as the passes move it: the key bytes (inverted when descending,
// so that ascending byte order is the order wanted) and the record number,
// least significant byte first.
template <size_t S> struct Packed { unsigned char b[S]; };

using Counts = std::array<uint32_t, 256>;

// One pass of the sort: the byte positions it reads as one digit, least
// significant first. Each byte value present at a position stands for its
// rank among the values there, times the number of combinations of the
// positions below it in the pass; the digit is the sum. Ranks keep byte
// order, so the digits order entries as their bytes at these positions do,
// and positions with few values (digits, a month's first figure) share one
// pass instead of taking one each.
struct Pass {
    // At most eleven positions: each has two values at least, and 2^11 digits.
    static constexpr size_t kMaxPositions = 11;
    size_t buckets = 1;
    size_t positions = 0;
    std::array<size_t, kMaxPositions> at{};
    std::array<std::array<uint32_t, 256>, kMaxPositions> weight{};

    uint32_t digitOf(const unsigned char* b) const {
        uint32_t d = weight[0][b[at[0]]];
        for (size_t j = 1; j < positions; ++j)
            d += weight[j][b[at[j]]];
        return d;
    }
};

// The most digits one pass may have: enough to merge three decimal figures,
// few enough that the places the entries go stay in the caches.
constexpr size_t kMaxBuckets = 2048;
static_assert(size_t(1) << Pass::kMaxPositions == kMaxBuckets);

// The passes over entries of S bytes at `records` (key bytes at the front,
// already inverted when descending); the sorted entries go into `out`.
template <size_t S>
void radixSort(ByteBuffer& records, size_t n, size_t len, size_t recnoBytes, bool descending,
               int parts, KeyEntries& out) {
    using Rec = Packed<S>;
    static_assert(sizeof(Rec) == S);

    // The byte positions from the least significant: the record number's
    // bytes below the key's.
    std::vector<size_t> positions;
    for (size_t k = 0; k < recnoBytes; ++k)
        positions.push_back(len + k);
    for (size_t k = len; k-- > 0;)
        positions.push_back(k);

    // The halves the work splits into when two threads share it.
    const size_t half = parts > 1 ? n / 2 : n;
    auto rangeOf = [&](size_t part) {
        return part == 0 ? std::pair<size_t, size_t>{0, half} : std::pair<size_t, size_t>{half, n};
    };

    // The second array comes straight from the system and goes back to it
    // when done: freed to the allocator, it would stay in the process.
    ByteBuffer scratch;
    scratch.resize(n * sizeof(Rec));
    Rec* from = reinterpret_cast<Rec*>(records.data());
    Rec* to = reinterpret_cast<Rec*>(scratch.data());

    // Which byte values stand at each position.
    std::vector<std::vector<Counts>> seen(2, std::vector<Counts>(positions.size()));
    kes::runJobs(size_t(parts), parts > 1, [&](size_t part) {
        auto [lo, hi] = rangeOf(part);
        std::vector<Counts>& c = seen[part];
        for (size_t i = lo; i < hi; ++i)
            for (size_t p = 0; p < positions.size(); ++p)
                ++c[p][from[i].b[positions[p]]];
    });

    // The passes: positions in order, as many to a pass as its digits allow.
    // A byte that every entry shares leaves the order as it is: no pass.
    std::vector<Pass> plan;
    plan.reserve(positions.size());
    for (size_t p = 0; p < positions.size(); ++p) {
        std::array<uint32_t, 256> rank{};
        uint32_t values = 0;
        for (size_t v = 0; v < 256; ++v)
            if (seen[0][p][v] + seen[1][p][v] != 0) rank[v] = values++;
        if (values < 2) continue;
        if (plan.empty() || plan.back().buckets * values > kMaxBuckets) plan.emplace_back();
        Pass& pass = plan.back();
        for (uint32_t& r : rank)
            r *= static_cast<uint32_t>(pass.buckets);
        pass.at[pass.positions] = positions[p];
        pass.weight[pass.positions] = rank;
        ++pass.positions;
        pass.buckets *= values;
    }

    // With one part, every pass's counts come from one read of the entries;
    // with two, each half counts what it holds before each pass, since the
    // passes before moved entries between the halves.
    std::vector<std::vector<uint32_t>> totals(plan.size());
    if (parts < 2) {
        for (size_t q = 0; q < plan.size(); ++q)
            totals[q].assign(plan[q].buckets, 0);
        for (size_t i = 0; i < n; ++i)
            for (size_t q = 0; q < plan.size(); ++q)
                ++totals[q][plan[q].digitOf(from[i].b)];
    }

    for (size_t q = 0; q < plan.size(); ++q) {
        const Pass& pass = plan[q];
        std::array<std::vector<uint32_t>, 2> mine;
        if (parts > 1)
            kes::runJobs(size_t(parts), parts > 1, [&](size_t part) {
                auto [lo, hi] = rangeOf(part);
                std::vector<uint32_t>& c = mine[part];
                c.assign(pass.buckets, 0);
                for (size_t i = lo; i < hi; ++i)
                    ++c[pass.digitOf(from[i].b)];
            });
        else {
            mine[0] = std::move(totals[q]);
            mine[1].assign(pass.buckets, 0);
        }
        // Where each part's entries of each digit go: all of the first
        // part's before the second's, which keeps the pass stable.
        std::array<std::vector<uint32_t>, 2> slot{std::vector<uint32_t>(pass.buckets),
                                                  std::vector<uint32_t>(pass.buckets)};
        size_t at = 0;
        for (size_t v = 0; v < pass.buckets; ++v) {
            slot[0][v] = static_cast<uint32_t>(at);
            at += mine[0][v];
            slot[1][v] = static_cast<uint32_t>(at);
            at += mine[1][v];
        }
        kes::runJobs(size_t(parts), parts > 1, [&](size_t part) {
            auto [lo, hi] = rangeOf(part);
            uint32_t* s = slot[part].data();
            const Rec* src = from;
            Rec* dst = to;
            for (size_t i = lo; i < hi; ++i)
                dst[s[pass.digitOf(src[i].b)]++] = src[i];
        });
        std::swap(from, to);
    }
    // Only the array holding the result stays.
    if (reinterpret_cast<char*>(to) == records.data()) {
        records.release();
    } else {
        scratch.release();
    }

    out.keyLength = static_cast<uint16_t>(len);
    out.keys.clear();
    out.recnos.clear();
    reserveLarge(out.keys, n * len);
    reserveLarge(out.recnos, n);
    out.keys.resize(n * len);
    out.recnos.resize(n);
    const unsigned char flip = descending ? 0xFF : 0x00;
    kes::runJobs(size_t(parts), parts > 1, [&](size_t part) {
        auto [lo, hi] = rangeOf(part);
        for (size_t i = lo; i < hi; ++i) {
            const Rec& r = from[i];
            unsigned char* k = out.keys.data() + i * len;
            for (size_t j = 0; j < len; ++j)
                k[j] = r.b[j] ^ flip;
            uint32_t recno = 0;
            for (size_t j = 0; j < 4; ++j)
                recno |= uint32_t(r.b[len + j]) << (8 * j);
            out.recnos[i] = recno;
        }
    });
    records.release();
    scratch.release();
}

// Longer keys: a comparison sort on the first sixteen bytes as two integers,
// the rest by memcmp, equal keys by record number.
void sortLongEntries(KeyEntries& e, bool descending) {
    const size_t n = e.size();
    const size_t len = e.keyLength;
    struct Item {
        uint64_t hi, lo;
        uint32_t recno, index;
    };
    std::vector<Item> items;
    reserveLarge(items, n);
    items.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* k = e.key(i);
        uint64_t hi = 0, lo = 0;
        for (size_t b = 0; b < 8; ++b)
            hi = (hi << 8) | (b < len ? k[b] : 0);
        for (size_t b = 8; b < 16; ++b)
            lo = (lo << 8) | (b < len ? k[b] : 0);
        if (descending) {
            hi = ~hi;
            lo = ~lo;
        }
        items[i] = Item{hi, lo, e.recnos[i], static_cast<uint32_t>(i)};
    }
    auto less = [&](const Item& a, const Item& b) {
        if (a.hi != b.hi) return a.hi < b.hi;
        if (a.lo != b.lo) return a.lo < b.lo;
        if (len > 16) {
            int c = std::memcmp(e.key(a.index) + 16, e.key(b.index) + 16, len - 16);
            if (c != 0) return descending ? c > 0 : c < 0;
        }
        return a.recno < b.recno;
    };
    std::sort(items.begin(), items.end(), less);
    KeyEntries sorted;
    sorted.keyLength = e.keyLength;
    reserveLarge(sorted.keys, e.keys.size());
    reserveLarge(sorted.recnos, n);
    sorted.keys.resize(e.keys.size());
    sorted.recnos.resize(n);
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(sorted.keys.data() + i * len, e.key(items[i].index), len);
        sorted.recnos[i] = items[i].recno;
    }
    e = std::move(sorted);
}

// Entries of up to 28 key bytes are sorted by the passes: a record of the key
// and the record number, with nothing between them.
constexpr size_t kMaxRadixKey = 28;

size_t recordSizeFor(uint16_t keyLength) {
    return size_t(keyLength) + 4;
}

using RadixSort = void (*)(ByteBuffer&, size_t, size_t, size_t, bool, int, KeyEntries&);

// The sort for each record size, 5 to 32 bytes.
template <size_t... K>
constexpr std::array<RadixSort, sizeof...(K)> radixSorts(std::index_sequence<K...>) {
    return {&radixSort<K + 5>...};
}
constexpr auto kRadixSorts = radixSorts(std::make_index_sequence<kMaxRadixKey>());

} // namespace

KeySorter::KeySorter(uint16_t keyLength, size_t capacity)
    : keyLength_(keyLength), stride_(recordSizeFor(keyLength)) {
    // Pages the entries never reach are never touched.
    records_.resize(capacity * stride_);
}

KeySorter::~KeySorter() = default;

void KeySorter::sortInto(KeyEntries& out, bool descending, int threads) {
    const size_t n = count_;
    const size_t len = keyLength_;
    const int parts = threads > 1 && n >= 2 ? 2 : 1;
    // Descending order is ascending order of the inverted bytes.
    if (descending)
        kes::runJobs(size_t(parts), parts > 1, [&](size_t part) {
            const size_t lo = part == 0 ? 0 : n / 2, hi = part == 0 && parts > 1 ? n / 2 : n;
            for (size_t i = lo; i < hi; ++i) {
                unsigned char* r = reinterpret_cast<unsigned char*>(records_.data()) + i * stride_;
                for (size_t j = 0; j < len; ++j)
                    r[j] = static_cast<unsigned char>(~r[j]);
            }
        });
    size_t recnoBytes = 0;
    if (!inRecordOrder_)
        for (uint32_t m = maxRecno_; m != 0; m >>= 8)
            ++recnoBytes;
    if (len >= 1 && len <= kMaxRadixKey)
        return kRadixSorts[len - 1](records_, n, len, recnoBytes, descending, parts, out);
    // Longer keys: back into entries, then the comparison sort.
    out.keyLength = keyLength_;
    out.clear();
    out.keys.resize(n * len);
    out.recnos.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* r =
            reinterpret_cast<const unsigned char*>(records_.data()) + i * stride_;
        unsigned char* k = out.keys.data() + i * len;
        for (size_t j = 0; j < len; ++j)
            k[j] = static_cast<unsigned char>(descending ? ~r[j] : r[j]);
        uint32_t recno = 0;
        for (size_t j = 0; j < 4; ++j)
            recno |= uint32_t(r[len + j]) << (8 * j);
        out.recnos[i] = recno;
    }
    records_.release();
    sortLongEntries(out, descending);
}

void sortEntries(KeyEntries& e, bool descending, int threads) {
    if (e.size() < 2) return;
    if (e.keyLength == 0 || e.keyLength > kMaxRadixKey) {
        sortLongEntries(e, descending);
        return;
    }
    KeySorter sorter(e.keyLength, e.size());
    for (size_t i = 0; i < e.size(); ++i)
        std::memcpy(sorter.add(e.recnos[i]), e.key(i), e.keyLength);
    e.clear();
    sorter.sortInto(e, descending, threads);
}

void dropDuplicateKeys(KeyEntries& e) {
    if (e.size() < 2) return;
    KeyEntries out;
    out.keyLength = e.keyLength;
    for (size_t i = 0; i < e.size(); ++i)
        if (i == 0 || std::memcmp(e.key(i), e.key(i - 1), e.keyLength) != 0)
            out.push(e.key(i), e.recnos[i]);
    e = std::move(out);
}

} // namespace xbase
