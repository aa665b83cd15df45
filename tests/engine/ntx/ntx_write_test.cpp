// writeNtx → readNtx round trips over key lengths and key counts that give
// one to many levels, the shape of the trees written, the flags, the
// refusals, the replacement of an existing file, and the key forms of ntxKey.
#include "data/Error.h"
#include "data/ntx.h"
#include "ntx_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace ntxtest;
using xbase::KeyEntries;
using xbase::NtxInfo;

namespace {

// `count` entries in no particular order: every key value three times, digits
// at the end of the key, bytes above 127 in front of some.
KeyEntries makeEntries(uint16_t keyLength, size_t count) {
    KeyEntries e;
    e.keyLength = keyLength;
    for (size_t i = 0; i < count; ++i) {
        size_t value = (i * 7919) % count / 3;
        std::string key(keyLength, 'A');
        if (keyLength > 6 && value % 2) key[0] = '\xA4';
        for (size_t p = keyLength; p > 0 && keyLength - p < 6; --p, value /= 10)
            key[p - 1] = static_cast<char>('0' + value % 10);
        e.push(reinterpret_cast<const unsigned char*>(key.data()), static_cast<uint32_t>(i + 1));
    }
    return e;
}

// Sorts entries by key bytes, equal keys by record number.
void sortEntries(KeyEntries& e) {
    std::vector<size_t> order(e.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = std::memcmp(e.key(a), e.key(b), e.keyLength);
        return c != 0 ? c < 0 : e.recnos[a] < e.recnos[b];
    });
    KeyEntries s;
    s.keyLength = e.keyLength;
    for (size_t i : order)
        s.push(e.key(i), e.recnos[i]);
    e = std::move(s);
}

KeyEntries sortedEntries(uint16_t keyLength, size_t count) {
    KeyEntries e = makeEntries(keyLength, count);
    sortEntries(e);
    return e;
}

NtxInfo infoFor(uint16_t keyLength) {
    NtxInfo info;
    info.keyExpression = "KEYFIELD";
    info.keyLength = keyLength;
    return info;
}

struct Shape {
    int depth = 0;
    size_t pages = 0;
};

// Walks a file this writer made: every page but the root holds at least half
// the keys a page may hold, every leaf lies at the same depth, every page is
// used once and the file has no other pages.
Shape checkShape(const std::vector<unsigned char>& file) {
    const uint16_t maxItems = get16(file, 18), half = get16(file, 20);
    EXPECT_EQ(half, maxItems / 2);
    Shape shape;
    int leafDepth = -1;
    std::function<void(uint32_t, int)> visit = [&](uint32_t at, int depth) {
        ++shape.pages;
        const uint16_t count = get16(file, at);
        EXPECT_LE(count, maxItems);
        if (at != get32(file, 4)) {
            EXPECT_GE(count, half) << "page at " << at;
        }
        bool leaf = true, inner = true;
        for (size_t s = 0; s <= count; ++s) {
            const uint32_t child = get32(file, at + get16(file, at + 2 + 2 * s));
            (child ? leaf : inner) = false;
            if (child) visit(child, depth + 1);
        }
        EXPECT_TRUE(leaf || inner) << "page at " << at << " mixes leaf and inner slots";
        if (leaf) {
            if (leafDepth < 0) leafDepth = depth;
            EXPECT_EQ(depth, leafDepth) << "leaf at " << at;
        }
    };
    visit(get32(file, 4), 1);
    shape.depth = leafDepth;
    EXPECT_EQ(shape.pages + 1, file.size() / 1024);
    return shape;
}

struct RoundTrip {
    uint16_t keyLength;
    size_t count;
    int depth; // levels of the tree written
};

// 11 (an SSN) holds 46 keys a page, 20 holds 32, 1 holds 90, 256 holds 2.
const RoundTrip kRoundTrips[] = {
    {11, 0, 1},    {11, 1, 1},    {11, 46, 1},     {11, 47, 2},     {11, 48, 2},   {11, 2208, 2},
    {11, 2209, 3}, {11, 5000, 3}, {11, 103822, 3}, {11, 103823, 4}, {20, 5000, 3}, {20, 1090, 3},
    {1, 20000, 3}, {256, 2, 1},   {256, 3, 2},     {256, 1000, 7},  {256, 26, 3},  {100, 777, 4},
};

class NtxRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(NtxRoundTrip, WritesAValidTreeThatReadsBackInOrder) {
    const RoundTrip& r = GetParam();
    const KeyEntries entries = sortedEntries(r.keyLength, r.count);
    TempDir dir;
    const std::string path = dir.file("KEYS.NTX");
    xbase::writeNtx(path, infoFor(r.keyLength), entries);

    KeyEntries back;
    const NtxInfo info = xbase::readNtx(path, back);
    EXPECT_EQ(info.keyExpression, "KEYFIELD");
    EXPECT_EQ(info.keyLength, r.keyLength);
    EXPECT_EQ(back.keyLength, r.keyLength);
    EXPECT_EQ(back.recnos, entries.recnos);
    EXPECT_TRUE(back.keys == entries.keys);

    const Shape shape = checkShape(readBytes(path));
    EXPECT_EQ(shape.depth, r.depth);
}

INSTANTIATE_TEST_SUITE_P(Sizes, NtxRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const ::testing::TestParamInfo<RoundTrip>& p) {
                             return "key" + std::to_string(p.param.keyLength) + "_" +
                                    std::to_string(p.param.count);
                         });

// Every key count up to a few levels of 2-key pages: each one leaves a
// different set of short pages on the right edge of the tree.
TEST(NtxWrite, EveryRightEdgeIsBalanced) {
    TempDir dir;
    const std::string path = dir.file("EDGE.NTX");
    for (size_t count = 0; count <= 250; ++count) {
        const KeyEntries entries = sortedEntries(256, count);
        xbase::writeNtx(path, infoFor(256), entries);
        KeyEntries back;
        xbase::readNtx(path, back);
        ASSERT_EQ(back.recnos, entries.recnos) << count << " keys";
        ASSERT_TRUE(back.keys == entries.keys) << count << " keys";
        checkShape(readBytes(path));
        if (::testing::Test::HasFailure()) FAIL() << "with " << count << " keys";
    }
}

TEST(NtxWrite, SsnIndexOf200000KeysReadsBackWhole) {
    // SSNs 900-00-0000 upward in steps, as the demo data generator makes them.
    KeyEntries entries;
    entries.keyLength = 11;
    for (uint32_t i = 0; i < 200000; ++i) {
        char ssn[16];
        const uint32_t n = 9000000 * 10 + i * 37;
        std::snprintf(ssn, sizeof ssn, "%03u-%02u-%04u", n / 1000000 % 1000, n / 10000 % 100,
                      n % 10000);
        entries.push(reinterpret_cast<const unsigned char*>(ssn), i + 1);
    }
    sortEntries(entries);
    NtxInfo info = infoFor(11);
    info.keyExpression = "SSN";
    TempDir dir;
    const std::string path = dir.file("SSN.NTX");

    // Its timing is in kesprep-bench-engine ("write a 200,000-key NTX").
    xbase::writeNtx(path, info, entries);
    KeyEntries back;
    xbase::readNtx(path, back);
    EXPECT_EQ(back.recnos, entries.recnos);
    EXPECT_TRUE(back.keys == entries.keys);
    EXPECT_EQ(checkShape(readBytes(path)).depth, 4);
}

TEST(NtxWrite, HeaderFieldsAndFlagsReadBack) {
    TempDir dir;
    const std::string path = dir.file("FLAGS.NTX");
    NtxInfo info;
    info.keyExpression = "UPPER(LNAME)+FNAME";
    info.forExpression = "!DELETED()";
    info.tagName = "BYNAME";
    info.keyLength = 35;
    info.descending = true;
    const KeyEntries entries = sortedEntries(35, 300);
    KeyEntries reversed;
    reversed.keyLength = 35;
    for (size_t i = entries.size(); i-- > 0;)
        reversed.push(entries.key(i), entries.recnos[i]);
    xbase::writeNtx(path, info, reversed);

    KeyEntries back;
    const NtxInfo got = xbase::readNtx(path, back);
    EXPECT_EQ(got.keyExpression, info.keyExpression);
    EXPECT_EQ(got.forExpression, info.forExpression);
    EXPECT_EQ(got.tagName, info.tagName);
    EXPECT_TRUE(got.descending);
    EXPECT_FALSE(got.unique);
    EXPECT_EQ(back.recnos, reversed.recnos); // tree order, which is descending
    EXPECT_TRUE(back.keys == reversed.keys);
    const auto bytes = readBytes(path);
    EXPECT_EQ(get16(bytes, 0), 0x0007) << "signature of an index with a FOR condition";
}

TEST(NtxWrite, UniqueIndexKeepsTheFirstOfEqualKeys) {
    TempDir dir;
    const KeyEntries entries = sortedEntries(11, 600); // every key three times
    KeyEntries firsts;
    firsts.keyLength = 11;
    for (size_t i = 0; i < entries.size(); ++i)
        if (i == 0 || std::memcmp(entries.key(i - 1), entries.key(i), 11) != 0)
            firsts.push(entries.key(i), entries.recnos[i]);
    ASSERT_EQ(firsts.size(), 200u);

    NtxInfo info = infoFor(11);
    info.unique = true;
    const std::string path = dir.file("UNIQUE.NTX");
    xbase::writeNtx(path, info, entries);
    KeyEntries back;
    EXPECT_TRUE(xbase::readNtx(path, back).unique);
    EXPECT_EQ(back.recnos, firsts.recnos);

    // A file flagged unique that still holds equal keys reads as unique.
    const std::string plain = dir.file("PLAIN.NTX");
    xbase::writeNtx(plain, infoFor(11), entries);
    auto bytes = readBytes(plain);
    bytes[278] = 1;
    writeBytes(plain, bytes);
    xbase::readNtx(plain, back);
    EXPECT_EQ(back.recnos, firsts.recnos);
}

TEST(NtxWrite, RefusesEntriesItCannotWriteSoundly) {
    struct Case {
        const char* what;
        std::function<void(NtxInfo&, KeyEntries&)> change;
    };
    const Case cases[] = {
        {"out of order",
         [](NtxInfo&, KeyEntries& e) {
             std::swap_ranges(e.keys.begin(), e.keys.begin() + 11, e.keys.end() - 11);
         }},
        {"ascending keys for a descending index",
         [](NtxInfo& i, KeyEntries&) { i.descending = true; }},
        {"record number 0", [](NtxInfo&, KeyEntries& e) { e.recnos[5] = 0; }},
        {"key length mismatch", [](NtxInfo& i, KeyEntries&) { i.keyLength = 12; }},
        {"key length 0", [](NtxInfo& i, KeyEntries& e) { i.keyLength = e.keyLength = 0; }},
        {"key length 257", [](NtxInfo& i, KeyEntries&) { i.keyLength = 257; }},
        {"key bytes missing", [](NtxInfo&, KeyEntries& e) { e.keys.pop_back(); }},
        {"no key expression", [](NtxInfo& i, KeyEntries&) { i.keyExpression.clear(); }},
        {"key expression too long",
         [](NtxInfo& i, KeyEntries&) { i.keyExpression.assign(300, 'X'); }},
        {"tag name too long", [](NtxInfo& i, KeyEntries&) { i.tagName = "ELEVENCHARS"; }},
        {"decimals not below the length", [](NtxInfo& i, KeyEntries&) { i.keyDecimals = 11; }},
    };
    TempDir dir;
    for (const Case& c : cases) {
        NtxInfo info = infoFor(11);
        KeyEntries entries = sortedEntries(11, 100);
        c.change(info, entries);
        const std::string path = dir.file("REFUSED.NTX");
        try {
            xbase::writeNtx(path, info, entries);
            ADD_FAILURE() << c.what << ": written";
        } catch (const EADSDatabaseError& e) {
            EXPECT_EQ(e.Number(), AE_INVALID_VALUE) << c.what;
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos)
                << c.what << ": " << e.what();
        }
        EXPECT_FALSE(fs::exists(path)) << c.what;
    }
    EXPECT_TRUE(fs::is_empty(dir.path())) << "no temporary file may be left behind";
}

TEST(NtxWrite, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.file("SSN.NTX");
    xbase::writeNtx(path, infoFor(11), sortedEntries(11, 5000));
    const KeyEntries smaller = sortedEntries(11, 10);
    xbase::writeNtx(path, infoFor(11), smaller);
    KeyEntries back;
    xbase::readNtx(path, back);
    EXPECT_EQ(back.recnos, smaller.recnos);
    EXPECT_EQ(fs::file_size(path), 2048u);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        ++files;
        EXPECT_EQ(entry.path().filename(), "SSN.NTX");
    }
    EXPECT_EQ(files, 1u);
}

TEST(NtxWrite, FolderThatDoesNotExist) {
    TempDir dir;
    const std::string path = dir.file("missing/SSN.NTX");
    try {
        xbase::writeNtx(path, infoFor(11), sortedEntries(11, 3));
        FAIL() << "written";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_CREATE_FAILED);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
}

// ---------------------------------------------------------------------------
// Key forms

TEST(NtxKey, Forms) {
    using xbase::Value;
    struct Case {
        Value value;
        uint16_t length, decimals;
        std::string key;
    };
    const Case cases[] = {
        {Value::character("AB"), 5, 0, "AB   "},
        {Value::character("ABCDEFG"), 5, 0, "ABCDE"},
        {Value::character("M\x9aLLER"), 8, 0, "M\x9aLLER  "},
        {Value::fromDate(0, true), 8, 0, "        "},
        {Value::fromDate(kes::Date::fromYmd(1899, 7, 4)->days()), 8, 0, "18990704"},
        {Value::fromDate(0), 8, 0, "18991230"},
        {Value::fromDate(kes::Date::fromYmd(2006, 9, 15)->days()), 8, 0, "20060915"},
        {Value::boolean(true), 1, 0, "T"},
        {Value::boolean(false), 1, 0, "F"},
        {Value::numeric(0), 10, 2, "0000000.00"},
        {Value::numeric(3474.23), 10, 2, "0003474.23"},
        {Value::numeric(-0.94), 10, 2, ",,,,,,,.#("},
        {Value::numeric(-4996.84), 10, 2, ",,,(##&.$("},
        {Value::numeric(-99999.99), 10, 2, ",,#####.##"},
        {Value::numeric(9999999.99), 10, 2, "9999999.99"},
        {Value::numeric(2.675), 10, 2, "0000002.68"},  // half away from zero
        {Value::numeric(-2.675), 10, 2, ",,,,,,*.&$"}, // -2.68
        {Value::numeric(1.005), 10, 2, "0000001.01"},
        {Value::numeric(-0.004), 10, 2, "0000000.00"}, // rounds to zero: no sign
        {Value::numeric(99999999.995), 10, 2, "**********"},
        {Value::numeric(-1234567.5), 10, 2, "**********"},
        {Value::numeric(NAN), 10, 2, "**********"},
        {Value::numeric(512), 4, 0, "0512"},
        {Value::numeric(-5), 4, 0, ",,,'"},
        {Value::numeric(0.5), 4, 0, "0001"},
        {Value::numeric(9999), 4, 0, "9999"},
        {Value::numeric(10000), 4, 0, "****"},
        {Value::numeric(-999), 4, 0, ",###"},
        {Value::numeric(-1000), 4, 0, "****"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xbase::ntxKey(c.value, c.length, c.decimals), c.key)
            << "value " << c.value.num << " / [" << c.value.str << "] length " << c.length;
}

// Byte order of the keys is the order of the numbers, negatives first.
TEST(NtxKey, NumericKeysSortAsTheirValues) {
    std::string previous;
    for (int cents = -500000; cents <= 500000; cents += 37) {
        const std::string key = xbase::ntxKey(xbase::Value::numeric(cents / 100.0), 10, 2);
        if (!previous.empty()) {
            ASSERT_LT(previous, key) << cents / 100.0;
        }
        previous = key;
    }
    previous.clear();
    for (int n = -999; n <= 9999; ++n) {
        const std::string key = xbase::ntxKey(xbase::Value::numeric(n), 4, 0);
        if (!previous.empty()) {
            ASSERT_LT(previous, key) << n;
        }
        previous = key;
    }
}

} // namespace
