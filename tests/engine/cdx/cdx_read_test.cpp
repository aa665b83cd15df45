// Reading the fixture CDX files written by an independent engine: every tag
// in the order of its manifest, key bytes as cdxKey builds them, and seeks.
#include "cdx_support.h"

#include "data/Error.h"

#include <algorithm>
#include <map>

using namespace xbase;
using cdxtest::fixtureDir;

namespace {

struct FixtureTag {
    const char* file;
    const char* tag;
    ValueType type;
    uint16_t keySize;
    const char* csv; // order and seeks CSV files: <csv>.order.csv, <csv>.seeks.csv
};

// Tags of each file in the order of formats/manifest.json.
const FixtureTag kFixtureTags[] = {
    {"BIG.cdx", "NAME", ValueType::Character, 20, "big.name"},
    {"BIG.cdx", "CODE", ValueType::Character, 4, "big.code"},
    {"BIG.cdx", "BORN", ValueType::Date, 8, "big.born"},
    {"BIG.cdx", "AMOUNT", ValueType::Numeric, 8, "big.amount"},
    {"BIG.cdx", "ACTIVE", ValueType::Logical, 1, "big.active"},
    {"KESPLACE.cdx", "CODE", ValueType::Character, 4, "kesplace.code"},
    {"KESTEST.cdx", "CODE", ValueType::Character, 4, "kestest.code"},
};

std::vector<CdxTag> readFixture(const std::string& file) {
    return readCdx(fixtureDir() + "/" + file, cdxtest::sampleFieldType);
}

TEST(CdxRead, EveryFixtureTagReadsInManifestOrder) {
    std::map<std::string, std::vector<CdxTag>> files;
    std::map<std::string, size_t> nextTag;
    for (const FixtureTag& f : kFixtureTags) {
        SCOPED_TRACE(std::string(f.file) + " " + f.tag);
        if (!files.count(f.file)) files[f.file] = readFixture(f.file);
        const std::vector<CdxTag>& tags = files[f.file];
        const size_t at = nextTag[f.file]++;
        ASSERT_LT(at, tags.size());
        const CdxTag& t = tags[at];
        EXPECT_EQ(t.name, f.tag);
        EXPECT_EQ(t.keyExpression, f.tag);
        EXPECT_EQ(t.forExpression, "");
        EXPECT_EQ(t.keyType, f.type);
        EXPECT_FALSE(t.unique);
        EXPECT_FALSE(t.descending);
        EXPECT_EQ(t.entries.keyLength, f.keySize);
        EXPECT_EQ(cdxKeyLength(f.type, f.type == ValueType::Character ? f.keySize : 10), f.keySize);

        const auto rows = cdxtest::readCsv(fixtureDir() + "/" + f.csv + ".order.csv");
        ASSERT_EQ(t.entries.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i].size(), 4u);
            ASSERT_EQ(t.entries.recnos[i], std::stoul(rows[i][1])) << "entry " << i;
            const std::string want = cdxKey(cdxtest::parseValue(f.type, rows[i][3]), f.keySize);
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(t.entries.key(i)), f.keySize), want)
                << "entry " << i << " value " << rows[i][3];
        }
    }
    for (const auto& [file, tags] : files)
        EXPECT_EQ(tags.size(), nextTag[file]) << file;
}

// An exact seek: binary search for the first key equal to the value's key.
TEST(CdxRead, FixtureSeeksLandWhereTheManifestSays) {
    std::map<std::string, std::vector<CdxTag>> files;
    for (const FixtureTag& f : kFixtureTags) {
        SCOPED_TRACE(std::string(f.file) + " " + f.tag);
        if (!files.count(f.file)) files[f.file] = readFixture(f.file);
        const CdxTag* tag = nullptr;
        for (const CdxTag& t : files[f.file])
            if (t.name == f.tag) tag = &t;
        ASSERT_NE(tag, nullptr);
        const KeyEntries& e = tag->entries;
        const auto rows = cdxtest::readCsv(fixtureDir() + "/" + f.csv + ".seeks.csv");
        ASSERT_FALSE(rows.empty());
        for (const auto& row : rows) {
            ASSERT_EQ(row.size(), 3u);
            const std::string key = cdxKey(cdxtest::parseValue(f.type, row[0]), f.keySize);
            size_t lo = 0, hi = e.size();
            while (lo < hi) {
                const size_t mid = (lo + hi) / 2;
                if (std::memcmp(e.key(mid), key.data(), f.keySize) < 0)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            const bool found = lo < e.size() && std::memcmp(e.key(lo), key.data(), f.keySize) == 0;
            EXPECT_EQ(found ? "T" : "F", row[1]) << "seek " << row[0];
            EXPECT_EQ(found ? e.recnos[lo] : 0u, std::stoul(row[2])) << "seek " << row[0];
        }
    }
}

TEST(CdxKey, KeyFormsOfEveryType) {
    struct Case {
        Value value;
        uint16_t keyLength;
        std::string bytes;
    };
    const Case cases[] = {
        {Value::character("AB"), 4, "AB  "},
        {Value::character("ABCDEF"), 4, "ABCD"},
        {Value::character("\x9A"
                          "X"),
         3,
         "\x9A"
         "X "},
        {Value::boolean(true), 1, "T"},
        {Value::boolean(false), 1, "F"},
        // 0 and -0 are one key: the sign bit set, every other bit clear.
        {Value::numeric(0.0), 8, std::string("\x80\0\0\0\0\0\0\0", 8)},
        {Value::numeric(-0.0), 8, std::string("\x80\0\0\0\0\0\0\0", 8)},
        // 1.0 = 3FF0000000000000 with the sign bit set.
        {Value::numeric(1.0), 8, std::string("\xBF\xF0\0\0\0\0\0\0", 8)},
        // -1.0 = BFF0000000000000, every bit inverted.
        {Value::numeric(-1.0), 8, std::string("\x40\x0F\xFF\xFF\xFF\xFF\xFF\xFF", 8)},
        // An empty date is day 0 of the Julian count, stored like the number 0.
        {Value::fromDate(0, true), 8, std::string("\x80\0\0\0\0\0\0\0", 8)},
        // 30 December 1899 is Julian day 2415019 = 0x4142 6CD5 8000 0000.
        {Value::fromDate(0), 8, std::string("\xC1\x42\x6C\xD5\x80\0\0\0", 8)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cdxKey(c.value, c.keyLength), c.bytes);

    // Byte order is key order for numbers and dates.
    const double numbers[] = {-1e300, -5000.5, -2.5, -0.01, 0, 0.01, 2.5, 4999.86, 1e300};
    for (size_t i = 1; i < std::size(numbers); ++i)
        EXPECT_LT(cdxKey(Value::numeric(numbers[i - 1]), 8), cdxKey(Value::numeric(numbers[i]), 8))
            << numbers[i - 1] << " < " << numbers[i];
    EXPECT_LT(cdxKey(Value::fromDate(0, true), 8), cdxKey(Value::fromDate(-1000), 8));
    EXPECT_LT(cdxKey(Value::fromDate(-1), 8), cdxKey(Value::fromDate(40000), 8));

    EXPECT_EQ(cdxKeyLength(ValueType::Character, 20), 20);
    EXPECT_EQ(cdxKeyLength(ValueType::Character, 254), 240);
    EXPECT_EQ(cdxKeyLength(ValueType::Numeric, 10), 8);
    EXPECT_EQ(cdxKeyLength(ValueType::Date, 8), 8);
    EXPECT_EQ(cdxKeyLength(ValueType::Logical, 1), 1);
}

TEST(CdxRead, IndexDumpReadsTheFixturesAsWeDo) {
    if (!cdxtest::haveIndexDump())
        GTEST_SKIP() << "index_dump (libdbd-xbase-perl) is not installed";
    for (const char* file : {"BIG.cdx", "KESPLACE.cdx", "KESTEST.cdx"})
        for (const CdxTag& t : readFixture(file))
            cdxtest::expectIndexDumpReads(fixtureDir() + "/" + file, t);
}

TEST(CdxRead, MissingFileIsNotFound) {
    const std::string path = fixtureDir() + "/NOSUCH.cdx";
    try {
        readCdx(path, cdxtest::sampleFieldType);
        FAIL() << "no error";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_FILE_NOT_FOUND);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
}

} // namespace
