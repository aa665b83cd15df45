#include "data/IndexCheck.h"

#include "common/Parallel.h"

#include <cstring>
#include <vector>

namespace xbase {

namespace {

// Where the keys in [from, to) leave index order, as firstEntryOutOfOrder.
size_t outOfOrderIn(const KeyEntries& entries, bool descending, size_t from, size_t to) {
    const size_t len = entries.keyLength;
    for (size_t i = from < 1 ? 1 : from; i < to; ++i) {
        const int c = std::memcmp(entries.key(i - 1), entries.key(i), len);
        if (descending ? c < 0 : c > 0) return i + 1;
    }
    return 0;
}

std::string entry(size_t i) {
    return "entry " + std::to_string(i + 1);
}

} // namespace

size_t firstEntryOutOfOrder(const KeyEntries& entries, bool descending) {
    return outOfOrderIn(entries, descending, 1, entries.size());
}

std::string indexDisagreement(const KeyEntries& entries, const IndexShape& shape,
                              uint32_t recordCount,
                              const std::function<std::string(uint32_t)>& keyOf,
                              const std::function<bool(uint32_t)>& passes,
                              const std::function<bool(uint32_t, const unsigned char*, int)>& keyIs,
                              int threads, RawVector<uint32_t>* entryOfOut) {
    const size_t len = entries.keyLength;
    // Two threads where every step only reads: record keys compared in place
    // and no condition to evaluate.
    const bool twoThreads = threads > 1 && keyIs && !shape.hasCondition;

    // Which entry names each record (entry + 1, 0: none). The keys are then
    // compared in record order: the records are read front to back, and only
    // the much smaller key array is visited out of order.
    RawVector<uint32_t> entryOf(static_cast<size_t>(recordCount) + 1, 0);
    std::string badEntry;
    auto mapEntries = [&] {
        for (size_t i = 0; i < entries.size(); ++i) {
            const uint32_t recno = entries.recnos[i];
            if (recno == 0 || recno > recordCount) {
                badEntry = entry(i) + " names record " + std::to_string(recno) +
                           " but the table has " + std::to_string(recordCount);
                return;
            }
            if (entryOf[recno]) {
                badEntry = entry(i) + " names record " + std::to_string(recno) + " again";
                return;
            }
            entryOf[recno] = static_cast<uint32_t>(i + 1);
            if (shape.unique && i > 0 &&
                std::memcmp(entries.key(i - 1), entries.key(i), len) == 0) {
                badEntry = entry(i) + " repeats the key of the entry before it in a unique index";
                return;
            }
        }
    };
    size_t outOfOrder = 0;
    auto checkOrder = [&] { outOfOrder = firstEntryOutOfOrder(entries, shape.descending); };
    if (twoThreads) {
        kes::runBoth(mapEntries, checkOrder);
    } else {
        checkOrder();
        if (outOfOrder == 0) mapEntries();
    }
    if (outOfOrder)
        return "the keys are not in " + std::string(shape.descending ? "descending" : "ascending") +
               " order at entry " + std::to_string(outOfOrder);
    if (!badEntry.empty()) return badEntry;

    // The first record in [from, to) whose entry does not hold its key or
    // which does not meet the condition; empty when none.
    auto checkRecords = [&](uint32_t from, uint32_t to, int part) -> std::string {
        for (uint32_t recno = from; recno < to; ++recno) {
            if (!entryOf[recno]) continue;
            const size_t i = entryOf[recno] - 1;
            bool same;
            if (keyIs) {
                same = keyIs(recno, entries.key(i), part);
            } else {
                const std::string key = keyOf(recno);
                same = key.size() == len && std::memcmp(key.data(), entries.key(i), len) == 0;
            }
            if (!same)
                return entry(i) + " does not hold the key of record " + std::to_string(recno);
            if (shape.hasCondition && !passes(recno))
                return entry(i) + " names record " + std::to_string(recno) +
                       ", which does not meet the index condition";
        }
        return {};
    };
    std::string bad;
    if (twoThreads) {
        const uint32_t half = recordCount / 2 + 1;
        std::string later;
        kes::runBoth([&] { bad = checkRecords(1, half, 0); },
                     [&] { later = checkRecords(half, recordCount + 1, 1); });
        if (bad.empty()) bad = std::move(later);
    } else {
        bad = checkRecords(1, recordCount + 1, 0);
    }
    if (!bad.empty()) return bad;

    // Records the index leaves out.
    if (!shape.unique) {
        size_t expected = 0;
        for (uint32_t r = 1; r <= recordCount; ++r)
            if (!shape.hasCondition || passes(r)) ++expected;
        if (expected != entries.size())
            return "it lists " + std::to_string(entries.size()) + " records where the table has " +
                   std::to_string(expected);
    } else {
        // A unique index lists one record per distinct key: every record left
        // out must share its key with a listed one.
        for (uint32_t r = 1; r <= recordCount; ++r) {
            if (entryOf[r] || (shape.hasCondition && !passes(r))) continue;
            const std::string key = keyOf(r);
            size_t lo = 0, hi = entries.size();
            while (lo < hi) {
                const size_t mid = lo + (hi - lo) / 2;
                const int c = std::memcmp(entries.key(mid), key.data(), len);
                if (shape.descending ? c > 0 : c < 0)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            if (lo == entries.size() || std::memcmp(entries.key(lo), key.data(), len) != 0)
                return "it leaves out record " + std::to_string(r);
        }
    }
    if (entryOfOut) *entryOfOut = std::move(entryOf);
    return {};
}

} // namespace xbase
