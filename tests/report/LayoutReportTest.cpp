// The upload layout report drawn on a recording page: every line with every
// cell, for the file types and optional fields that change it, and its
// agreement with the field list the export writer builds the upload file from.
#include "tests/report/RecordingSurface.h"

#include "common/Text.h"
#include "export/core/ExportWriter.h"
#include "settings/core/LayoutReport.h"

#include <gtest/gtest.h>

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

// The report describes the file the export writer makes: the same fields in
// the same order with the same widths, whatever optional fields are chosen.
TEST(LayoutReportTest, RowsAgreeWithTheUploadFieldList) {
    for (int combination = 0; combination < 16; ++combination) {
        ExportOptions options;
        options.IncludeAttempted = combination & 1;
        options.IncludeSubscores = combination & 2;
        options.IncludePandA = combination & 4;
        options.IncludeSiteCode = combination & 8;
        LayoutReportChoices choices{0, options.IncludeAttempted, options.IncludeSubscores,
                                    options.IncludePandA, options.IncludeSiteCode};
        std::vector<LayoutReportRow> rows = LayoutReportRows(choices);

        std::vector<std::pair<std::string, std::string>> fields; // name, width
        std::istringstream list(StagingFieldList(options));
        for (std::string field; std::getline(list, field, ';');) {
            if (field.empty()) continue;
            std::istringstream parts(field);
            std::string name, type, width;
            std::getline(parts, name, ',');
            std::getline(parts, type, ',');
            std::getline(parts, width, ',');
            fields.emplace_back(kes::toUpperAscii(name), width);
        }
        ASSERT_EQ(rows.size(), fields.size()) << StagingFieldList(options);
        int position = 1;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].FieldName, fields[i].first);
            EXPECT_EQ(rows[i].Size, fields[i].second) << rows[i].FieldName;
            const int width = std::stoi(rows[i].Size);
            EXPECT_EQ(rows[i].Location,
                      std::to_string(position) + "-" + std::to_string(position + width - 1));
            position += width;
        }
    }
}

} // namespace
