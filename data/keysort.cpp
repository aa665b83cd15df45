#include "data/keysort.h"

#include "data/buffer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace xbase {

namespace {

// Sorts keys into index order: by key bytes (reversed when descending), equal
// keys by record number. The first sixteen key bytes are compared as two
// integers, so keys up to that length never reach memcmp.
// Keys of up to twelve bytes: the key and the record number fit two integers,
// and the sorted keys are read back from them.
void sortShortEntries(KeyEntries& e, bool descending) {
    const size_t n = e.size();
    const size_t len = e.keyLength;
    struct Item {
        uint64_t a, b; // key bytes 0-7; key bytes 8-11 and the record number
    };
    std::vector<Item> items;
    reserveLarge(items, n);
    items.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* k = e.key(i);
        uint64_t a = 0, tail = 0;
        for (size_t b = 0; b < 8; ++b)
            a = (a << 8) | (b < len ? k[b] : 0);
        for (size_t b = 8; b < 12; ++b)
            tail = (tail << 8) | (b < len ? k[b] : 0);
        if (descending) {
            a = ~a;
            tail = ~tail & 0xFFFFFFFFu;
        }
        items[i] = Item{a, (tail << 32) | e.recnos[i]};
    }
    std::sort(items.begin(), items.end(),
              [](const Item& x, const Item& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });
    for (size_t i = 0; i < n; ++i) {
        uint64_t a = items[i].a, tail = items[i].b >> 32;
        if (descending) {
            a = ~a;
            tail = ~tail & 0xFFFFFFFFu;
        }
        unsigned char* k = e.keys.data() + i * len;
        for (size_t b = 0; b < len && b < 8; ++b)
            k[b] = static_cast<unsigned char>(a >> (56 - 8 * b));
        for (size_t b = 8; b < len; ++b)
            k[b] = static_cast<unsigned char>(tail >> (24 - 8 * (b - 8)));
        e.recnos[i] = static_cast<uint32_t>(items[i].b & 0xFFFFFFFFu);
    }
}

// Keys of thirteen to sixteen bytes: the key fills two integers, the record
// number a third, and the sorted keys are read back from them.
void sortMediumEntries(KeyEntries& e, bool descending) {
    const size_t n = e.size();
    const size_t len = e.keyLength;
    struct Item {
        uint64_t a, b; // key bytes 0-7 and 8-15
        uint32_t recno;
    };
    std::vector<Item> items;
    reserveLarge(items, n);
    items.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* k = e.key(i);
        uint64_t a = 0, b = 0;
        for (size_t j = 0; j < 8; ++j)
            a = (a << 8) | k[j];
        for (size_t j = 8; j < 16; ++j)
            b = (b << 8) | (j < len ? k[j] : 0);
        if (descending) {
            a = ~a;
            b = ~b;
        }
        items[i] = Item{a, b, e.recnos[i]};
    }
    std::sort(items.begin(), items.end(), [](const Item& x, const Item& y) {
        if (x.a != y.a) return x.a < y.a;
        if (x.b != y.b) return x.b < y.b;
        return x.recno < y.recno;
    });
    for (size_t i = 0; i < n; ++i) {
        uint64_t a = items[i].a, b = items[i].b;
        if (descending) {
            a = ~a;
            b = ~b;
        }
        unsigned char* k = e.keys.data() + i * len;
        for (size_t j = 0; j < 8; ++j)
            k[j] = static_cast<unsigned char>(a >> (56 - 8 * j));
        for (size_t j = 8; j < len; ++j)
            k[j] = static_cast<unsigned char>(b >> (56 - 8 * (j - 8)));
        e.recnos[i] = items[i].recno;
    }
}

} // namespace

void sortEntries(KeyEntries& e, bool descending) {
    if (e.keyLength <= 12) {
        sortShortEntries(e, descending);
        return;
    }
    if (e.keyLength <= 16) {
        sortMediumEntries(e, descending);
        return;
    }
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
    const bool longKeys = len > 16;
    auto less = [&](const Item& a, const Item& b) {
        if (a.hi != b.hi) return a.hi < b.hi;
        if (a.lo != b.lo) return a.lo < b.lo;
        if (longKeys) {
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
