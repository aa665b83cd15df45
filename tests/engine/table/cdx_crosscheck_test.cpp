// The structural index our table object keeps, read back by an engine we did
// not write: after appends, after edits that move keys and after a pack, each
// tag lists the records in the order their values say.
#include "table_support.h"

#include "data/AdsTable.h"
#include "data/cdx.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>

using namespace testsupport;
using namespace tabletest;

namespace {

bool haveIndexDump() {
    return !findOnPath("index_dump").empty();
}

// Record numbers in the order index_dump lists them (the last word of each line).
std::vector<uint32_t> dumpOrder(const std::string& cdx, const std::string& tag, const char* type) {
    std::vector<uint32_t> recnos;
    std::string out;
    runProgram({findOnPath("index_dump"), "--type=" + std::string(type), cdx, tag}, &out);
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t space = line.find_last_of(' ');
        if (space == std::string::npos) continue;
        recnos.push_back(static_cast<uint32_t>(std::stoul(line.substr(space + 1))));
    }
    return recnos;
}

struct Record {
    std::string name;
    double amount;
    int32_t born; // days; -1 for an empty date
    bool active;
};

// The order the values themselves give: ascending, equal keys by record number.
template <class Key> std::vector<uint32_t> expectedOrder(const std::vector<Record>& rows, Key key) {
    std::vector<uint32_t> order(rows.size());
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i + 1;
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return key(rows[a - 1]) < key(rows[b - 1]); });
    return order;
}

} // namespace

TEST(CdxCrossCheck, TagsFollowAppendsEditsAndPackInBothReaders) {
    const bool dump = haveIndexDump();
    TempDir tmp;
    TAdsTable::AdsCreateTable(tmp.dir() + "PEOPLE.dbf", ttAdsCDX, OEM, 0,
                              "NAME,C,20,0;AMOUNT,N,10,2;BORN,D,8,0;ACTIVE,L,1,0;");
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("PEOPLE");
    t.Exclusive = true;
    t.Open();
    for (const char* tag : {"NAME", "AMOUNT", "BORN", "ACTIVE"})
        t.AdsCreateIndex61("", tag, tag, "", "", ADS_COMPOUND);

    std::mt19937 rng(11);
    std::vector<Record> rows;
    const char* stems[] = {"SMITH", "DOE", "MÜLLER", "  LEAD", "garcia", "O'NEIL", ""};
    for (int i = 0; i < 20000; ++i) {
        Record r;
        r.name = std::string(stems[rng() % 7]) + std::to_string(rng() % 3000);
        r.amount = (static_cast<int>(rng() % 2000000) - 1000000) / 100.0;
        r.born = rng() % 10 == 0 ? -1 : static_cast<int32_t>(20000 + rng() % 30000);
        r.active = rng() % 2;
        rows.push_back(r);
        t.Append();
        t.FieldByName("NAME").SetAsString(r.name);
        t.FieldByName("AMOUNT").SetAsFloat(r.amount);
        if (r.born >= 0) t.FieldByName("BORN").SetAsDateTime(kes::Date(r.born));
        t.FieldByName("ACTIVE").SetAsBoolean(r.active);
        t.Post();
    }
    // Edits that move keys, then deletions and a pack.
    for (uint32_t recno = 1; recno <= rows.size(); recno += 7) {
        t.GotoBookmark(TBookmark{recno});
        t.Edit();
        rows[recno - 1].name = "MOVED " + std::to_string(recno);
        rows[recno - 1].amount = -rows[recno - 1].amount;
        t.FieldByName("NAME").SetAsString(rows[recno - 1].name);
        t.FieldByName("AMOUNT").SetAsFloat(rows[recno - 1].amount);
        t.Post();
    }
    std::vector<Record> kept;
    for (uint32_t recno = 1; recno <= rows.size(); ++recno) {
        if (recno % 5 == 0) {
            t.GotoBookmark(TBookmark{recno});
            t.Delete();
        } else {
            kept.push_back(rows[recno - 1]);
        }
    }
    t.AdsPackTable();
    t.Close();

    auto name = [](const Record& r) {
        std::string bytes = kes::fromUtf8(r.name, kes::CodePage::Oem437);
        bytes.resize(20, ' ');
        return bytes;
    };
    std::map<std::string, std::vector<uint32_t>> expected = {
        {"NAME", expectedOrder(kept, name)},
        {"AMOUNT", expectedOrder(kept, [](const Record& r) { return r.amount; })},
        {"BORN", expectedOrder(kept, [](const Record& r) { return r.born; })},
        {"ACTIVE", expectedOrder(kept, [](const Record& r) { return r.active; })},
    };
    const std::string cdx = tmp.file("PEOPLE.cdx");
    auto tags = xbase::readCdx(cdx, [](const std::string& e) {
        if (e == "AMOUNT") return xbase::ValueType::Numeric;
        if (e == "BORN") return xbase::ValueType::Date;
        if (e == "ACTIVE") return xbase::ValueType::Logical;
        return xbase::ValueType::Character;
    });
    ASSERT_EQ(tags.size(), 4u);
    for (const auto& tag : tags) {
        SCOPED_TRACE(tag.name);
        EXPECT_EQ(std::vector<uint32_t>(tag.entries.recnos.begin(), tag.entries.recnos.end()),
                  expected[tag.name]);
    }
    if (!dump) GTEST_SKIP() << "index_dump (libdbd-xbase-perl) is not installed";
    EXPECT_EQ(dumpOrder(cdx, "NAME", "char"), expected["NAME"]);
    EXPECT_EQ(dumpOrder(cdx, "AMOUNT", "num"), expected["AMOUNT"]);
    EXPECT_EQ(dumpOrder(cdx, "BORN", "num"), expected["BORN"]);
    EXPECT_EQ(dumpOrder(cdx, "ACTIVE", "char"), expected["ACTIVE"]);
}
