// The code tables: creation (also over a stale index), the texts a fill
// writes, the rebuild with its carry-over, the rebuild that cannot set the
// old files aside, Select All / UnSelect and the removal of a row.
#include "settings/core/CodeTables.h"

#include "settings_core_support.h"

#include "common/Paths.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace codetest;
using testsupport::readFile;

// ---------------------------------------------------------------- texts

TEST(CodeTableTexts, MessageAndTestNameFollowTheirRules) {
    const std::string seventy(70, 'P'), sixty(60, 'C');
    struct Case {
        const char* what;
        std::string actual, expected;
    } cases[] = {
        {"placement and comment joined by one blank", PlacementMessage("Math 050  ", "Dev  "),
         "Math 050 Dev"},
        {"empty comment keeps the blank", PlacementMessage("Reading 090", ""), "Reading 090 "},
        {"cut at 110", PlacementMessage(seventy, sixty), seventy + " " + std::string(39, 'C')},
        {"cut counts characters, not bytes",
         PlacementMessage(std::string(108, 'x'), "\xC3\xA9\xC3\xA9"),
         std::string(108, 'x') + " \xC3\xA9"},
        {"capital S: the test alone", TestScoreName("SRD", "Reading Scaled Score", "A"),
         "Reading Scaled Score"},
        {"lower-case s gets the form", TestScoreName("sp", "Speech Sample", "Oral"),
         "Speech Sample Oral"},
        {"other codes get the form", TestScoreName("RD", "Reading  ", "A  "), "Reading A"},
        {"an empty code gets the form", TestScoreName("", "Essay", "B"), "Essay B"},
        {"cut at 22", TestScoreName("ESL", "Test of English as a Second Language", "Form 2"),
         "Test of English as a S"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.what;
}

TEST(CodeTableTexts, PeriodNumberOfAnEntry) {
    EXPECT_EQ(PeriodNumberOfEntry("3. Fall 2006 Placement Testing"), 3);
    EXPECT_EQ(PeriodNumberOfEntry("11. Spring"), 11);
    EXPECT_EQ(PeriodNumberOfEntry("Fall"), 0);
    EXPECT_EQ(PeriodNumberOfEntry(""), 0);
}

// ---------------------------------------------------------------- open

TEST(OpenCodeTable, CreatesAMissingTableAndDeletesAStaleIndexFirst) {
    for (CodeTableKind kind : {CodeTableKind::Placement, CodeTableKind::TestScore}) {
        const CodeTableDesign& design = CodeTableDesignOf(kind);
        SCOPED_TRACE(design.tableName);
        DataDir data;
        // An index left behind by a table that is gone; were it reused, the
        // open would read these bytes as an index.
        testsupport::writeFile(data.file(std::string(design.tableName) + ".cdx"),
                               std::string(1024, 'x'));
        TAdsTable table;
        TestOperator prompt;
        ASSERT_TRUE(OpenCodeTable(table, kind, data.dir(), prompt));
        EXPECT_TRUE(table.Active());
        EXPECT_EQ(table.RecordCount(), 0u);
        EXPECT_EQ(table.IndexName(), "CODE");

        const auto& fields = table.FieldDefs();
        ASSERT_EQ(fields.size(), 4u);
        const char* names[] = {"CODE", "INCLUDE", "NEWCODE", design.textField};
        const char types[] = {'C', 'L', 'C', 'C'};
        const int widths[] = {4, 1, 4, design.textWidth};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(fields[i].name, names[i]);
            EXPECT_EQ(fields[i].type, types[i]);
            EXPECT_EQ(fields[i].length, widths[i]);
        }
        table.Close();
        EXPECT_NE(readFile(data.file(std::string(design.tableName) + ".cdx")),
                  std::string(1024, 'x'));
    }
}

TEST(OpenCodeTable, UsesTheCodeOrderWhenTheIndexExistsAndNaturalOrderOtherwise) {
    DataDir data;
    data.addCodeTables();
    TAdsTable table;
    TestOperator prompt;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, data.dir(), prompt));
    EXPECT_EQ(table.IndexName(), "CODE");
    EXPECT_EQ(table.FieldByName("Code").AsString(), "EN01");
    std::vector<CodeRow> rows = rowsOf(table, "Message");
    EXPECT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows[3].code, "ES01"); // after EN03 in code order, record 11 on disk
    table.Close();

    fs::remove(data.file("KESTEST.cdx"));
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::TestScore, data.dir(), prompt));
    EXPECT_EQ(table.IndexName(), "");
    EXPECT_EQ(table.RecNo(), 1u);
    EXPECT_EQ(table.FieldByName("Code").AsString(), "RD");
    EXPECT_FALSE(fs::exists(data.file("KESTEST.cdx"))) << "an existing table is not re-indexed";
}

// ---------------------------------------------------------------- fill

// The sample code tables were filled by an independent engine from VIRNTP1
// with the same rules; a fill of ours gives the same codes and texts.
TEST(FillCodeTable, GivesTheTextsOfTheSampleTablesWithNothingTicked) {
    for (CodeTableKind kind : {CodeTableKind::Placement, CodeTableKind::TestScore}) {
        const CodeTableDesign& design = CodeTableDesignOf(kind);
        SCOPED_TRACE(design.tableName);
        DataDir data;
        TAdsTable table;
        TestOperator prompt;
        ASSERT_TRUE(OpenCodeTable(table, kind, data.dir(), prompt));
        ASSERT_TRUE(FillCodeTable(table, kind, data.dir(), 1, prompt));
        table.SetIndexName(""); // natural order: the source's order

        const std::string csv = std::string("formats/cdx/") +
                                (kind == CodeTableKind::Placement ? "kesplace" : "kestest") +
                                ".records.csv";
        const testsupport::CsvTable expected = testsupport::readCsvTable(fixture(csv));
        std::vector<CodeRow> rows = rowsOf(table, design.textField);
        ASSERT_EQ(rows.size(), expected.rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const auto& want = expected.rows[i];
            const std::string code(kes::trimRight(want[2]));
            EXPECT_EQ(rows[i].code, code);
            EXPECT_EQ(rows[i].newCode, code);
            EXPECT_FALSE(rows[i].include);
            EXPECT_EQ(rows[i].text, std::string(kes::trimRight(want[5]))) << "row " << i + 1;
        }
    }
}

// ---------------------------------------------------------------- rebuild

TEST(RebuildCodeTable, AnEmptyTableIsFilledWithoutAQuestion) {
    DataDir data;
    TAdsTable table;
    TestOperator prompt;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::TestScore, data.dir(), prompt));
    EXPECT_EQ(RebuildCodeTable(table, CodeTableKind::TestScore, data.dir(), 1, prompt),
              RebuildResult::Filled);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(table.RecordCount(), 11u);
    EXPECT_EQ(table.FieldByName("Code").AsString(), "AL") << "first row in code order";
    EXPECT_FALSE(fs::exists(data.file("KESTEMP.dbf")));
}

TEST(RebuildCodeTable, CancelAtTheQuestionChangesNothing) {
    DataDir data;
    data.addCodeTables();
    TAdsTable table;
    TestOperator prompt;
    prompt.confirmAnswer = false;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, data.dir(), prompt));
    EXPECT_EQ(RebuildCodeTable(table, CodeTableKind::Placement, data.dir(), 3, prompt),
              RebuildResult::Declined);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0],
              "confirm: This routine rebuilds the Placement Code Table based\r\n"
              "on the placement levels in the selected testing period.\r\n"
              "Is this what you want to do?");
    table.Close();
    EXPECT_EQ(readFile(data.file("KESPLACE.DBF")), readFile(fixture("formats/cdx/KESPLACE.DBF")));
    EXPECT_FALSE(fs::exists(data.file("KESTEMP.DBF")));
}

// The sample KESPLACE: MA02 twice (T/M095 first, F/MXXX second), RD03 F/R000,
// ES01 T with a blank new code. VIRNTP1 holds MA02 twice as well; VIRNTP3
// lacks RD03 and adds EN04.
TEST(RebuildCodeTable, CarriesTheChoicesOverByCodeFirstRowWinning) {
    struct Case {
        int period;
        std::map<std::string, std::pair<bool, std::string>> expected; // code -> include, newcode
        size_t rows;
    } cases[] = {
        {1,
         {{"EN01", {true, "E090"}},
          {"MA02", {true, "M095"}},
          {"RD03", {false, "R000"}},
          {"ES01", {true, ""}}},
         12},
        {3,
         {{"EN01", {true, "E090"}},
          {"MA02", {true, "M095"}},
          {"EN04", {false, "EN04"}},
          {"RD03", {false, "absent"}}},
         10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("period " + std::to_string(c.period));
        DataDir data;
        data.addCodeTables();
        TAdsTable table;
        TestOperator prompt;
        ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, data.dir(), prompt));
        // A message edited by the operator is replaced by the source's text.
        table.Edit();
        table.FieldByName("Message").SetAsString("edited by hand");
        table.Post();

        ASSERT_EQ(RebuildCodeTable(table, CodeTableKind::Placement, data.dir(), c.period, prompt),
                  RebuildResult::Rebuilt);
        EXPECT_EQ(prompt.messages.size(), 1u);
        EXPECT_EQ(table.IndexName(), "CODE");
        EXPECT_EQ(table.FieldByName("Code").AsString(), "EN01") << "left at the first row";
        std::vector<CodeRow> rows = rowsOf(table, "Message");
        EXPECT_EQ(rows.size(), c.rows);
        int ma02 = 0;
        for (const CodeRow& row : rows) {
            EXPECT_NE(row.text, "edited by hand");
            auto it = c.expected.find(row.code);
            if (row.code == "MA02") ++ma02;
            if (it == c.expected.end()) continue;
            EXPECT_NE(it->second.second, "absent") << row.code << " should be gone";
            EXPECT_EQ(row.include, it->second.first) << row.code;
            EXPECT_EQ(row.newCode, it->second.second) << row.code;
        }
        EXPECT_EQ(ma02, c.period == 1 ? 2 : 1);
        table.Close();

        // The table it replaced is KESTEMP, the operator's edit included.
        TAdsTable previous;
        previous.DatabaseName = data.dir();
        previous.TableType = ttAdsCDX;
        previous.SetTableName("KESTEMP");
        previous.Open();
        EXPECT_EQ(previous.RecordCount(), 12u);
        EXPECT_EQ(previous.FieldByName("Message").AsString(), "edited by hand");
        previous.Close();
    }
}

TEST(RebuildCodeTable, FromAnEmptyLevelsTableLeavesAnEmptyTableAndKeepsTheOldInKestemp) {
    DataDir data;
    data.addCodeTables();
    fs::create_directory(data.file("VIRNTP5"));
    TAdsTable::AdsCreateTable(data.file("VIRNTP5/LEVELS.DBF"), ttAdsNTX, OEM, 0,
                              "CODE,C,4,0;PLACEMENT,C,70,0;COMMENT,C,60,0;");
    TAdsTable table;
    TestOperator prompt;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, data.dir(), prompt));
    ASSERT_EQ(RebuildCodeTable(table, CodeTableKind::Placement, data.dir(), 5, prompt),
              RebuildResult::Rebuilt);
    EXPECT_EQ(table.RecordCount(), 0u);
    table.Close();
    EXPECT_EQ(readFile(data.file("KESTEMP.DBF")), readFile(fixture("formats/cdx/KESPLACE.DBF")));
    EXPECT_EQ(readFile(data.file("KESTEMP.CDX")), readFile(fixture("formats/cdx/KESPLACE.cdx")));
}

// When the old files cannot be moved aside, the rebuild must not go on: the
// open would find the old table and the fill would append the period's rows
// to it. Here a folder stands where a file of KESTEMP must go, so the rename
// fails as it does when another program holds the table.
TEST(RebuildCodeTable, StopsAndKeepsTheTableWhenTheOldFilesCannotBeMoved) {
    for (const char* blocker : {"KESTEMP.CDX", "KESTEMP.DBF"}) {
        SCOPED_TRACE(blocker);
        DataDir data;
        data.addCodeTables();
        fs::create_directories(data.file(std::string(blocker) + "/held"));
        TAdsTable table;
        TestOperator prompt;
        ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, data.dir(), prompt));
        table.MoveBy(2);
        try {
            RebuildCodeTable(table, CodeTableKind::Placement, data.dir(), 1, prompt);
            ADD_FAILURE() << "the rebuild went on";
        } catch (const CodeTableError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("KESPLACE"), std::string::npos) << text;
            EXPECT_NE(text.find("unchanged"), std::string::npos) << text;
        }
        ASSERT_TRUE(table.Active()) << "the operator still sees the table";
        EXPECT_EQ(table.IndexName(), "CODE");
        EXPECT_EQ(table.RecordCount(), 12u);
        table.Close();
        EXPECT_EQ(readFile(data.file("KESPLACE.DBF")),
                  readFile(fixture("formats/cdx/KESPLACE.DBF")));
        EXPECT_EQ(readFile(data.file("KESPLACE.cdx")),
                  readFile(fixture("formats/cdx/KESPLACE.cdx")));
    }
}

// ---------------------------------------------------------------- rows

TEST(SetIncludeOnEveryRow, TicksOrUnticksAllAndKeepsTheCurrentRow) {
    DataDir data;
    data.addCodeTables();
    TAdsTable table;
    TestOperator prompt;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::TestScore, data.dir(), prompt));
    table.MoveBy(4);
    const uint32_t current = table.RecNo();
    int dataSetChanges = 0, others = 0;
    table.AddListener(
        [&](TableEvent e) { (e == TableEvent::DataSetChanged ? dataSetChanges : others)++; });
    for (bool include : {false, true}) {
        dataSetChanges = others = 0;
        SetIncludeOnEveryRow(table, include);
        EXPECT_EQ(table.RecNo(), current);
        EXPECT_EQ(dataSetChanges, 1) << "the grid is repainted once";
        EXPECT_EQ(others, 0);
        for (const CodeRow& row : rowsOf(table, "Test"))
            EXPECT_EQ(row.include, include) << row.code;
        table.MoveBy(4);
    }
}

TEST(DeleteCodeRow, RemovesTheRowForGoodAndMovesToItsSuccessor) {
    DataDir data;
    data.addCodeTables();
    TAdsTable table;
    TestOperator prompt;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, data.dir(), prompt));
    ASSERT_TRUE(table.FindKey("MA02"));
    ASSERT_EQ(table.FieldByName("NewCode").AsString(), "M095");
    ASSERT_TRUE(DeleteCodeRow(table, CodeTableKind::Placement, data.dir(), prompt));

    EXPECT_EQ(table.RecordCount(), 11u);
    EXPECT_EQ(table.IndexName(), "CODE");
    EXPECT_EQ(table.FieldByName("Code").AsString(), "MA02");
    EXPECT_EQ(table.FieldByName("NewCode").AsString(), "MXXX");
    ASSERT_TRUE(table.FindKey("MA02"));
    EXPECT_EQ(table.FieldByName("NewCode").AsString(), "MXXX") << "the gathering finds this one";
    EXPECT_FALSE(table.Exclusive);

    table.Last();
    ASSERT_TRUE(DeleteCodeRow(table, CodeTableKind::Placement, data.dir(), prompt));
    EXPECT_EQ(table.RecordCount(), 10u);
    EXPECT_NE(table.RecNo(), 0u);
    EXPECT_EQ(table.FieldByName("Code").AsString(), "RD02") << "the last row left";
}

} // namespace
