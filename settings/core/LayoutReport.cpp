#include "settings/core/LayoutReport.h"

using kes::ReportSurface;
using kes::TabAlign;

namespace {

constexpr int kStopMargin = 5; // hundredths of an inch on either side of a cell
constexpr int kFixedSet = 1;   // the file-type line and the fixed layout
constexpr int kDelimitedSet = 2;

// The fields every upload line carries, with their places in a fixed-layout line.
const LayoutReportRow kFixedRows[] = {
    {"ID", "ID", "9", "1-9"},
    {"Last Name", "LNAME", "13", "10-22"},
    {"First Name", "FNAME", "11", "23-33"},
    {"Middle Initial", "MNAME", "1", "34-34"},
    {"Birth Date (yyyymmdd)", "BIRTHDATE", "8", "35-42"},
    {"Test Code", "TESTCODE", "4", "43-46"},
    {"Test Score", "TESTSCORE", "4", "47-50"},
    {"Test Date (yyyymmdd)", "DATE", "8", "51-58"},
};
constexpr int kFirstOptionalPosition = 59;

struct OptionalField {
    bool LayoutReportChoices::*include;
    const char* dataElement;
    const char* fieldName;
    int size;
};
const OptionalField kOptionalFields[] = {
    {&LayoutReportChoices::IncludeAttempted, "Attempted", "ATTEMPT", 3},
    {&LayoutReportChoices::IncludeSubscores, "Subscores", "SUBSCORES", 20},
    {&LayoutReportChoices::IncludePandA, "Purpose and Accommodation", "PANDA", 6},
    {&LayoutReportChoices::IncludeSiteCode, "Site Code", "SITECODE", 2},
};

bool isFixed(const LayoutReportChoices& choices) {
    return choices.FileFormat == 0;
}

} // namespace

std::string PrintedFileTypeName(int fileFormat) {
    switch (fileFormat) {
    case 0:
        return "Fixed";
    case 1:
        return "Pipe Delimited";
    case 2:
        return "Comma Delimited";
    case 3:
        return "Tab Delimited";
    default:
        return "";
    }
}

std::vector<LayoutReportRow> LayoutReportRows(const LayoutReportChoices& choices) {
    std::vector<LayoutReportRow> rows(std::begin(kFixedRows), std::end(kFixedRows));
    int position = kFirstOptionalPosition;
    for (const OptionalField& field : kOptionalFields) {
        if (!(choices.*field.include)) continue;
        rows.push_back(
            {field.dataElement, field.fieldName, std::to_string(field.size),
             std::to_string(position) + "-" + std::to_string(position + field.size - 1)});
        position += field.size;
    }
    return rows;
}

void ReportSystem1Print(ReportSurface& surface, const LayoutReportChoices& choices) {
    surface.ClearTabs();
    surface.SetTab(0.5, TabAlign::Left, 2.5, kStopMargin);
    surface.SetTab(ReportSurface::kAfterPrevious, TabAlign::Left, 1.0, kStopMargin);
    surface.SetTab(ReportSurface::kAfterPrevious, TabAlign::Right, 0.95, kStopMargin);
    surface.SetTab(ReportSurface::kAfterPrevious, TabAlign::Right, 1.0, kStopMargin);
    surface.SaveTabs(kFixedSet);

    surface.ClearTabs();
    surface.SetTab(0.5, TabAlign::Left, 2.5, kStopMargin);
    surface.SetTab(ReportSurface::kAfterPrevious, TabAlign::Left, 1.0, kStopMargin);
    surface.SetTab(ReportSurface::kAfterPrevious, TabAlign::Right, 0.95, kStopMargin);
    surface.SetTab(ReportSurface::kAfterPrevious, TabAlign::Left, 0.5, kStopMargin);
    surface.SetTab(ReportSurface::kAfterPrevious, TabAlign::Left, 1.0, kStopMargin);
    surface.SaveTabs(kDelimitedSet);

    surface.PrintCenter(kLayoutReportTitle, surface.PageWidth() / 2);

    // The file-type line is the page's second line, directly under the title.
    surface.NewLine();
    surface.NewLine();
    surface.Home();
    surface.RestoreTabs(kFixedSet);
    surface.NewLine();
    surface.PrintTab("Filetype: " + PrintedFileTypeName(choices.FileFormat));

    // Headings on line 5.
    surface.NewLine();
    surface.NewLine();
    surface.NewLine();
    const bool fixed = isFixed(choices);
    surface.RestoreTabs(fixed ? kFixedSet : kDelimitedSet);
    surface.PrintTab("Data Element");
    surface.PrintTab("Field Name");
    surface.PrintTab("Size");
    if (fixed) {
        surface.PrintTab("Location");
    } else {
        surface.PrintTab("");
        surface.PrintTab("Data Type");
    }

    // The rows from line 7, one a line.
    surface.NewLine();
    surface.NewLine();
    for (const LayoutReportRow& row : LayoutReportRows(choices)) {
        surface.PrintTab(row.DataElement);
        surface.PrintTab(row.FieldName);
        surface.PrintTab(row.Size);
        if (fixed) {
            surface.PrintTab(row.Location);
        } else {
            surface.PrintTab("");
            surface.PrintTab("Character");
        }
        surface.NewLine();
    }
}
