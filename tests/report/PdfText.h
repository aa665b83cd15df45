// The text of a PDF file as `pdftotext -layout` (poppler-utils) reads it, one
// entry per non-empty line, each line split into its cells where two or more
// blanks stand between them.
#pragma once

#include "support/Programs.h"

#include <sstream>
#include <string>
#include <vector>

namespace reporttest {

using PdfLines = std::vector<std::vector<std::string>>;

inline bool havePdfToText() {
    return !testsupport::findOnPath("pdftotext").empty();
}

inline PdfLines pdfTextLines(const std::string& pdfPath) {
    std::string text, errors;
    testsupport::runProgram({testsupport::findOnPath("pdftotext"), "-layout", pdfPath, "-"}, &text,
                            &errors);
    text += errors;
    PdfLines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\f'))
                ++i;
            if (i >= line.size()) break;
            size_t end = line.find("  ", i);
            if (end == std::string::npos) end = line.size();
            std::string cell = line.substr(i, end - i);
            while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\f'))
                cell.pop_back();
            cells.push_back(cell);
            i = end;
        }
        if (!cells.empty()) lines.push_back(cells);
    }
    return lines;
}

// The comma-delimited report with every optional field, as the text reads.
inline PdfLines commaReportWithEveryField() {
    PdfLines lines = {{"Upload File Format"},
                      {"Filetype: Comma Delimited"},
                      {"Data Element", "Field Name", "Size", "Data Type"}};
    const std::vector<std::vector<std::string>> rows = {
        {"ID", "ID", "9"},
        {"Last Name", "LNAME", "13"},
        {"First Name", "FNAME", "11"},
        {"Middle Initial", "MNAME", "1"},
        {"Birth Date (yyyymmdd)", "BIRTHDATE", "8"},
        {"Test Code", "TESTCODE", "4"},
        {"Test Score", "TESTSCORE", "4"},
        {"Test Date (yyyymmdd)", "DATE", "8"},
        {"Attempted", "ATTEMPT", "3"},
        {"Subscores", "SUBSCORES", "20"},
        {"Purpose and Accommodation", "PANDA", "6"},
        {"Site Code", "SITECODE", "2"},
    };
    for (auto row : rows) {
        row.push_back("Character");
        lines.push_back(row);
    }
    return lines;
}

inline std::string describe(const PdfLines& lines) {
    std::string out;
    for (const auto& line : lines) {
        for (const auto& cell : line)
            out += "[" + cell + "] ";
        out += "\n";
    }
    return out;
}

} // namespace reporttest
