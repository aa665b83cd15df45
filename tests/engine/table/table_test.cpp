// The table object: field conversions, editing, navigation, bookmarks,
// filters, copying, packing, orders and finds, and the open with retry.
#include "table_support.h"

#include "common/Operator.h"
#include "data/AdsTable.h"
#include "data/OpenTableWithRetry.h"
#include "data/cdx.h"
#include "os/Os.h"

#include <algorithm>
#include <cstdio>

using namespace testsupport;
using namespace tabletest;

namespace {

const char* const kCodeList = "CODE,     C, 4,0;INCLUDE,  L, 1,0;NEWCODE,  C, 4,0;WHEN, D, 8,0;"
                              "SCORE, N, 4,0;";

// A CDX table in a temporary folder (created unless `list` is null), opened.
struct Table {
    explicit Table(const TempDir& tmp, const std::string& name = "CODES",
                   const char* list = kCodeList, bool exclusive = true) {
        if (list) TAdsTable::AdsCreateTable(tmp.dir() + name + ".dbf", ttAdsCDX, OEM, 0, list);
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsCDX;
        t.SetTableName(name);
        t.Exclusive = exclusive;
        t.Open();
    }
    void add(const std::string& code, bool include = true, const std::string& when = "",
             int score = 0) {
        t.Append();
        t.FieldByName("CODE").SetAsString(code);
        t.FieldByName("INCLUDE").SetAsBoolean(include);
        t.FieldByName("NEWCODE").SetAsString(code + "N");
        if (!when.empty()) t.FieldByName("WHEN").SetAsDateTime(*kes::Date::fromYyyymmdd(when));
        t.FieldByName("SCORE").SetAsInteger(score);
        t.Post();
    }
    std::vector<std::string> walk(const char* field = "CODE") {
        std::vector<std::string> out;
        for (t.First(); !t.Eof(); t.Next())
            out.push_back(t.FieldByName(field).AsString());
        return out;
    }
    TAdsTable t;
};

using Codes = std::vector<std::string>;

} // namespace

TEST(TableObject, NameChangesOnlyWhileClosed) {
    TempDir tmp;
    Table tab(tmp);
    try {
        tab.t.SetTableName("OTHER");
        ADD_FAILURE() << "renamed an open table";
    } catch (const EADSDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot perform this operation on an open dataset");
    }
    tab.t.Close();
    tab.t.Close(); // closing a closed table is harmless
    tab.t.SetTableName("OTHER");
    EXPECT_EQ(tab.t.TableName(), "OTHER");
}

TEST(TableObject, FieldConversionsBothWays) {
    TempDir tmp;
    Table tab(tmp);
    TAdsTable& t = tab.t;
    t.Append();
    // Nothing set: blanks everywhere.
    EXPECT_EQ(t.FieldByName("code").AsString(), "");
    EXPECT_EQ(t.FieldByName("When").AsDateTime(), kes::Date());
    EXPECT_EQ(t.FieldByName("When").AsString(), "");
    EXPECT_FALSE(t.FieldByName("Include").AsBoolean());
    EXPECT_EQ(t.FieldByName("Score").AsInteger(), 0);
    t.FieldByName("CODE").SetAsString("ABCDEFG"); // cut to the width
    t.FieldByName("NEWCODE").SetAsString("AB");
    t.FieldByName("WHEN").SetAsDateTime(kes::Date()); // day zero stored as 18991230
    t.FieldByName("SCORE").SetAsString("512");
    t.Post();
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "ABCD");
    EXPECT_EQ(t.FieldByName("NEWCODE").AsString(), "AB"); // trailing blanks removed
    EXPECT_EQ(t.FieldByName("WHEN").AsDateTime(), kes::Date());
    EXPECT_EQ(t.FieldByName("WHEN").AsString(), "12/30/1899");
    EXPECT_EQ(t.FieldByName("SCORE").AsInteger(), 512);
    EXPECT_EQ(std::string(t.File().record(1) + 1 + 4 + 1 + 4, 8), "18991230");
    try {
        t.FieldByName("NOSUCH");
        ADD_FAILURE() << "found a field the table lacks";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_COLUMN_NOT_FOUND);
        EXPECT_NE(std::string(e.what()).find("NOSUCH"), std::string::npos);
    }
    EXPECT_THROW(t.FieldByName("CODE").SetAsString("X"), EADSDatabaseError); // not editing
}

TEST(TableObject, EditAppendPostCancelAndNextStoresThePendingChange) {
    TempDir tmp;
    Table tab(tmp);
    for (const char* c : {"A", "B", "C"})
        tab.add(c);
    TAdsTable& t = tab.t;
    t.First();
    t.Edit();
    t.FieldByName("CODE").SetAsString("A2");
    t.Next(); // stores the change
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "B");
    t.Edit();
    t.FieldByName("CODE").SetAsString("XX");
    t.Cancel();
    t.Append();
    t.FieldByName("CODE").SetAsString("GONE");
    t.Cancel();
    EXPECT_EQ(tab.walk(), (Codes{"A2", "B", "C"}));
    EXPECT_EQ(t.RecordCount(), 3u);
}

TEST(TableObject, DeletedRecordsStayVisibleUntilPack) {
    TempDir tmp;
    Table tab(tmp);
    for (const char* c : {"A", "B", "C", "D"})
        tab.add(c);
    TAdsTable& t = tab.t;
    t.First();
    t.Next();
    t.Edit();
    t.FieldByName("CODE").SetAsString("ZZ");
    t.Delete(); // the pending change is discarded
    EXPECT_TRUE(t.IsDeleted());
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "B");
    t.Next(); // reaches the record after the deleted one
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "C");
    EXPECT_EQ(tab.walk(), (Codes{"A", "B", "C", "D"}));
    EXPECT_EQ(t.RecordCount(), 4u);
    t.AdsPackTable();
    EXPECT_EQ(t.RecordCount(), 3u);
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "A"); // cursor on the first record
    EXPECT_EQ(tab.walk(), (Codes{"A", "C", "D"}));
}

TEST(TableObject, PackNeedsAnExclusiveOpen) {
    TempDir tmp;
    Table tab(tmp, "CODES", kCodeList, /*exclusive=*/false);
    tab.add("A");
    try {
        tab.t.AdsPackTable();
        ADD_FAILURE() << "packed a shared table";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_NOT_EXCLUSIVE);
    }
}

// A pack closes up every run of deleted records, wherever it lies.
TEST(TableObject, PackClosesUpEveryRunOfDeletedRecords) {
    // One character per record: '*' deleted, '-' kept.
    for (const std::string pattern : {"-", "*", "-*-", "**--*", "--**--***", "*-*-*-", "****"}) {
        SCOPED_TRACE(pattern);
        TempDir tmp;
        Table tab(tmp);
        Codes kept;
        for (size_t i = 0; i < pattern.size(); ++i) {
            tab.add("R" + std::to_string(i + 1));
            if (pattern[i] == '-') kept.push_back("R" + std::to_string(i + 1));
        }
        for (size_t i = 0; i < pattern.size(); ++i)
            if (pattern[i] == '*') tab.t.File().setDeleted(static_cast<uint32_t>(i + 1), true);
        tab.t.AdsPackTable();
        EXPECT_EQ(tab.walk(), kept);
        tab.t.Close();
        tab.t.Open();
        EXPECT_EQ(tab.t.RecordCount(), kept.size());
        EXPECT_EQ(tab.walk(), kept);
    }
}

// A large copy is shared out over two threads: whatever the deletions and the
// filter leave out of either half, the records copied arrive whole and in
// their order.
TEST(TableObject, ALargeCopyKeepsEveryRecordInOrder) {
    constexpr uint32_t kCount = 140000;
    struct Case {
        const char* name;
        bool (*leftOut)(uint32_t recno);
    };
    const Case cases[] = {
        {"gaps in both halves", [](uint32_t r) { return r % 7 == 0 || r % 5 == 0; }},
        {"first half whole", [](uint32_t r) { return r > kCount / 2 && r % 3 == 0; }},
        {"first half left out", [](uint32_t r) { return r <= kCount / 2; }},
        {"nothing copied", [](uint32_t) { return true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        {
            // Of the records left out, the odd ones are deleted and the even
            // ones fail the filter.
            Table source(tmp, "SOURCE", "CODE,C,7,0;KEEP,C,1,0;");
            std::string records;
            char record[10];
            for (uint32_t r = 1; r <= kCount; ++r) {
                const bool out = c.leftOut(r);
                std::snprintf(record, sizeof record, "%c%07u%c", out && r % 2 ? '*' : ' ', r,
                              out && r % 2 == 0 ? 'N' : 'Y');
                records.append(record, 9);
            }
            source.t.File().appendRecords(records.data(), kCount);
        }
        TAdsTable source;
        source.DatabaseName = tmp.dir();
        source.TableType = ttAdsCDX;
        source.SetTableName("SOURCE");
        source.Open();
        source.AdsSetFilter("KEEP <> \"N\"");
        source.AdsTableOptions.AdsFilterOptions = RESPECT_WHEN_COUNTING;
        Table target(tmp, "TARGET", "CODE,C,7,0;");
        source.AdsCopyTableContents(target.t);
        const xbase::DbfFile& copied = target.t.File();
        uint32_t recno = 0;
        for (uint32_t r = 1; r <= kCount; ++r) {
            if (c.leftOut(r)) continue;
            ++recno;
            ASSERT_LE(recno, copied.recordCount());
            char expected[9];
            std::snprintf(expected, sizeof expected, " %07u", r);
            ASSERT_EQ(std::string(copied.record(recno), 8), expected) << "record " << recno;
        }
        EXPECT_EQ(copied.recordCount(), recno);
        EXPECT_EQ(copied.deletedCount(), 0u);
    }
}

TEST(TableObject, BookmarksReturnToTheRecordInAnyOrder) {
    TempDir tmp;
    Table tab(tmp);
    for (const char* c : {"D", "B", "C", "A"})
        tab.add(c);
    TAdsTable& t = tab.t;
    t.AdsCreateIndex61("", "CODE", "CODE", "", "", ADS_COMPOUND);
    t.First();
    t.Next(); // "B", record 2
    TBookmark mark = t.GetBookmark();
    t.SetIndexName("code"); // the order changes at once; the cursor stays
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "B");
    t.Next();
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "C");
    t.Last();
    t.GotoBookmark(mark);
    EXPECT_EQ(t.RecNo(), 2u);
    t.Next();
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "C");
    t.SetIndexName("");
    t.GotoBookmark(mark);
    t.Next();
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "C"); // natural order: record 3
    t.FreeBookmark(mark);
    EXPECT_FALSE(mark.valid());
}

TEST(TableObject, DisplayStaysQuietWhileSuspended) {
    TempDir tmp;
    Table tab(tmp);
    for (const char* c : {"A", "B"})
        tab.add(c);
    int events = 0;
    int id = tab.t.AddListener([&](TableEvent) { ++events; });
    tab.t.DisableControls();
    tab.t.DisableControls();
    EXPECT_TRUE(tab.t.ControlsDisabled());
    tab.walk();
    tab.t.EnableControls();
    EXPECT_EQ(events, 0);
    tab.t.EnableControls(); // the last one tells the views once
    EXPECT_EQ(events, 1);
    tab.t.Next();
    EXPECT_EQ(events, 2);
    tab.t.RemoveListener(id);
    tab.t.First();
    EXPECT_EQ(events, 2);
}

TEST(TableObject, FiltersAndCountingOptions) {
    TempDir tmp;
    Table tab(tmp);
    tab.add("A", true, "20040101");
    tab.add("B", false, "20040215");
    tab.add("C", true, "");
    tab.add("D", true, "20040331");
    tab.add("E", true, "20040401");
    TAdsTable& t = tab.t;
    t.AdsSetFilter("(DTOS(When) >= \"20040101\") .and. (DTOS(When) <= \"20040331\")");
    EXPECT_EQ(tab.walk(), (Codes{"A", "B", "D"}));
    EXPECT_EQ(t.RecordCount(), 5u); // the filter is ignored when counting by default
    t.AdsTableOptions.AdsFilterOptions = RESPECT_WHEN_COUNTING;
    EXPECT_EQ(t.RecordCount(), 3u);
    t.AdsSetFilter("include");
    EXPECT_EQ(tab.walk(), (Codes{"A", "C", "D", "E"}));
    t.AdsClearFilter();
    EXPECT_EQ(t.RecordCount(), 5u);
    try {
        t.AdsSetFilter("NOSUCH = 1");
        ADD_FAILURE() << "accepted an unknown field";
    } catch (const EADSDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("NOSUCH"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("CODES.dbf"), std::string::npos) << e.what();
    }
    EXPECT_THROW(t.AdsSetFilter("CODE"), EADSDatabaseError); // not logical
}

TEST(TableObject, CopyMatchesFieldsByNameConvertsAndCutsToWidth) {
    TempDir tmp;
    Table source(tmp, "SOURCE",
                 "ssn,C,11,0;Code,C,6,0;Date,D,8,0;Score,N,6,1;Extra,C,5,0;Retest,C,1,0;");
    struct Row {
        const char* ssn;
        const char* code;
        const char* date;
        double score;
        const char* retest;
        bool deleted;
    } rows[] = {
        {"123-45-6789", "SMA-B", "20040105", 12.4, "Y", false},
        {"999887777", "RD", "", -5, "N", false},
        {"111-11-1111", "WR", "20040110", 99999.5, "n", false},
        {"222-22-2222", "MA", "20040111", 7, "Y", true},
    };
    for (const Row& r : rows) {
        source.t.Append();
        source.t.FieldByName("SSN").SetAsString(r.ssn);
        source.t.FieldByName("CODE").SetAsString(r.code);
        if (*r.date) source.t.FieldByName("DATE").SetAsDateTime(*kes::Date::fromYyyymmdd(r.date));
        source.t.FieldByName("SCORE").SetAsFloat(r.score);
        source.t.FieldByName("RETEST").SetAsString(r.retest);
        source.t.Post();
        if (r.deleted) source.t.Delete();
    }
    Table target(tmp, "TARGET",
                 "ID,C,9,0;SSN,C,11,0;CODE,C,4,0;DATE,D,8,0;SCORE,N,4,0;TESTSCORE,C,8,0;");
    source.t.AdsSetFilter("(retest <> \"N\")");
    source.t.AdsTableOptions.AdsFilterOptions = IGNORE_WHEN_COUNTING;
    source.t.AdsCopyTableContents(target.t); // the filter does not count
    EXPECT_EQ(target.t.RecordCount(), 3u);   // the deleted record is never copied
    source.t.AdsTableOptions.AdsFilterOptions = RESPECT_WHEN_COUNTING;
    source.t.AdsCopyTableContents(target.t);
    EXPECT_EQ(target.t.RecordCount(), 5u);
    Codes codes = target.walk("CODE");
    EXPECT_EQ(codes, (Codes{"SMA-", "RD", "WR", "SMA-", "WR"}));
    target.t.First();
    EXPECT_EQ(target.t.FieldByName("ID").AsString(), "");
    EXPECT_EQ(target.t.FieldByName("SSN").AsString(), "123-45-6789");
    EXPECT_EQ(target.t.FieldByName("SCORE").AsInteger(), 12);
    EXPECT_EQ(target.t.FieldByName("DATE").AsDateTime().toYyyymmdd(), "20040105");
    target.t.Next();
    EXPECT_EQ(target.t.FieldByName("SSN").AsString(), "999887777");
    EXPECT_TRUE(target.t.FieldByName("DATE").IsNull());
    EXPECT_EQ(target.t.FieldByName("SCORE").AsInteger(), -5);
    target.t.Next();
    EXPECT_EQ(target.t.FieldByName("SCORE").AsInteger(), 0); // too wide: stored as asterisks
}

TEST(Orders, TagsKeepIndexOrderThroughAppendEditAndPack) {
    TempDir tmp;
    Table tab(tmp);
    TAdsTable& t = tab.t;
    for (const char* tag : {"CODE", "WHEN", "SCORE", "INCLUDE"})
        t.AdsCreateIndex61("", tag, tag, "", "", ADS_COMPOUND);
    EXPECT_TRUE(fs::exists(tmp.file("CODES.cdx")));
    EXPECT_EQ(t.File().tableFlags() & 0x01, 0x01);
    tab.add("MA", true, "20040301", 30);
    tab.add("EN", false, "", -4);
    tab.add("RD", true, "20040101", 7);
    tab.add("EN", true, "20031231", 7);
    t.SetIndexName("Code"); // tag names match without regard to case
    EXPECT_EQ(tab.walk(), (Codes{"EN", "EN", "MA", "RD"}));
    EXPECT_EQ(t.IndexName(), "CODE");
    t.SetIndexName("WHEN");
    EXPECT_EQ(tab.walk(), (Codes{"EN", "EN", "RD", "MA"})); // the empty date first
    t.SetIndexName("SCORE");
    EXPECT_EQ(tab.walk(), (Codes{"EN", "RD", "EN", "MA"})); // equal keys by record number
    t.SetIndexName("INCLUDE");
    EXPECT_EQ(tab.walk(), (Codes{"EN", "MA", "RD", "EN"}));
    // An edit that moves a key, and a pack.
    t.SetIndexName("CODE");
    ASSERT_TRUE(t.FindKey("MA"));
    t.Edit();
    t.FieldByName("CODE").SetAsString("AA");
    t.Post();
    EXPECT_EQ(tab.walk(), (Codes{"AA", "EN", "EN", "RD"}));
    ASSERT_TRUE(t.FindKey("RD"));
    t.Delete();
    t.AdsPackTable();
    EXPECT_EQ(tab.walk(), (Codes{"AA", "EN", "EN"}));
    t.Close();

    // The file on disk holds the same orders.
    auto tags = xbase::readCdx(tmp.file("CODES.cdx"), [](const std::string& e) {
        if (e == "WHEN") return xbase::ValueType::Date;
        if (e == "SCORE") return xbase::ValueType::Numeric;
        if (e == "INCLUDE") return xbase::ValueType::Logical;
        return xbase::ValueType::Character;
    });
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0].name, "CODE");
    EXPECT_EQ(std::vector<uint32_t>(tags[0].entries.recnos.begin(), tags[0].entries.recnos.end()),
              (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(std::vector<uint32_t>(tags[1].entries.recnos.begin(), tags[1].entries.recnos.end()),
              (std::vector<uint32_t>{2, 3, 1}));
}

TEST(Orders, FindKeyIsExactAndLeavesTheCursorWhenNothingIsFound) {
    TempDir tmp;
    Table tab(tmp);
    TAdsTable& t = tab.t;
    t.AdsCreateIndex61("", "CODE", "CODE", "", "", ADS_COMPOUND);
    for (const char* c : {"SR1", "S1", "SR1", "RD"})
        tab.add(c);
    t.SetIndexName("CODE");
    ASSERT_TRUE(t.FindKey("SR1"));
    EXPECT_EQ(t.RecNo(), 1u); // the first of equal keys
    t.First();
    t.Next(); // "S1"? no: index order is RD, S1, SR1, SR1
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "S1");
    EXPECT_FALSE(t.FindKey("SR")); // no partial matches
    EXPECT_FALSE(t.FindKey("ZZ"));
    EXPECT_EQ(t.FieldByName("CODE").AsString(), "S1");
    EXPECT_TRUE(t.FindKey("RD"));
    t.SetIndexName("");
    EXPECT_THROW(t.FindKey("RD"), EADSDatabaseError);
    EXPECT_THROW(t.SetIndexName("NOSUCH"), EADSDatabaseError);
}

TEST(Orders, NtxIndexOpensUnderItsBaseName) {
    TempDir tmp;
    std::string dbf = tmp.copy("virn-sample/VIRNTP1/STUDENT.DBF");
    tmp.copy("virn-sample/VIRNTP1/SSN.NTX");
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsNTX;
    t.SetTableName("Student");
    t.Open();
    t.AdsOpenIndex(tmp.dir() + "ssn.ntx");
    t.SetIndexName("SSN");
    ASSERT_TRUE(t.FindKey("919-70-4676"));
    EXPECT_EQ(t.RecNo(), 7u); // the first of two rows in index order
    ASSERT_TRUE(t.FindKey("975-37-8199"));
    EXPECT_TRUE(t.IsDeleted()); // deleted records are still found
    ASSERT_TRUE(t.FindKey("999887777"));
    EXPECT_EQ(t.FieldByName("LNAME").AsString(), "TESTER, JR");
    EXPECT_FALSE(t.FindKey("000-00-0000"));
    EXPECT_THROW(t.AdsOpenIndex(tmp.dir() + "MISSING.NTX"), EADSDatabaseError);
}

namespace {

// Answers the retry question from a script and records what was asked.
struct ScriptedPrompt : SilentOperator {
    std::vector<bool> answers;
    int asked = 0;
    int hourglassDepth = 0;
    std::vector<std::string> texts;
    std::string cancelled;
    void SetHourglass(bool on) override { hourglassDepth += on ? 1 : -1; }
    bool AskRetry(const std::string& text) override {
        texts.push_back(text);
        EXPECT_EQ(hourglassDepth, 0) << "the normal cursor is back while asking";
        return asked < static_cast<int>(answers.size()) && answers[static_cast<size_t>(asked++)];
    }
    void ShowCancelled(const std::string& text) override { cancelled = text; }
};

} // namespace

TEST(OpenTableWithRetry, AsksAfterEveryTwelfthFailureAndReportsCancel) {
    TempDir tmp;
    struct Case {
        TAdsTableType type;
        const char* suffix;
    } cases[] = {{ttAdsNTX, ".CDX."}, {ttAdsCDX, ".CDX."}, {ttAdsADT, ".ADT."}};
    for (const Case& c : cases) {
        TAdsTable t;
        t.DatabaseName = tmp.dir();
        t.TableType = c.type;
        t.SetTableName("Place");
        ScriptedPrompt prompt;
        prompt.answers = {true, false}; // OK once, then Cancel
        const uint64_t before = TableOpenAttempts();
        EXPECT_FALSE(OpenTableWithRetry(t, prompt));
        EXPECT_EQ(TableOpenAttempts() - before, 24u); // twelve silent attempts per question
        ASSERT_EQ(prompt.texts.size(), 2u);
        EXPECT_EQ(prompt.texts[0],
                  "Unable to open Table: " + tmp.dir() + "Place" + c.suffix + "\r\nOK to retry?");
        EXPECT_EQ(prompt.cancelled, "Cancelled.  The program will be terminated.");
        EXPECT_EQ(prompt.hourglassDepth, 0);
        EXPECT_FALSE(t.Active());
    }
}

TEST(OpenTableWithRetry, SucceedsAfterTheOperatorFixedTheProblem) {
    TempDir tmp;
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsNTX;
    t.SetTableName("MIXED");
    struct FixingPrompt : ScriptedPrompt {
        TempDir* dir = nullptr;
        bool AskRetry(const std::string& text) override {
            texts.push_back(text);
            dir->copy("formats/dbf/MIXED.DBF"); // the operator restores the file
            return true;
        }
    } prompt;
    prompt.dir = &tmp;
    EXPECT_TRUE(OpenTableWithRetry(t, prompt));
    EXPECT_EQ(prompt.texts.size(), 1u);
    EXPECT_TRUE(t.Active());
    EXPECT_EQ(prompt.hourglassDepth, 0);
}

TEST(OpenTableWithRetry, CountsTwelveSilentAttemptsBeforeAsking) {
    // A table held exclusively by another object fails each attempt until the
    // holder lets go during the second question.
    TempDir tmp;
    tmp.copy("formats/dbf/MIXED.DBF");
    TAdsTable holder;
    holder.DatabaseName = tmp.dir();
    holder.TableType = ttAdsNTX;
    holder.SetTableName("MIXED");
    holder.Exclusive = true;
    holder.Open();
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsNTX;
    t.SetTableName("MIXED");
    struct CountingPrompt : ScriptedPrompt {
        TAdsTable* holder = nullptr;
        bool AskRetry(const std::string& text) override {
            texts.push_back(text);
            if (texts.size() == 2) holder->Close(); // free it before the 25th attempt
            return true;
        }
    } prompt;
    prompt.holder = &holder;
    const uint64_t before = TableOpenAttempts();
    EXPECT_TRUE(OpenTableWithRetry(t, prompt));
    EXPECT_EQ(prompt.texts.size(), 2u);
    EXPECT_EQ(TableOpenAttempts() - before, 25u); // 12 failures, ask, 12 failures, ask, success
}

TEST(Orders, AnIndexThatNoLongerFitsItsTableIsRebuilt) {
    // The records changed while the index file was not rewritten: its keys
    // are rebuilt from the records instead of being trusted.
    TempDir tmp;
    {
        Table tab(tmp);
        tab.t.AdsCreateIndex61("", "CODE", "CODE", "", "", ADS_COMPOUND);
        for (const char* c : {"C", "A"})
            tab.add(c);
    }
    fs::copy_file(tmp.file("CODES.cdx"), tmp.file("old.cdx"));
    {
        Table reopened(tmp, "CODES", nullptr);
        reopened.add("B");
    }
    ASSERT_TRUE(kes::os::copyFileReplacing(tmp.file("old.cdx"), tmp.file("CODES.cdx")).ok());
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("CODES");
    t.Open();
    t.SetIndexName("CODE");
    std::vector<std::string> codes;
    for (t.First(); !t.Eof(); t.Next())
        codes.push_back(t.FieldByName("CODE").AsString());
    EXPECT_EQ(codes, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_TRUE(t.FindKey("B"));
}

TEST(Orders, TagsWithExpressionsConditionsAndDescendingOrderWork) {
    // Index files written by other programs may carry tags the program never
    // creates itself; they open, walk and seek where their key is supported.
    TempDir tmp;
    TAdsTable::AdsCreateTable(tmp.dir() + "PEOPLE.dbf", ttAdsCDX, OEM, 0,
                              "NAME,C,8,0;AMOUNT,N,6,2;");
    struct Row {
        const char* name;
        double amount;
    } rows[] = {{"delta", 5}, {"Alpha", -1}, {"charlie", 2.5}, {"BRAVO", 0}, {"alpha", 7}};
    {
        TAdsTable t;
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsCDX;
        t.SetTableName("PEOPLE");
        t.Open();
        for (const Row& r : rows) {
            t.Append();
            t.FieldByName("NAME").SetAsString(r.name);
            t.FieldByName("AMOUNT").SetAsFloat(r.amount);
            t.Post();
        }
    }
    // Tags as another program wrote them.
    auto tag = [](const char* name, const char* key, const char* condition, bool descending,
                  xbase::ValueType type, uint16_t length, std::vector<std::string> keys,
                  std::vector<uint32_t> recnos) {
        xbase::CdxTag t;
        t.name = name;
        t.keyExpression = key;
        t.forExpression = condition;
        t.descending = descending;
        t.keyType = type;
        t.entries.keyLength = length;
        for (size_t i = 0; i < keys.size(); ++i)
            t.entries.push(reinterpret_cast<const unsigned char*>(keys[i].data()), recnos[i]);
        return t;
    };
    auto n = [](double v) { return xbase::cdxKey(xbase::Value::numeric(v), 8); };
    std::vector<xbase::CdxTag> tags = {
        tag("UPNAME", "UPPER(NAME)", "", false, xbase::ValueType::Character, 8,
            {"ALPHA   ", "ALPHA   ", "BRAVO   ", "CHARLIE ", "DELTA   "}, {2, 5, 4, 3, 1}),
        tag("NAMEDESC", "NAME", "", true, xbase::ValueType::Character, 8,
            {"delta   ", "charlie ", "alpha   ", "BRAVO   ", "Alpha   "}, {1, 3, 5, 4, 2}),
        tag("POSITIVE", "AMOUNT", "AMOUNT > 0", false, xbase::ValueType::Numeric, 8,
            {n(2.5), n(5), n(7)}, {3, 1, 5}),
    };
    xbase::writeCdx(tmp.file("PEOPLE.cdx"), tags);

    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("PEOPLE");
    t.Exclusive = true;
    t.Open();
    auto walk = [&] {
        std::vector<uint32_t> out;
        for (t.First(); !t.Eof(); t.Next())
            out.push_back(t.RecNo());
        return out;
    };
    t.SetIndexName("upname");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{2, 5, 4, 3, 1}));
    EXPECT_TRUE(t.FindKey("CHARLIE"));
    EXPECT_EQ(t.RecNo(), 3u);
    t.SetIndexName("NAMEDESC");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{1, 3, 5, 4, 2}));
    EXPECT_TRUE(t.FindKey("alpha"));
    EXPECT_EQ(t.RecNo(), 5u);
    EXPECT_FALSE(t.FindKey("echo"));
    t.SetIndexName("POSITIVE");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{3, 1, 5}));
    // A change keeps every tag in step, the condition included.
    t.First();
    t.Edit();
    t.FieldByName("AMOUNT").SetAsFloat(-3); // record 3 leaves the POSITIVE tag
    t.FieldByName("NAME").SetAsString("echo");
    t.Post();
    EXPECT_EQ(walk(), (std::vector<uint32_t>{1, 5}));
    t.SetIndexName("NAMEDESC");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{3, 1, 5, 4, 2}));
    t.SetIndexName("UPNAME");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{2, 5, 4, 1, 3}));
    t.Close();
    auto reread = xbase::readCdx(tmp.file("PEOPLE.cdx"), [](const std::string& e) {
        return e == "AMOUNT" ? xbase::ValueType::Numeric : xbase::ValueType::Character;
    });
    ASSERT_EQ(reread.size(), 3u);
    EXPECT_EQ(reread[1].descending, true);
    EXPECT_EQ(reread[2].forExpression, "AMOUNT > 0");
    EXPECT_EQ(
        std::vector<uint32_t>(reread[2].entries.recnos.begin(), reread[2].entries.recnos.end()),
        (std::vector<uint32_t>{1, 5}));
}

// Keys longer than eight bytes that share their first eight (thousands of
// SSNs begin "800-00-2") are each found exactly, the first of equal keys in
// index order; a key that is not there leaves the cursor where it was.
TEST(Orders, FindKeyTellsApartLongKeysThatBeginAlike) {
    TempDir tmp;
    Table tab(tmp, "STUDENTS", "SSN, C,11,0;NAME, C,10,0;");
    TAdsTable& t = tab.t;
    t.AdsCreateIndex61("", "SSN", "SSN", "", "", ADS_COMPOUND);
    auto ssn = [](int n) {
        char text[12];
        std::snprintf(text, sizeof text, "800-00-2%03d", n);
        return std::string(text);
    };
    // Every key once, in a scrambled order, and every hundredth once more.
    std::vector<int> keys;
    for (int i = 0; i < 1000; ++i)
        keys.push_back(i * 337 % 1000);
    for (int i = 0; i < 1000; i += 100)
        keys.push_back(i);
    for (size_t i = 0; i < keys.size(); ++i) {
        t.Append();
        t.FieldByName("SSN").SetAsString(ssn(keys[i]));
        t.FieldByName("NAME").SetAsString(std::to_string(i + 1));
        t.Post();
    }
    t.SetIndexName("SSN");
    for (int n = 0; n < 1000; ++n) {
        ASSERT_TRUE(t.FindKey(ssn(n))) << ssn(n);
        EXPECT_EQ(t.FieldByName("SSN").AsString(), ssn(n));
        const auto first = std::find(keys.begin(), keys.end(), n) - keys.begin() + 1;
        EXPECT_EQ(t.RecNo(), static_cast<uint32_t>(first)) << ssn(n);
    }
    ASSERT_TRUE(t.FindKey(ssn(500)));
    const uint32_t here = t.RecNo();
    for (const char* missing : {"800-00-2", "800-00-2 99", "800-00-1999", "800-00-3000"})
        EXPECT_FALSE(t.FindKey(missing)) << missing;
    EXPECT_EQ(t.RecNo(), here);
}

// A table opened shared reads a tag when it is first used. A tag it never
// used is still written back whole when a change rewrites the index file.
TEST(Orders, TagsNotUsedInASharedOpenSurviveARewriteOfTheIndex) {
    TempDir tmp;
    {
        Table tab(tmp);
        tab.t.AdsCreateIndex61("", "CODE", "CODE", "", "", ADS_COMPOUND);
        tab.t.AdsCreateIndex61("", "NEWCODE", "NEWCODE", "", "", ADS_COMPOUND);
        tab.t.AdsCreateIndex61("", "SCORE", "SCORE", "", "", ADS_COMPOUND);
        for (const char* c : {"C", "A", "D", "B"})
            tab.add(c, true, "", static_cast<int>(c[0]));
    }
    {
        Table shared(tmp, "CODES", nullptr, false);
        shared.t.SetIndexName("CODE");
        ASSERT_TRUE(shared.t.FindKey("D"));
        shared.t.Edit();
        shared.t.FieldByName("CODE").SetAsString("E"); // the CODE tag changes
        shared.t.Post();
        EXPECT_EQ(shared.walk(), (Codes{"A", "B", "C", "E"}));
    }
    Table again(tmp, "CODES", nullptr, false);
    again.t.SetIndexName("NEWCODE");
    EXPECT_EQ(again.walk("NEWCODE"), (Codes{"AN", "BN", "CN", "DN"}));
    again.t.SetIndexName("SCORE");
    EXPECT_EQ(again.walk(), (Codes{"A", "B", "C", "E"}));
    again.t.SetIndexName("CODE");
    EXPECT_EQ(again.walk(), (Codes{"A", "B", "C", "E"}));
    EXPECT_TRUE(again.t.FindKey("E"));
}

// Text moved field to field between tables stores exactly what the way
// through the program's text stores: every byte of one code page as the
// other has it ("?" where it lacks the character), cut to the width, padded
// with blanks.
TEST(TableObject, AssignStoresWhatTheTextWouldStore) {
    TempDir tmp;
    const char* const list = "WIDE, C,254,0;NARROW, C,10,0;";
    auto open = [&](TAdsTable& t, const char* name, TAdsCharType charSet) {
        TAdsTable::AdsCreateTable(tmp.file(std::string(name) + ".dbf"), ttAdsCDX, charSet, 0, list);
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsCDX;
        t.SetTableName(name);
        t.Exclusive = true;
        t.Open();
    };
    TAdsTable oem, ansi, oemOut, ansiOut;
    open(oem, "OEM", OEM);
    open(ansi, "ANSI", ANSI);
    open(oemOut, "OEMOUT", OEM);
    open(ansiOut, "ANSIOUT", ANSI);
    // Every byte but the blank, once in 0x01-0xFF order, and a short value.
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != ' ') all += static_cast<char>(b);
    const std::string values[] = {all.substr(0, 254), all.substr(254) + "  ", "AB  C"};
    for (TAdsTable* from : {&oem, &ansi}) {
        for (const std::string& bytes : values) {
            from->Append();
            from->FieldByName("WIDE").SetAsString(kes::toUtf8(bytes, from->CodePage()));
            from->FieldByName("NARROW").SetAsString(kes::toUtf8(bytes, from->CodePage()));
            from->Post();
        }
    }
    for (TAdsTable* from : {&oem, &ansi})
        for (TAdsTable* to : {&oemOut, &ansiOut})
            for (uint32_t r = 1; r <= 3; ++r) {
                SCOPED_TRACE(std::to_string(r));
                from->GotoBookmark(TBookmark{r});
                for (const char* target : {"WIDE", "NARROW"})
                    for (const char* source : {"WIDE", "NARROW"}) {
                        const TField& in = from->FieldByName(source);
                        to->Append();
                        TField& out = to->FieldByName(target);
                        out.SetAsString(in.AsString());
                        const std::string expected(out.RawBytes());
                        out.Assign(in);
                        EXPECT_EQ(std::string(out.RawBytes()), expected)
                            << source << " into " << target;
                        to->Cancel();
                    }
            }
}

// Many seeks at once land where FindKey lands, one by one, and leave the
// cursor alone: above 100,000 texts they are shared out over two threads.
TEST(Orders, FindKeyRecNosAgreesWithFindKey) {
    TempDir tmp;
    Table tab(tmp, "STUDENTS", "SSN, C,11,0;NAME, C,10,0;");
    TAdsTable& t = tab.t;
    t.AdsCreateIndex61("", "SSN", "SSN", "", "", ADS_COMPOUND);
    t.AdsCreateIndex61("", "NAME", "NAME", "", "", ADS_COMPOUND);
    const char* const names[] = {"M\xC3\x9CLLER", "MILLER",
                                 "\xC3\x87"
                                 "AKIR",
                                 "SMITH"};
    for (int i = 0; i < 3000; ++i) {
        t.Append();
        t.FieldByName("SSN").SetAsString(std::to_string(800000000 + i * 7 % 2000));
        t.FieldByName("NAME").SetAsString(names[i % 4]);
        t.Post();
    }
    struct Case {
        const char* order;
        std::vector<std::string> texts;
    } cases[] = {
        {"SSN", {}},
        {"NAME",
         {"M\xC3\x9CLLER", "MILLER",
          "\xC3\x87"
          "AKIR",
          "SMITH", "SMITHS", "", "M"}},
    };
    for (int i = 0; i < 120000; ++i)
        cases[0].texts.push_back(std::to_string(800000000 + i % 2500)); // 500 of them missing
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        t.SetIndexName(c.order);
        t.First();
        const uint32_t here = t.RecNo();
        const std::vector<std::string_view> texts(c.texts.begin(), c.texts.end());
        const auto found = t.FindKeyRecNos(texts);
        EXPECT_EQ(t.RecNo(), here);
        ASSERT_EQ(found.size(), texts.size());
        for (size_t i = 0; i<texts.size(); i += c.texts.size()> 100 ? 97 : 1) {
            const bool one = t.FindKey(texts[i]);
            EXPECT_EQ(found[i], one ? t.RecNo() : 0u) << texts[i];
        }
        EXPECT_EQ(std::count(found.begin(), found.end(), 0u),
                  c.texts.size() > 100 ? 120000 / 2500 * 500 : 3);
    }
}

TEST(Orders, RecordsAppendedThroughMakeTheFilesThatRecordsHeldMake) {
    // Slices of records, some marked deleted, appended held and appended
    // through (as the staging table of an export is written): the table
    // and its structural index come out the same, byte for byte.
    const std::vector<size_t> slices = {3, 0, 1, 700, 5};
    std::vector<std::string> recordsOf;
    for (size_t n = 0, all = 0; n < slices.size(); ++n) {
        std::string records;
        for (size_t i = 0; i < slices[n]; ++i, ++all) {
            char record[32];
            std::snprintf(record, sizeof record, "%c%04zuT%04zu20040301%4zu", all % 9 ? ' ' : '*',
                          (all * 7919) % 1000, all % 13, all % 50);
            records.append(record, 22);
        }
        recordsOf.push_back(records);
    }
    TempDir tmp;
    for (const bool through : {false, true}) {
        const std::string name = through ? "THROUGH" : "HELD";
        Table tab(tmp, name, kCodeList, /*exclusive=*/false);
        TAdsTable& t = tab.t;
        for (const char* tag : {"CODE", "NEWCODE"})
            t.AdsCreateIndex61("", tag, tag, "", "", ADS_COMPOUND);
        if (through) t.StartAppendingThrough(709);
        for (const std::string& records : recordsOf) {
            const size_t count = records.size() / 22;
            if (through) {
                t.AppendThrough(records.data(), count);
            } else {
                std::copy(records.begin(), records.end(), t.AppendArea(count));
                t.CommitAppended(count);
            }
        }
        EXPECT_EQ(t.File().recordCount(), 709u);
        EXPECT_EQ(t.File().deletedCount(), 79u);
        if (through) {
            // Records that are not held are not read: an error, never a crash.
            EXPECT_THROW(t.First(), EADSDatabaseError);
            EXPECT_THROW(t.AdsSetFilter("CODE <> \"0000\""), EADSDatabaseError);
            std::string one(22, ' ');
            EXPECT_THROW(t.AppendThrough(one.data(), 1), EADSDatabaseError); // more than announced
        }
        t.Close();
    }
    for (const char* ending : {".dbf", ".cdx"}) {
        SCOPED_TRACE(ending);
        std::string held, through;
        ASSERT_TRUE(kes::os::readFile(tmp.file(std::string("HELD") + ending), held).ok());
        ASSERT_TRUE(kes::os::readFile(tmp.file(std::string("THROUGH") + ending), through).ok());
        EXPECT_EQ(held, through);
    }

    // The table reads back whole once opened again.
    Table again(tmp, "THROUGH", nullptr);
    again.t.SetIndexName("CODE");
    EXPECT_EQ(again.walk().size(), 709u);

    // A tag that no field's bytes make cannot gather its keys in passing.
    Table conditioned(tmp, "COND", kCodeList);
    conditioned.t.AdsCreateIndex61("", "KEPT", "CODE", "INCLUDE", "", ADS_COMPOUND);
    EXPECT_THROW(conditioned.t.StartAppendingThrough(1), EADSDatabaseError);
}

TEST(Orders, RecordsReleasedBeforeTheTagsMakeTheFilesAPackMakes) {
    // A table changed in memory, some records marked deleted, closed after a
    // pack (or without one) and closed after writing and releasing its
    // records: the same table and tags, the tags built from the file.
    for (const bool pack : {true, false}) {
        SCOPED_TRACE(pack ? "packed" : "not packed");
        TempDir tmp;
        for (const char* name : {"KEPT", "RELEASED"}) {
            Table tab(tmp, name);
            TAdsTable& t = tab.t;
            for (const char* tag : {"CODE", "WHEN", "SCORE"})
                t.AdsCreateIndex61("", tag, tag, "", "", ADS_COMPOUND);
            for (int i = 0; i < 3000; ++i)
                tab.add(std::to_string((i * 7919) % 1000), i % 2 == 0,
                        i % 5 ? "2004030" + std::to_string(i % 9 + 1) : "", i % 50);
            char* records = t.RecordsForChange(1, 3000);
            for (int i = 0; i < 3000; i += 3)
                records[static_cast<size_t>(i) * t.File().recordLength()] = '*';
            t.RecordsChanged(1, 3000);
            if (std::string(name) == "KEPT") {
                if (pack) t.AdsPackTable();
            } else {
                t.WriteAndReleaseRecords(pack);
                EXPECT_EQ(t.File().recordCount(), pack ? 2000u : 3000u);
                EXPECT_THROW(t.First(), EADSDatabaseError); // not a read of released records
            }
            t.Close();
        }
        for (const char* ending : {".dbf", ".cdx"}) {
            SCOPED_TRACE(ending);
            std::string kept, released;
            ASSERT_TRUE(kes::os::readFile(tmp.file(std::string("KEPT") + ending), kept).ok());
            ASSERT_TRUE(
                kes::os::readFile(tmp.file(std::string("RELEASED") + ending), released).ok());
            EXPECT_EQ(kept, released);
        }
    }
}
