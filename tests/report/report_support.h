// Helpers of the report tests: a report page that records what lands where
// instead of drawing it, and the text of a PDF file as `pdftotext -layout`
// (poppler-utils) reads it, one entry per non-empty line, each line split into
// its cells where two or more blanks stand between them.
#pragma once

#include "common/ReportSurface.h"
#include "os/Os.h"
#include "support/Programs.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace reporttest {

// Every character is 0.07 inch wide (about the width of a 10-point
// sans-serif font) and a line is 1/6 inch high.
class RecordingSurface : public kes::TabStopReportSurface {
  public:
    static constexpr double kCharWidth = 0.07;

    RecordingSurface() : TabStopReportSurface(8.5, 11) {}

    std::vector<PlacedText> placed;

    // The texts of each line, stops in order; centred text as stop 0.
    std::map<int, std::vector<std::string>> lines() const {
        std::map<int, std::vector<std::string>> byLine;
        for (const PlacedText& p : placed)
            byLine[p.line].push_back(p.text);
        return byLine;
    }

  protected:
    double TextWidth(const std::string& text) const override {
        size_t characters = 0;
        for (unsigned char c : text)
            if ((c & 0xC0) != 0x80) ++characters;
        return static_cast<double>(characters) * kCharWidth;
    }
    double LineHeight() const override { return 1.0 / 6; }
    void DrawText(const PlacedText& p) override { placed.push_back(p); }
};

using PdfLines = std::vector<std::vector<std::string>>;

// The converter the build found (under Wine, the build machine's own, which
// Wine starts as it is), else the one on the PATH.
inline std::string pdfToText() {
#ifdef KES_PDFTOTEXT
    if (kes::os::fileKind(KES_PDFTOTEXT) == kes::os::FileKind::Regular) return KES_PDFTOTEXT;
#endif
    return testsupport::findOnPath("pdftotext");
}

inline bool havePdfToText() {
    return !pdfToText().empty();
}

#ifdef _WIN32
// Under Wine the converter is the build machine's own program. Wine starts it
// but cannot wait for it, and it reads Unix paths. So the PDF file goes into
// the working folder, which lies on Wine's drive Z: (the root of the Unix file
// system), the converter writes the text beside it under a temporary name
// that a rename makes final, and the test waits for that name.
inline std::string textThroughTheBuildMachine(const std::string& pdfPath, std::string& errors) {
    const std::filesystem::path here = std::filesystem::current_path();
    const std::string hereText = here.string();
    if (hereText.size() < 2 || (hereText[0] != 'Z' && hereText[0] != 'z') || hereText[1] != ':') {
        errors = "the working folder " + hereText + " is not on Wine's drive Z:";
        return {};
    }
    const std::string stem = "kes-pdftotext-" + std::to_string(kes::os::processId());
    const std::filesystem::path pdf = here / (stem + ".pdf"), text = here / (stem + ".txt");
    std::filesystem::remove(text);
    if (!kes::os::copyFileReplacing(pdfPath, pdf.string()).ok()) {
        errors = "cannot copy " + pdfPath;
        return {};
    }
    auto unixPath = [](const std::filesystem::path& path) {
        std::string p = path.string().substr(2);
        for (char& c : p)
            if (c == '\\') c = '/';
        return "'" + p + "'";
    };
    std::string converter = KES_PDFTOTEXT;
    converter = unixPath(converter);
    const std::string command = converter + " -layout " + unixPath(pdf) + " " + unixPath(text) +
                                ".part && mv " + unixPath(text) + ".part " + unixPath(text);
    testsupport::runProgram({"Z:\\bin\\sh", "-c", command}, nullptr, &errors);
    std::string out;
    for (int i = 0; i < 300; ++i) {
        if (kes::os::readFile(text.string(), out).ok()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::filesystem::remove(pdf);
    std::filesystem::remove(text);
    return out;
}
#endif

inline PdfLines pdfTextLines(const std::string& pdfPath) {
    std::string text, errors;
#ifdef _WIN32
    text = textThroughTheBuildMachine(pdfPath, errors);
#else
    testsupport::runProgram({pdfToText(), "-layout", pdfPath, "-"}, &text, &errors);
#endif
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
