// The upload layout report drawn on a recording page: every line with every
// cell, for the file types and optional fields that change it, and its
// agreement with a Fixed line that the export writer writes.
#include "report_support.h"

#include "common/Date.h"
#include "export/core/ExportWriter.h"
#include "prep/core/WorkTable.h"
#include "settings/core/LayoutReport.h"
#include "support/Files.h"
#include "support/Manifest.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using kes::TabAlign;
using reporttest::RecordingSurface;

namespace {

using Page = std::map<int, std::vector<std::string>>;
using Cells = std::vector<std::string>;

const Cells kFixedRows[] = {
    {"ID", "ID", "9", "1-9"},
    {"Last Name", "LNAME", "13", "10-22"},
    {"First Name", "FNAME", "11", "23-33"},
    {"Middle Initial", "MNAME", "1", "34-34"},
    {"Birth Date (yyyymmdd)", "BIRTHDATE", "8", "35-42"},
    {"Test Code", "TESTCODE", "4", "43-46"},
    {"Test Score", "TESTSCORE", "4", "47-50"},
    {"Test Date (yyyymmdd)", "DATE", "8", "51-58"},
};

// The page: title, file-type line, headings, then the rows from line 7. In a
// delimited layout each row's Location gives way to an empty cell and
// "Character".
Page expectedPage(const std::string& fileType, bool fixed, const std::vector<Cells>& optional) {
    Page page;
    page[1] = {"Upload File Format"};
    page[2] = {"Filetype: " + fileType};
    page[5] = fixed ? Cells{"Data Element", "Field Name", "Size", "Location"}
                    : Cells{"Data Element", "Field Name", "Size", "", "Data Type"};
    std::vector<Cells> rows(std::begin(kFixedRows), std::end(kFixedRows));
    rows.insert(rows.end(), optional.begin(), optional.end());
    int line = 7;
    for (Cells row : rows) {
        if (!fixed) {
            row.back() = "";
            row.push_back("Character");
        }
        page[line++] = row;
    }
    return page;
}

std::string describe(const Page& page) {
    std::ostringstream out;
    for (const auto& [line, cells] : page) {
        out << line << ":";
        for (const auto& c : cells)
            out << " [" << c << "]";
        out << "\n";
    }
    return out.str();
}

TEST(LayoutReportTest, EveryLineForTheFileTypesAndOptionalFields) {
    const Cells attempted = {"Attempted", "ATTEMPT", "3", ""};
    struct Case {
        const char* name;
        LayoutReportChoices choices;
        Page expected;
    };
    const Case cases[] = {
        {"fixed, no optional field",
         {0, false, false, false, false},
         expectedPage("Fixed", true, {})},
        {"comma, every optional field",
         {2, true, true, true, true},
         expectedPage("Comma Delimited", false,
                      {attempted,
                       {"Subscores", "SUBSCORES", "20", ""},
                       {"Purpose and Accommodation", "PANDA", "6", ""},
                       {"Site Code", "SITECODE", "2", ""}})},
        {"fixed, subscores and site code",
         {0, false, true, false, true},
         expectedPage(
             "Fixed", true,
             {{"Subscores", "SUBSCORES", "20", "59-78"}, {"Site Code", "SITECODE", "2", "79-80"}})},
        {"fixed, every optional field",
         {0, true, true, true, true},
         expectedPage("Fixed", true,
                      {{"Attempted", "ATTEMPT", "3", "59-61"},
                       {"Subscores", "SUBSCORES", "20", "62-81"},
                       {"Purpose and Accommodation", "PANDA", "6", "82-87"},
                       {"Site Code", "SITECODE", "2", "88-89"}})},
        {"fixed, site code only",
         {0, false, false, false, true},
         expectedPage("Fixed", true, {{"Site Code", "SITECODE", "2", "59-60"}})},
        {"pipe, attempted",
         {1, true, false, false, false},
         expectedPage("Pipe Delimited", false, {attempted})},
        {"tab", {3, false, false, false, false}, expectedPage("Tab Delimited", false, {})},
        {"no file type", {-1, false, false, false, false}, expectedPage("", false, {})},
        {"file type out of range", {4, false, false, false, false}, expectedPage("", false, {})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSurface page;
        ReportSystem1Print(page, c.choices);
        EXPECT_EQ(describe(page.lines()), describe(c.expected));
    }
}

TEST(LayoutReportTest, TitleIsCentredAndCellsUseTheStopsOfTheirLayout) {
    struct Case {
        int fileFormat;
        std::vector<double> starts;
        std::vector<TabAlign> aligns;
    };
    const Case cases[] = {
        {0,
         {0.5, 3.0, 4.0, 4.95},
         {TabAlign::Left, TabAlign::Left, TabAlign::Right, TabAlign::Right}},
        {2,
         {0.5, 3.0, 4.0, 4.95, 5.45},
         {TabAlign::Left, TabAlign::Left, TabAlign::Right, TabAlign::Left, TabAlign::Left}},
    };
    for (const Case& c : cases) {
        RecordingSurface page;
        ReportSystem1Print(page, {c.fileFormat, false, false, false, false});
        const auto& title = page.placed.at(0);
        EXPECT_EQ(title.stop, 0);
        EXPECT_NEAR(title.x + title.width / 2, 4.25, 1e-9);
        for (const auto& cell : page.placed) {
            if (cell.stop == 0 || cell.line == 2) continue;
            SCOPED_TRACE(cell.text);
            const size_t i = static_cast<size_t>(cell.stop - 1);
            ASSERT_LT(i, c.starts.size());
            EXPECT_EQ(cell.align, c.aligns[i]);
            if (cell.align == TabAlign::Left) {
                EXPECT_NEAR(cell.x, c.starts[i] + 0.05, 1e-9);
            }
        }
        // The file-type line uses the first stop of the fixed layout's set.
        const auto& fileType = page.placed.at(1);
        EXPECT_EQ(fileType.line, 2);
        EXPECT_NEAR(fileType.x, 0.55, 1e-9);
    }
    // "Size" and a Location end at the inner edge of their right-aligned stops.
    RecordingSurface fixed;
    ReportSystem1Print(fixed, {0, false, false, false, false});
    for (const auto& cell : fixed.placed)
        if (cell.line >= 5 && (cell.stop == 3 || cell.stop == 4)) {
            EXPECT_NEAR(cell.x + cell.width, cell.stop == 3 ? 4.9 : 5.9, 1e-9) << cell.text;
        }
}

// The report describes the file the export writer makes: each row's Location
// cuts that field's value out of a Fixed line the writer wrote, and the line
// ends where the last row does, whatever optional fields are chosen.
TEST(LayoutReportTest, RowsLocateTheFieldsOfAWrittenFixedLine) {
    testsupport::TempDir dir;
    {
        TAdsTable work;
        SilentOperator quiet;
        ASSERT_TRUE(CreateWorkTable(work, dir.dir(), quiet));
        work.Append();
        const std::pair<const char*, const char*> texts[] = {
            {"ID", "123456789"},      {"LNAME", "LASTNAMEABCDE"}, {"FNAME", "FIRSTNAMEXY"},
            {"MNAME", "M"},           {"TESTCODE", "T123"},       {"TESTSCORE", "0456"},
            {"GRPNUMBER", "A1B2C3D"}, {"SITECODE", "KC"},         {"SSN", "123-45-6789"}};
        for (const auto& [field, text] : texts)
            work.FieldByName(field).SetAsString(text);
        work.FieldByName("BIRTHDATE").SetAsDateTime(*kes::Date::fromYmd(1974, 1, 2));
        work.FieldByName("DATE").SetAsDateTime(*kes::Date::fromYmd(2005, 9, 1));
        work.FieldByName("ATTEMPT").SetAsInteger(12);
        for (int i = 1; i <= 10; ++i)
            work.FieldByName("SS" + std::to_string(i)).SetAsInteger(i);
        work.Post();
        work.Close();
        work.Exclusive = false;
    }
    // What each field of the upload line holds for that record.
    const std::map<std::string, std::string> values = {
        {"ID", "123456789"},       {"LNAME", "LASTNAMEABCDE"},
        {"FNAME", "FIRSTNAMEXY"},  {"MNAME", "M"},
        {"BIRTHDATE", "19740102"}, {"TESTCODE", "T123"},
        {"TESTSCORE", "0456"},     {"DATE", "20050901"},
        {"ATTEMPT", "012"},        {"SUBSCORES", "01020304050607080910"},
        {"PANDA", "A1B2C3"},       {"SITECODE", "KC"}};

    for (int combination = 0; combination < 16; ++combination) {
        const LayoutReportChoices choices{0, (combination & 1) != 0, (combination & 2) != 0,
                                          (combination & 4) != 0, (combination & 8) != 0};
        SCOPED_TRACE(combination);
        ExportOptions options;
        options.DataDir = dir.dir();
        options.FileFormat = 0;
        options.IncludeAttempted = choices.IncludeAttempted;
        options.IncludeSubscores = choices.IncludeSubscores;
        options.IncludePandA = choices.IncludePandA;
        options.IncludeSiteCode = choices.IncludeSiteCode;
        options.UploadFile = dir.dir() + "upload.asc";
        TAdsTable work;
        SilentOperator quiet;
        ASSERT_TRUE(OpenWorkTable(work, dir.dir(), quiet));
        TExportWriter writer;
        ASSERT_EQ(writer.BuildExportFile(work, SelectAllInOrder(work), options, quiet),
                  ExportOutcome::Prepared)
            << writer.LastFailure();
        work.Close();
        std::string line = testsupport::readFile(options.UploadFile);
        ASSERT_GE(line.size(), 2u);
        ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
        line.resize(line.size() - 2);

        size_t end = 0;
        for (const LayoutReportRow& row : LayoutReportRows(choices)) {
            SCOPED_TRACE(row.FieldName);
            const size_t dash = row.Location.find('-');
            ASSERT_NE(dash, std::string::npos) << row.Location;
            const size_t first = std::stoul(row.Location.substr(0, dash));
            const size_t last = std::stoul(row.Location.substr(dash + 1));
            EXPECT_EQ(std::to_string(last - first + 1), row.Size);
            ASSERT_LE(last, line.size()) << line;
            ASSERT_TRUE(values.count(row.FieldName));
            EXPECT_EQ(line.substr(first - 1, last - first + 1), values.at(row.FieldName)) << line;
            end = last;
        }
        EXPECT_EQ(end, line.size()) << "the line ends with the last field: " << line;
    }
}

} // namespace
