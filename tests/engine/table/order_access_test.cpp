// Random access to a table's active order, reading a record without moving
// the cursor, and the prefix seek: what a grid that shows only the rows on
// screen reads through.
#include "table_support.h"

#include "data/AdsTable.h"

using namespace testsupport;
using namespace tabletest;

namespace {

struct Names {
    explicit Names(const TempDir& tmp) {
        TAdsTable::AdsCreateTable(tmp.dir() + "NAMES.dbf", ttAdsCDX, OEM, 0,
                                  "NAME,C,10,0;BORN,D,8,0;");
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsCDX;
        t.SetTableName("NAMES");
        t.Exclusive = true;
        t.Open();
        t.AdsCreateIndex61("", "NAME", "NAME", "", "", ADS_COMPOUND);
        t.AdsCreateIndex61("", "BORN", "BORN", "", "", ADS_COMPOUND);
        t.AdsCreateIndex61("", "BACK", "NAME", "", "", ADS_COMPOUND | ADS_DESCENDING);
    }
    void add(const std::string& name, const std::string& born = "20000101") {
        t.Append();
        t.FieldByName("NAME").SetAsString(name);
        t.FieldByName("BORN").SetAsDateTime(*kes::Date::fromYyyymmdd(born));
        t.Post();
    }
    // The names in the active order, read by position.
    std::vector<std::string> byPosition() {
        std::vector<std::string> out;
        TField& name = t.FieldByName("NAME");
        for (size_t p = 0; p < t.PositionCount(); ++p)
            out.push_back(name.At(t.RecNoAtPosition(p)).AsString());
        return out;
    }
    std::string current() { return t.FieldByName("NAME").AsString(); }
    TAdsTable t;
};

using Texts = std::vector<std::string>;

} // namespace

TEST(OrderAccess, PositionsFollowTheActiveOrderAndItsChanges) {
    TempDir tmp;
    Names n(tmp);
    EXPECT_EQ(n.t.PositionCount(), 0u);
    EXPECT_EQ(n.t.CurrentPosition(), TAdsTable::npos);
    for (const char* name : {"SMITH", "ADAMS", "SMALL", "JONES"})
        n.add(name);
    EXPECT_EQ(n.byPosition(), (Texts{"SMITH", "ADAMS", "SMALL", "JONES"})); // natural order
    n.t.SetIndexName("NAME");
    EXPECT_EQ(n.byPosition(), (Texts{"ADAMS", "JONES", "SMALL", "SMITH"}));
    n.t.SetIndexName("BACK");
    EXPECT_EQ(n.byPosition(), (Texts{"SMITH", "SMALL", "JONES", "ADAMS"}));
    n.t.SetIndexName("NAME");
    n.add("BAKER"); // a new record takes its place in the order at once
    EXPECT_EQ(n.byPosition(), (Texts{"ADAMS", "BAKER", "JONES", "SMALL", "SMITH"}));
    EXPECT_THROW(n.t.RecNoAtPosition(5), EADSDatabaseError);

    // The current record's position follows every kind of move.
    n.t.First();
    EXPECT_EQ(n.t.CurrentPosition(), 0u);
    n.t.MoveBy(3);
    EXPECT_EQ(n.t.CurrentPosition(), 3u);
    n.t.GotoBookmark(TBookmark{1}); // SMITH
    EXPECT_EQ(n.t.CurrentPosition(), 4u);
    n.t.SetIndexName("BACK"); // the record stays, its position changes
    EXPECT_EQ(n.t.CurrentPosition(), 0u);
    EXPECT_EQ(n.current(), "SMITH");
    n.t.Close();
    EXPECT_EQ(n.t.PositionCount(), 0u);
}

TEST(OrderAccess, FieldAtReadsAnyRecordWithoutMovingTheCursor) {
    TempDir tmp;
    Names n(tmp);
    n.add("ADAMS", "19800215");
    n.add("BAKER");
    n.t.First();
    TField& born = n.t.FieldByName("BORN");
    EXPECT_EQ(born.At(1).AsString(), "02/15/1980");
    EXPECT_EQ(n.t.FieldByName("NAME").At(2).AsString(), "BAKER");
    EXPECT_EQ(n.t.RecNo(), 1u);
    // A pending change of a record reads as it stands; other records as stored.
    n.t.Edit();
    n.t.FieldByName("NAME").SetAsString("ALLEN");
    EXPECT_EQ(n.t.FieldByName("NAME").At(1).AsString(), "ALLEN");
    EXPECT_EQ(n.t.FieldByName("NAME").At(2).AsString(), "BAKER");
    n.t.Cancel();
    EXPECT_EQ(n.t.FieldByName("NAME").At(1).AsString(), "ADAMS");
    EXPECT_THROW(n.t.FieldByName("NAME").At(0), EADSDatabaseError);
    EXPECT_THROW(n.t.FieldByName("NAME").At(3), EADSDatabaseError);
    n.t.Edit();
    TField other = n.t.FieldByName("NAME").At(2);
    EXPECT_THROW(other.SetAsString("X"), EADSDatabaseError); // reading only
    n.t.Cancel();
}

TEST(OrderAccess, FindPrefixLandsOnTheFirstKeyThatBeginsWithTheText) {
    TempDir tmp;
    Names n(tmp);
    for (const char* name : {"SMITH", "SMALL", "ADAMS", "SMALL", "SM", "JONES"})
        n.add(name);
    n.t.SetIndexName("NAME"); // ADAMS JONES SM SMALL(4) SMALL(2) SMITH
    struct Case {
        const char* text;
        bool found;
        uint32_t recno; // where the cursor is afterwards
    };
    const Case cases[] = {
        {"SM", true, 5},  // the key equal to the text comes first
        {"SMA", true, 2}, // the first of equal keys in the order
        {"SMI", true, 1},          {"J", true, 6},
        {"SMALLER", false, 6},                    // nothing begins with it: the cursor stays
        {"Z", false, 6},           {"", true, 3}, // every key begins with nothing: the first one
        {"SMALL     X", false, 3},                // longer than the key
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(n.t.FindPrefix(c.text), c.found);
        EXPECT_EQ(n.t.RecNo(), c.recno);
    }
    n.t.SetIndexName("BACK"); // SMITH SMALL SMALL SM JONES ADAMS
    EXPECT_TRUE(n.t.FindPrefix("SMA"));
    EXPECT_EQ(n.t.CurrentPosition(), 1u);
    EXPECT_TRUE(n.t.FindPrefix("A"));
    EXPECT_EQ(n.current(), "ADAMS");
    n.t.SetIndexName("BORN");
    EXPECT_THROW(n.t.FindPrefix("2000"), EADSDatabaseError); // date keys are not text
    n.t.SetIndexName("");
    EXPECT_THROW(n.t.FindPrefix("S"), EADSDatabaseError);
}

// The rows of Select All: the records a walk from First to Eof visits, in
// every order, with and without deleted records shown, and with a filter.
TEST(OrderAccess, VisibleBookmarksAreTheRecordsAWalkVisits) {
    TempDir tmp;
    Names n(tmp);
    for (const char* name : {"SMITH", "ADAMS", "SMALL", "JONES", "BAKER", "YOUNG"})
        n.add(name, name[0] == 'S' ? "19990101" : "20010101");
    n.t.AdsCreateIndex61("", "YOUNGER", "NAME", "DTOS(BORN) > \"20000101\"", "", ADS_COMPOUND);
    auto walk = [&] {
        std::vector<uint32_t> recnos;
        for (n.t.First(); !n.t.Eof(); n.t.Next())
            recnos.push_back(n.t.RecNo());
        return recnos;
    };
    auto bookmarks = [&] {
        std::vector<uint32_t> recnos;
        for (const TBookmark& b : n.t.VisibleBookmarks())
            recnos.push_back(b.recno);
        return recnos;
    };
    TAdsSettings settings = TAdsSettings::Current();
    const bool shown = settings.ShowDeleted;
    struct Case {
        const char* order;
        bool showDeleted;
        const char* filter;
    } cases[] = {
        {"", true, ""},         {"NAME", true, ""},
        {"BACK", false, ""},    {"NAME", false, ""},
        {"YOUNGER", false, ""}, {"NAME", false, "DTOS(BORN) > \"20000101\""},
        {"", false, ""},        {"BORN", true, "LEFT(NAME, 1) = \"S\""},
    };
    for (bool withDeleted : {false, true}) {
        if (withDeleted) {
            n.t.GotoBookmark(TBookmark{4}); // JONES
            n.t.Delete();
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.order) + (c.showDeleted ? " shown " : " hidden ") +
                         c.filter + (withDeleted ? " with a deleted record" : ""));
            settings.ShowDeleted = c.showDeleted;
            settings.Apply();
            n.t.SetIndexName(c.order);
            if (*c.filter)
                n.t.AdsSetFilter(c.filter);
            else
                n.t.AdsClearFilter();
            const std::vector<uint32_t> expected = walk();
            EXPECT_FALSE(expected.empty());
            n.t.GotoBookmark(TBookmark{2});
            EXPECT_EQ(bookmarks(), expected);
            EXPECT_EQ(n.t.RecNo(), 2u); // the cursor stays
        }
    }
    settings.ShowDeleted = shown;
    settings.Apply();
}
