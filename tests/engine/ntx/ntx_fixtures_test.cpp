// The NTX files of the fixtures, written by an independent engine: every key
// in the order of the manifest, the key bytes as ntxKey forms them, the exact
// seeks of the manifest, and the same files rewritten by writeNtx.
#include "data/Error.h"
#include "data/ntx.h"
#include "ntx_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

using namespace ntxtest;
using xbase::KeyEntries;
using xbase::NtxInfo;

namespace {

struct Fixture {
    const char* ntx;
    const char* orderCsv;
    const char* seeksCsv;
    char type;
    uint16_t keyLength;
    uint16_t keyDecimals;
    const char* expression;
};

#define VIRN(period, file, table, tag)                                                             \
    Fixture {                                                                                      \
        "virn-sample/" period "/" file,                                                            \
            "virn-sample-manifest/" period "/" table "." tag ".order.csv",                         \
            "virn-sample-manifest/" period "/" table "." tag ".seeks.csv", 'C', 11, 0, "SSN"       \
    }

const Fixture kFixtures[] = {
    {"formats/ntx/NAME.NTX", "formats/ntx/people.name.order.csv",
     "formats/ntx/people.name.seeks.csv", 'C', 20, 0, "NAME"},
    {"formats/ntx/AMOUNT.NTX", "formats/ntx/people.amount.order.csv",
     "formats/ntx/people.amount.seeks.csv", 'N', 10, 2, "AMOUNT"},
    {"formats/ntx/BORN.NTX", "formats/ntx/people.born.order.csv",
     "formats/ntx/people.born.seeks.csv", 'D', 8, 0, "BORN"},
    VIRN("VIRNTP1", "SSN.NTX", "student", "ssn"),
    VIRN("VIRNTP1", "SSNTEMP.NTX", "studtemp", "ssntemp"),
    VIRN("VIRNTP2", "SSN.NTX", "student", "ssn"),
    VIRN("VIRNTP2", "SSNTEMP.NTX", "studtemp", "ssntemp"),
    VIRN("VIRNTP3", "ssn.ntx", "student", "ssn"),
    VIRN("VIRNTP3", "ssntemp.ntx", "studtemp", "ssntemp"),
    VIRN("VIRNTP4", "SSN.NTX", "student", "ssn"),
};

class NtxFixture : public ::testing::TestWithParam<Fixture> {};

std::string keyAt(const KeyEntries& e, size_t i) {
    return std::string(reinterpret_cast<const char*>(e.key(i)), e.keyLength);
}

TEST_P(NtxFixture, ReadsEveryKeyInManifestOrder) {
    const Fixture& f = GetParam();
    KeyEntries entries;
    const NtxInfo info = xbase::readNtx(fixture(f.ntx), entries);
    EXPECT_EQ(info.keyExpression, f.expression);
    EXPECT_EQ(info.keyLength, f.keyLength);
    EXPECT_EQ(info.keyDecimals, f.keyDecimals);
    EXPECT_EQ(info.forExpression, "");
    EXPECT_FALSE(info.unique);
    EXPECT_FALSE(info.descending);
    EXPECT_EQ(entries.keyLength, f.keyLength);

    const auto rows = readCsv(fixture(f.orderCsv));
    ASSERT_FALSE(rows.empty());
    ASSERT_EQ(entries.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 4u) << f.orderCsv << " row " << i + 1;
        EXPECT_EQ(entries.recnos[i], std::stoul(rows[i][1])) << f.ntx << " key " << i + 1;
        EXPECT_EQ(keyAt(entries, i),
                  xbase::ntxKey(csvValue(f.type, rows[i][3]), f.keyLength, f.keyDecimals))
            << f.ntx << " key " << i + 1 << " value [" << rows[i][3] << "]";
    }
}

TEST_P(NtxFixture, ExactSeeksLandWhereTheManifestSays) {
    const Fixture& f = GetParam();
    KeyEntries entries;
    xbase::readNtx(fixture(f.ntx), entries);
    const auto rows = readCsv(fixture(f.seeksCsv));
    ASSERT_FALSE(rows.empty());
    bool sawMiss = false;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        const std::string key = xbase::ntxKey(csvValue(f.type, row[0]), f.keyLength, f.keyDecimals);
        const size_t at = xbase::ntxLowerBound(entries, key);
        const bool found = at < entries.size() && keyAt(entries, at) == key;
        EXPECT_EQ(found, row[1] == "T") << f.ntx << " seek [" << row[0] << "]";
        EXPECT_EQ(found ? entries.recnos[at] : 0u, std::stoul(row[2]))
            << f.ntx << " seek [" << row[0] << "]";
        sawMiss = sawMiss || row[1] == "F";
    }
    EXPECT_TRUE(sawMiss) << "the manifest should list absent values too";
}

// What a reader of the page sees: the key count, then per slot the item the
// offset table points at (child, record number, key; the last slot only its
// child). Unused slots and the bytes behind the last item are left out.
std::vector<std::string> pageContents(const std::vector<unsigned char>& file, size_t keyLength) {
    std::vector<std::string> pages;
    for (size_t at = 1024; at + 1024 <= file.size(); at += 1024) {
        const uint16_t count = get16(file, at);
        std::string page = std::to_string(count) + ":";
        for (size_t s = 0; s <= count && s < 200; ++s) {
            const size_t item = at + get16(file, at + 2 + 2 * s);
            const size_t size = s < count ? keyLength + 8 : 4;
            if (item + size > file.size()) break;
            page.append(reinterpret_cast<const char*>(&file[item]), size);
        }
        pages.push_back(page);
    }
    return pages;
}

// writeNtx lays the pages out as the bulk build of the engine that wrote the
// fixtures does (pages filled in key order and numbered as they fill, the root
// last, the right edge balanced), so a rewrite gives the same header and the
// same pages.
TEST_P(NtxFixture, RewrittenByWriteNtxReadsBackTheSame) {
    const Fixture& f = GetParam();
    KeyEntries entries;
    const NtxInfo info = xbase::readNtx(fixture(f.ntx), entries);
    TempDir dir;
    const std::string copy = dir.file("REWRITE.NTX");
    xbase::writeNtx(copy, info, entries);

    KeyEntries again;
    const NtxInfo info2 = xbase::readNtx(copy, again);
    EXPECT_EQ(info2.keyExpression, info.keyExpression);
    EXPECT_EQ(info2.keyLength, info.keyLength);
    EXPECT_EQ(info2.keyDecimals, info.keyDecimals);
    EXPECT_EQ(again.recnos, entries.recnos);
    EXPECT_EQ(again.keys, entries.keys);

    const auto original = readBytes(fixture(f.ntx));
    const auto rewritten = readBytes(copy);
    ASSERT_EQ(rewritten.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 1024, rewritten.begin()))
        << "header";
    const auto want = pageContents(original, f.keyLength);
    const auto got = pageContents(rewritten, f.keyLength);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_TRUE(got[i] == want[i]) << f.ntx << " page " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, NtxFixture, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<Fixture>& p) {
                             std::string name = p.param.ntx;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// The fixtures' own samples of the key forms: a seek must build the very bytes
// stored, for blank, zero and negative numbers and empty dates alike.
TEST(NtxFixtureKeys, StoredFormsOfSpecialValues) {
    struct Case {
        const char* ntx;
        uint32_t recno; // a record whose key shows the form
        xbase::Value value;
        const char* stored;
    };
    const Case cases[] = {
        {"formats/ntx/AMOUNT.NTX", 300, xbase::Value::numeric(0), "0000000.00"}, // never written
        {"formats/ntx/AMOUNT.NTX", 23, xbase::Value::numeric(0), "0000000.00"},  // 0.00
        {"formats/ntx/AMOUNT.NTX", 570, xbase::Value::numeric(-0.94), ",,,,,,,.#("},
        {"formats/ntx/AMOUNT.NTX", 2643, xbase::Value::numeric(-4996.84), ",,,(##&.$("},
        {"formats/ntx/BORN.NTX", 101, xbase::Value::fromDate(0, true), "        "},
    };
    for (const Case& c : cases) {
        KeyEntries entries;
        const NtxInfo info = xbase::readNtx(fixture(c.ntx), entries);
        size_t i = 0;
        while (i < entries.size() && entries.recnos[i] != c.recno)
            ++i;
        ASSERT_LT(i, entries.size()) << c.ntx << " record " << c.recno;
        EXPECT_EQ(keyAt(entries, i), c.stored) << c.ntx << " record " << c.recno;
        EXPECT_EQ(xbase::ntxKey(c.value, info.keyLength, info.keyDecimals), c.stored);
    }
}

} // namespace
