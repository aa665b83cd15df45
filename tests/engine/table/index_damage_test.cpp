// Index files that do not fit their table. A testing-system NTX file is only
// read: one whose entries point at the wrong records, leave records out, or
// whose keys are not in the order its header promises is refused by name, so
// that no student ever gets another student's name. A tag of our own CDX files
// that does not fit is rebuilt from the records instead.
#include "table_support.h"

#include "data/AdsTable.h"
#include "data/IndexCheck.h"
#include "data/cdx.h"
#include "data/ntx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

using namespace testsupport;
using namespace tabletest;

namespace {

// STUDTEMP of the first sample period: 14 students, SSNTEMP.NTX on SSN.
struct StudentFolder {
    TempDir tmp;
    std::string table, index;
    StudentFolder() {
        table = tmp.copy("virn-sample/VIRNTP1/STUDTEMP.DBF");
        index = tmp.copy("virn-sample/VIRNTP1/SSNTEMP.NTX");
    }
    void open(TAdsTable& t) const {
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsNTX;
        t.SetTableName("STUDTEMP");
        t.Open();
        t.AdsOpenIndex(index);
        t.SetIndexName("SSNTEMP");
    }
};

// Rewrites the index with its entries changed by `edit`.
void rewriteEntries(const std::string& path, const std::function<void(xbase::KeyEntries&)>& edit,
                    uint16_t keyLength = 0) {
    xbase::KeyEntries e;
    xbase::NtxInfo info = xbase::readNtx(path, e);
    edit(e);
    if (keyLength) info.keyLength = keyLength;
    xbase::writeNtx(path, info, e);
}

void patchByte(const std::string& path, size_t offset, char value) {
    std::string bytes = readFile(path);
    bytes[offset] = value;
    writeFile(path, bytes);
}

TEST(NtxAgainstTable, AnIndexThatDoesNotFitItsTableIsRefusedByName) {
    struct Case {
        const char* name;
        std::function<void(const std::string& index)> damage;
        const char* message;
    } cases[] = {
        {"two record numbers swapped",
         [](const std::string& p) {
             rewriteEntries(p, [](xbase::KeyEntries& e) { std::swap(e.recnos[0], e.recnos[1]); });
         },
         "does not hold the key of record"},
        {"an entry left out",
         [](const std::string& p) {
             rewriteEntries(p, [](xbase::KeyEntries& e) {
                 e.recnos.pop_back();
                 e.keys.resize(e.recnos.size() * e.keyLength);
             });
         },
         "lists 13 records where the table has 14"},
        {"an entry for a record the table does not have",
         [](const std::string& p) {
             rewriteEntries(p, [](xbase::KeyEntries& e) {
                 // A second entry of the first key, for record 99.
                 e.keys.insert(e.keys.begin() + e.keyLength, e.keys.begin(),
                               e.keys.begin() + e.keyLength);
                 e.recnos.insert(e.recnos.begin() + 1, 99);
             });
         },
         "names record 99"},
        {"the descending flag set on ascending keys",
         [](const std::string& p) { patchByte(p, 280, 1); }, "not in descending order"},
        {"keys out of order",
         [](const std::string& p) {
             std::string bytes = readFile(p);
             // The first key of the file's only page, made the highest.
             const size_t at = bytes.find("916-", 1024);
             ASSERT_NE(at, std::string::npos);
             bytes.replace(at, 4, "999-");
             writeFile(p, bytes);
         },
         "not in ascending order"},
        {"a key length that does not fit the key",
         [](const std::string& p) {
             rewriteEntries(
                 p,
                 [](xbase::KeyEntries& e) {
                     xbase::KeyEntries wider;
                     wider.keyLength = 12;
                     for (size_t i = 0; i < e.size(); ++i) {
                         std::string k(reinterpret_cast<const char*>(e.key(i)), e.keyLength);
                         k += ' ';
                         wider.push(reinterpret_cast<const unsigned char*>(k.data()), e.recnos[i]);
                     }
                     e = wider;
                 },
                 12);
         },
         "key length 12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StudentFolder folder;
        c.damage(folder.index);
        TAdsTable t;
        try {
            folder.open(t);
            ADD_FAILURE() << "used a damaged index";
        } catch (const EADSDatabaseError& e) {
            EXPECT_EQ(e.Number(), AE_CORRUPT_INDEX);
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("SSNTEMP.NTX"), std::string::npos) << e.what();
        }
    }
}

TEST(NtxAgainstTable, AnIndexThatFitsFindsEachStudent) {
    StudentFolder folder;
    TAdsTable t;
    folder.open(t);
    TAdsTable plain;
    plain.DatabaseName = folder.tmp.dir();
    plain.TableType = ttAdsNTX;
    plain.SetTableName("STUDTEMP");
    plain.Open();
    size_t students = 0;
    for (plain.First(); !plain.Eof(); plain.Next(), ++students) {
        const std::string ssn = plain.FieldByName("SSN").AsString();
        ASSERT_TRUE(t.FindKey(ssn)) << ssn;
        EXPECT_EQ(t.FieldByName("SSN").AsString(), ssn);
    }
    EXPECT_EQ(students, 14u);
}

// Our own CDX tags: one whose entries point at the wrong records is rebuilt
// from the table, and finds land on the record that carries the key.
TEST(CdxAgainstTable, ATagThatDoesNotFitIsRebuiltFromTheRecords) {
    TempDir tmp;
    tmp.copy("formats/cdx/KESTEST.DBF");
    const std::string cdx = tmp.copy("formats/cdx/KESTEST.cdx");
    auto resolver = [](const std::string&) { return xbase::ValueType::Character; };
    std::vector<xbase::CdxTag> tags = xbase::readCdx(cdx, resolver);
    ASSERT_FALSE(tags.empty());
    for (auto& tag : tags)
        std::reverse(tag.entries.recnos.begin(), tag.entries.recnos.end());
    xbase::writeCdx(cdx, tags);

    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("KESTEST");
    t.Open();
    t.SetIndexName("Code");
    for (const char* code : {"RD", "AL", "ESL", "MA"}) {
        ASSERT_TRUE(t.FindKey(code)) << code;
        EXPECT_EQ(t.FieldByName("CODE").AsString(), code);
    }
    std::string previous;
    for (t.First(); !t.Eof(); t.Next()) {
        const std::string code = t.FieldByName("CODE").AsString();
        EXPECT_LE(previous, code);
        previous = code;
    }
}

} // namespace

// The check behind both: every kind of disagreement is found, and two threads
// report exactly what one does (the first disagreement in record order, even
// when the second half of the records holds one too).
TEST(IndexCheck, OneAndTwoThreadsFindTheSameDisagreement) {
    constexpr uint32_t kRecords = 40;
    auto keyOfRecord = [](uint32_t recno) {
        return std::string(1, char('A' + recno % 7)) + "-" + char('a' + recno % 3);
    };
    auto fitting = [&](bool unique) {
        xbase::KeyEntries e;
        e.keyLength = 3;
        std::vector<std::pair<std::string, uint32_t>> sorted;
        for (uint32_t r = 1; r <= kRecords; ++r)
            sorted.emplace_back(keyOfRecord(r), r);
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 0; i < sorted.size(); ++i)
            if (!unique || i == 0 || sorted[i].first != sorted[i - 1].first)
                e.push(reinterpret_cast<const unsigned char*>(sorted[i].first.data()),
                       sorted[i].second);
        return e;
    };
    auto entryOfRecord = [](xbase::KeyEntries& e, uint32_t recno) {
        return static_cast<size_t>(std::find(e.recnos.begin(), e.recnos.end(), recno) -
                                   e.recnos.begin());
    };
    struct Case {
        const char* name;
        bool unique;
        std::function<void(xbase::KeyEntries&)> damage;
        const char* message; // empty: the index fits
    };
    const Case cases[] = {
        {"fits", false, [](xbase::KeyEntries&) {}, ""},
        {"unique, fits", true, [](xbase::KeyEntries&) {}, ""},
        {"keys out of order", false,
         [](xbase::KeyEntries& e) { std::memcpy(e.keys.data(), "Z-z", 3); },
         "not in ascending order at entry 2"},
        {"a record the table does not have", false,
         [](xbase::KeyEntries& e) { e.recnos[5] = kRecords + 1; },
         "entry 6 names record 41 but the table has 40"},
        {"a record named twice", false,
         [&](xbase::KeyEntries& e) { e.recnos[entryOfRecord(e, 9)] = 2; }, "names record 2 again"},
        {"wrong records in both halves", false,
         [&](xbase::KeyEntries& e) {
             std::swap(e.recnos[entryOfRecord(e, 3)], e.recnos[entryOfRecord(e, 4)]);
             std::swap(e.recnos[entryOfRecord(e, 35)], e.recnos[entryOfRecord(e, 36)]);
         },
         "does not hold the key of record 3"},
        {"a wrong record in the second half only", false,
         [&](xbase::KeyEntries& e) {
             std::swap(e.recnos[entryOfRecord(e, 35)], e.recnos[entryOfRecord(e, 36)]);
         },
         "does not hold the key of record 35"},
        {"a record left out", false,
         [](xbase::KeyEntries& e) {
             e.recnos.pop_back();
             e.keys.resize(e.recnos.size() * e.keyLength);
         },
         "it lists 39 records where the table has 40"},
        {"unique, a key repeated", true,
         [&](xbase::KeyEntries& e) {
             // Records 1 and 22 share their key; the index lists record 1.
             const size_t at = entryOfRecord(e, 1);
             const std::vector<unsigned char> key(e.key(at), e.key(at) + 3);
             e.keys.insert(e.keys.begin() + 3 * (at + 1), key.begin(), key.end());
             e.recnos.insert(e.recnos.begin() + at + 1, 22);
         },
         "repeats the key of the entry before it in a unique index"},
        {"unique, a distinct key left out", true,
         [](xbase::KeyEntries& e) {
             e.recnos.pop_back();
             e.keys.resize(e.recnos.size() * e.keyLength);
         },
         "it leaves out record"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        xbase::KeyEntries e = fitting(c.unique);
        c.damage(e);
        xbase::IndexShape shape;
        shape.unique = c.unique;
        std::string answers[2];
        for (int threads : {1, 2}) {
            xbase::RawVector<uint32_t> entryOf;
            answers[threads - 1] = xbase::indexDisagreement(
                e, shape, kRecords, [&](uint32_t r) { return keyOfRecord(r); },
                [](uint32_t) { return true; },
                [&](uint32_t r, const unsigned char* key, int) {
                    return keyOfRecord(r) == std::string(reinterpret_cast<const char*>(key), 3);
                },
                threads, &entryOf);
            if (answers[threads - 1].empty()) {
                // Each record's entry, as moving to a record uses it.
                ASSERT_EQ(entryOf.size(), kRecords + 1u);
                for (size_t i = 0; i < e.size(); ++i)
                    EXPECT_EQ(entryOf[e.recnos[i]], i + 1);
            }
        }
        EXPECT_EQ(answers[0], answers[1]);
        if (*c.message == '\0') {
            EXPECT_EQ(answers[0], "");
        } else {
            EXPECT_NE(answers[0].find(c.message), std::string::npos) << answers[0];
        }
    }
}
