// A report page written as a one-page PDF file, without any toolkit: text only,
// in the standard Helvetica font at 10 points with the Windows-1252 (WinAnsi)
// encoding, which every PDF reader has built in, so no font is embedded. The
// page is US Letter. A character that Windows-1252 lacks prints as "?".
#pragma once

#include "common/ReportSurface.h"

#include <string>

namespace kes {

class PdfReportSurface : public TabStopReportSurface {
  public:
    PdfReportSurface();

    // The whole file: the page drawn so far, with `title` in the document's
    // information.
    std::string Document(const std::string& title) const;
    // Writes Document(title) to `path`, replacing the file only when the new
    // one is complete. Throws std::runtime_error when it cannot.
    void WriteFile(const std::string& path, const std::string& title) const;

  protected:
    double TextWidth(const std::string& text) const override;
    double LineHeight() const override;
    void DrawText(const PlacedText& placed) override;

  private:
    std::string content_; // the page's content stream
};

} // namespace kes
