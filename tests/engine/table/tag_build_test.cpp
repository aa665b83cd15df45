// Tags of a large table: above 50,000 records the dirty tags of a table are
// built side by side on threads. What they hold, in memory and once written,
// must be exactly the index order. (The thread sanitizer's run covers this.)
#include "table_support.h"

#include "data/AdsTable.h"
#include "data/KeySorter.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace testsupport;
using namespace tabletest;

namespace {

constexpr uint32_t kRecords = 60000;

std::string zeroPadded(uint32_t value, size_t width) {
    std::string s = std::to_string(value);
    return std::string(width - std::min(width, s.size()), '0') + s;
}

struct Record {
    std::string ssn;
    int scoreHundredths;
    std::string when; // yyyymmdd
    uint32_t recno;
};

// Repeating values, so that equal keys must be ordered by record number.
Record recordFor(uint32_t i) {
    Record r;
    r.ssn = zeroPadded(i * 7919u % 50000u, 9);
    r.scoreHundredths = static_cast<int>(i * 37u % 20000u);
    r.when = kes::Date(kes::Date::fromYyyymmdd("20200101")->days() + static_cast<int>(i % 400))
                 .toYyyymmdd();
    r.recno = i + 1;
    return r;
}

// Every record in the order of `tag`: its record number.
std::vector<uint32_t> walk(TAdsTable& t, const std::string& tag) {
    t.SetIndexName(tag);
    std::vector<uint32_t> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back(t.RecNo());
    return out;
}

} // namespace

TEST(Orders, TagsOfALargeTableBuiltTogetherKeepIndexOrder) {
    TempDir tmp;
    TAdsTable::AdsCreateTable(tmp.dir() + "BIG.dbf", ttAdsCDX, OEM, 0,
                              "SSN,C,9,0;SCORE,N,6,2;WHEN,D,8,0;");
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("BIG");
    t.Exclusive = true;
    t.Open();
    // Tags of the empty table; the records appended afterwards leave all
    // three to be built at once when the table is written.
    t.AdsCreateIndex61("", "SSN", "SSN", "", "", ADS_DEFAULT);
    t.AdsCreateIndex61("", "SCORE", "SCORE", "", "", ADS_DESCENDING);
    t.AdsCreateIndex61("", "WHEN", "DTOS(WHEN)+SSN", "SCORE > 10", "", ADS_DEFAULT);
    std::vector<Record> records;
    for (uint32_t i = 0; i < kRecords; ++i) {
        records.push_back(recordFor(i));
        const Record& r = records.back();
        t.Append();
        t.FieldByName("SSN").SetAsString(r.ssn);
        t.FieldByName("SCORE").SetAsFloat(r.scoreHundredths / 100.0);
        t.FieldByName("WHEN").SetAsDateTime(*kes::Date::fromYyyymmdd(r.when));
        t.Post();
    }
    t.FlushRecord();

    auto bySsn = records;
    std::sort(bySsn.begin(), bySsn.end(), [](const Record& a, const Record& b) {
        return std::tie(a.ssn, a.recno) < std::tie(b.ssn, b.recno);
    });
    auto byScore = records; // descending scores, equal scores by record number
    std::sort(byScore.begin(), byScore.end(), [](const Record& a, const Record& b) {
        return std::make_tuple(-a.scoreHundredths, a.recno) <
               std::make_tuple(-b.scoreHundredths, b.recno);
    });
    std::vector<Record> byWhen;
    for (const Record& r : records)
        if (r.scoreHundredths > 1000) byWhen.push_back(r);
    std::sort(byWhen.begin(), byWhen.end(), [](const Record& a, const Record& b) {
        return std::tie(a.when, a.ssn, a.recno) < std::tie(b.when, b.ssn, b.recno);
    });
    auto recnos = [](const std::vector<Record>& rs) {
        std::vector<uint32_t> out;
        for (const Record& r : rs)
            out.push_back(r.recno);
        return out;
    };
    ASSERT_LT(byWhen.size(), records.size());

    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "as built" : "read back from the index file");
        EXPECT_EQ(walk(t, "SSN"), recnos(bySsn));
        EXPECT_EQ(walk(t, "SCORE"), recnos(byScore));
        EXPECT_EQ(walk(t, "WHEN"), recnos(byWhen));
        t.Close();
        t.Open();
    }
}

// The sort behind every tag build takes short keys (passes over their bytes,
// with or without passes over the record numbers, on one thread or two) and
// long ones (a comparison sort) by different roads: each must give byte order
// (reversed when descending), equal keys by record number.
TEST(KeySort, EveryKeyLengthSortsIntoIndexOrder) {
    struct RecnoOrder {
        const char* name;
        uint32_t (*of)(uint32_t r, uint32_t n);
    };
    const RecnoOrder recnoOrders[] = {
        {"in record order", [](uint32_t r, uint32_t) { return r; }},
        {"reversed", [](uint32_t r, uint32_t n) { return n + 1 - r; }},
        {"scattered, four bytes", [](uint32_t r, uint32_t) { return r * 16777259u; }},
    };
    constexpr uint32_t kEntries = 3001; // odd: the halves of two threads differ
    for (const uint16_t length : {1, 4, 8, 9, 11, 12, 13, 15, 16, 17, 28, 29, 30})
        for (const bool descending : {false, true})
            for (const RecnoOrder& recnos : recnoOrders)
                for (const int threads : {1, 2}) {
                    SCOPED_TRACE(std::to_string(length) +
                                 (descending ? " descending, " : " ascending, ") + recnos.name +
                                 ", threads " + std::to_string(threads));
                    xbase::KeyEntries e;
                    e.keyLength = length;
                    uint32_t state = 12345;
                    for (uint32_t r = 1; r <= kEntries; ++r) {
                        std::string key(length, ' ');
                        for (char& c : key) {
                            state = state * 1103515245u + 12345u;
                            // Few distinct bytes, high ones among them: many
                            // shared beginnings and equal keys.
                            c = "A B\x80\xFF"[(state >> 16) % 5];
                        }
                        if (r % 7 == 0) key.assign(length, 'B'); // a run of equal keys
                        if (length > 2) key[1] = '-';            // a byte every key shares
                        e.push(reinterpret_cast<const unsigned char*>(key.data()),
                               recnos.of(r, kEntries));
                    }
                    std::vector<std::pair<std::string, uint32_t>> expected;
                    for (size_t i = 0; i < e.size(); ++i)
                        expected.emplace_back(
                            std::string(reinterpret_cast<const char*>(e.key(i)), length),
                            e.recnos[i]);
                    std::sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
                        if (a.first != b.first)
                            return descending ? a.first > b.first : a.first < b.first;
                        return a.second < b.second;
                    });
                    xbase::sortEntries(e, descending, threads);
                    ASSERT_EQ(e.size(), expected.size());
                    ASSERT_EQ(e.keys.size(), expected.size() * length);
                    for (size_t i = 0; i < e.size(); ++i) {
                        ASSERT_EQ(std::string(reinterpret_cast<const char*>(e.key(i)), length),
                                  expected[i].first)
                            << "entry " << i;
                        ASSERT_EQ(e.recnos[i], expected[i].second) << "entry " << i;
                    }
                }
}
