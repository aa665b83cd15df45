#include "common/PdfReportSurface.h"

#include "common/CodePage.h"
#include "os/Os.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace kes {

namespace {

constexpr double kPointsPerInch = 72;
constexpr double kPageWidth = 8.5; // US Letter, inches
constexpr double kPageHeight = 11;
constexpr double kFontSize = 10; // points
constexpr double kLineHeight = 1.2 * kFontSize / kPointsPerInch;
constexpr double kAscent = 0.718 * kFontSize; // Helvetica's ascender, points

// Helvetica's advance widths in thousandths of the font size for the
// characters 32 to 126; the rest of Windows-1252 is taken as an average letter.
constexpr int kHelveticaWidths[95] = {
    278, 278, 355, 556, 556, 889, 667,  191, 333, 333, 389, 584, 278, 333, 278, 278, // space - /
    556, 556, 556, 556, 556, 556, 556,  556, 556, 556,                               // 0 - 9
    278, 278, 584, 584, 584, 556, 1015,                                              // : - @
    667, 667, 722, 722, 667, 611, 778,  722, 278, 500, 667, 556, 833,                // A - M
    722, 778, 667, 778, 722, 667, 611,  722, 667, 944, 667, 667, 611,                // N - Z
    278, 278, 278, 469, 556, 333,                                                    // [ - `
    556, 556, 500, 556, 556, 278, 556,  556, 222, 222, 500, 222, 833,                // a - m
    556, 556, 556, 556, 333, 500, 278,  556, 500, 722, 500, 500, 500,                // n - z
    334, 260, 334, 584,                                                              // { - ~
};
constexpr int kOtherWidth = 556;

int widthOf(unsigned char c) {
    return c >= 32 && c <= 126 ? kHelveticaWidths[c - 32] : kOtherWidth;
}

std::string number(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", value);
    return buf;
}

// A PDF literal string: the bytes with "\", "(" and ")" escaped.
std::string literal(const std::string& bytes) {
    std::string out = "(";
    for (char c : bytes) {
        if (c == '\\' || c == '(' || c == ')') out += '\\';
        out += c;
    }
    return out + ")";
}

} // namespace

PdfReportSurface::PdfReportSurface() : TabStopReportSurface(kPageWidth, kPageHeight) {}

double PdfReportSurface::TextWidth(const std::string& text) const {
    int thousandths = 0;
    for (unsigned char c : fromUtf8(text, CodePage::Windows1252))
        thousandths += widthOf(c);
    return thousandths * kFontSize / 1000.0 / kPointsPerInch;
}

double PdfReportSurface::LineHeight() const {
    return kLineHeight;
}

void PdfReportSurface::DrawText(const PlacedText& placed) {
    if (placed.text.empty()) return;
    // PDF measures from the bottom left corner, in points.
    const double x = placed.x * kPointsPerInch;
    const double baseline = (kPageHeight - placed.top) * kPointsPerInch - kAscent;
    content_ += "BT /F1 " + number(kFontSize) + " Tf " + number(x) + " " + number(baseline) +
                " Td " + literal(fromUtf8(placed.text, CodePage::Windows1252)) + " Tj ET\n";
}

std::string PdfReportSurface::Document(const std::string& title) const {
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(kPageWidth * kPointsPerInch) + " " +
            number(kPageHeight * kPointsPerInch) +
            "] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Length " + std::to_string(content_.size()) + " >>\nstream\n" + content_ + "endstream",
        "<< /Title " + literal(fromUtf8(title, CodePage::Windows1252)) + " /Producer (KesPrep) >>",
    };
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                      static_cast<unsigned long long>(offset));
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R /Info 6 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

void PdfReportSurface::WriteFile(const std::string& path, const std::string& title) const {
    // Written whole beside the file under a name of this run's own, then put
    // in its place: a file of the same name with ".tmp" is somebody else's.
    const os::Status written = os::writeFileReplacing(path, Document(title));
    if (!written.ok())
        throw std::runtime_error("Unable to write to " + path + ": " + written.reason());
}

} // namespace kes
