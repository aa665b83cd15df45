#include "data/IndexCheck.h"

#include <cstring>
#include <vector>

namespace xbase {

size_t firstEntryOutOfOrder(const KeyEntries& entries, bool descending) {
    const size_t len = entries.keyLength;
    for (size_t i = 1; i < entries.size(); ++i) {
        const int c = std::memcmp(entries.key(i - 1), entries.key(i), len);
        if (descending ? c < 0 : c > 0) return i + 1;
    }
    return 0;
}

std::string indexDisagreement(const KeyEntries& entries, const IndexShape& shape,
                              uint32_t recordCount,
                              const std::function<std::string(uint32_t)>& keyOf,
                              const std::function<bool(uint32_t)>& passes,
                              const std::function<bool(uint32_t, const unsigned char*)>& keyIs) {
    if (size_t at = firstEntryOutOfOrder(entries, shape.descending))
        return "the keys are not in " + std::string(shape.descending ? "descending" : "ascending") +
               " order at entry " + std::to_string(at);
    const size_t len = entries.keyLength;
    // Which entry names each record (entry + 1, 0: none). The keys are then
    // compared in record order: the records are read front to back, and only
    // the much smaller key array is visited out of order.
    std::vector<uint32_t> entryOf(static_cast<size_t>(recordCount) + 1, 0);
    auto entry = [](size_t i) { return "entry " + std::to_string(i + 1); };
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint32_t recno = entries.recnos[i];
        if (recno == 0 || recno > recordCount)
            return entry(i) + " names record " + std::to_string(recno) + " but the table has " +
                   std::to_string(recordCount);
        if (entryOf[recno]) return entry(i) + " names record " + std::to_string(recno) + " again";
        entryOf[recno] = static_cast<uint32_t>(i + 1);
        if (shape.unique && i > 0 && std::memcmp(entries.key(i - 1), entries.key(i), len) == 0)
            return entry(i) + " repeats the key of the entry before it in a unique index";
    }
    for (uint32_t recno = 1; recno <= recordCount; ++recno) {
        if (!entryOf[recno]) continue;
        const size_t i = entryOf[recno] - 1;
        bool same;
        if (keyIs) {
            same = keyIs(recno, entries.key(i));
        } else {
            const std::string key = keyOf(recno);
            same = key.size() == len && std::memcmp(key.data(), entries.key(i), len) == 0;
        }
        if (!same) return entry(i) + " does not hold the key of record " + std::to_string(recno);
        if (shape.hasCondition && !passes(recno))
            return entry(i) + " names record " + std::to_string(recno) +
                   ", which does not meet the index condition";
    }
    // Records the index leaves out.
    size_t expected = 0;
    if (!shape.unique) {
        for (uint32_t r = 1; r <= recordCount; ++r)
            if (!shape.hasCondition || passes(r)) ++expected;
        if (expected != entries.size())
            return "it lists " + std::to_string(entries.size()) + " records where the table has " +
                   std::to_string(expected);
        return {};
    }
    // A unique index lists one record per distinct key: every record left out
    // must share its key with a listed one.
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
    return {};
}

} // namespace xbase
