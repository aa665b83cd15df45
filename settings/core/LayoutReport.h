// The upload layout report: one page, titled "Upload File Format", that lists
// the fields of the upload file row by row for a file type and the optional
// fields chosen, with their sizes and, for the fixed layout, their positions
// in the line. It reads no table; what it prints must agree with the field
// list the export writer produces.
#pragma once

#include "common/ReportSurface.h"

#include <string>
#include <vector>

// The choices the report describes: the file type (0 Fixed Format, 1 Pipe
// Delimited, 2 Comma Delimited, 3 Tab Delimited; any other value is none) and
// the four optional fields.
struct LayoutReportChoices {
    int FileFormat = 0;
    bool IncludeAttempted = false;
    bool IncludeSubscores = false;
    bool IncludePandA = false;
    bool IncludeSiteCode = false;
};

// The file type as the report names it: "Fixed", "Pipe Delimited", "Comma
// Delimited", "Tab Delimited", and an empty text for any other index.
std::string PrintedFileTypeName(int fileFormat);

struct LayoutReportRow {
    std::string DataElement;
    std::string FieldName;
    std::string Size;
    std::string Location; // "first-last" position in a fixed-layout line
};

// The report's rows in order: the eight fields always present, then the
// optional ones chosen, each placed right after the previous one.
std::vector<LayoutReportRow> LayoutReportRows(const LayoutReportChoices& choices);

// Draws the report on `surface`, starting on line 1 of an empty page.
void ReportSystem1Print(kes::ReportSurface& surface, const LayoutReportChoices& choices);

// The report's fixed texts and settings.
inline constexpr const char* kLayoutReportTitle = "Upload File Format";
inline constexpr const char* kLayoutPreviewTitle = "Response File Format";
inline constexpr const char* kReportStatusTitle = "Report Status";
inline constexpr const char* kReportGeneratingText = "Generating page %p";
inline constexpr const char* kReportPrintingText = "Printing page %p";
inline constexpr const char* kReportJobTitle = "ReportPrinter Report";
