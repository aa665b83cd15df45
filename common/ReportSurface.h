// The page a report draws on, in the manner of a line printer with tab stops:
// text goes into the next tab stop of the current line, cut to the stop and
// aligned in it; a new line starts again at the first stop. A report is
// written once against ReportSurface and drawn on any page that implements it
// (the preview and the printer through Qt, a PDF file without Qt, a recording
// in tests).
//
// Units are inches; horizontal positions are measured from the left edge of
// the page. The page has margins of 0.5 inch on all four sides.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kes {

enum class TabAlign { Left, Right };

// The operations a report uses. Stops have no border lines and no shading.
class ReportSurface {
  public:
    virtual ~ReportSurface() = default;

    // Start of a stop that begins where the previous stop ends (at the left
    // margin for the first stop).
    static constexpr double kAfterPrevious = -1.0;
    static constexpr int kTabSets = 10; // sets are numbered 1 to kTabSets

    // Removes every current tab stop.
    virtual void ClearTabs() = 0;
    // Adds a stop after the current ones. `start` in inches from the page's
    // left edge, or kAfterPrevious; the text in the stop keeps `marginHundredths`
    // hundredths of an inch from either side of it.
    virtual void SetTab(double start, TabAlign align, double width, int marginHundredths) = 0;
    // Keeps the current stops as set n, or makes set n the current stops.
    // Restoring a set never saved leaves no stops. Throws std::out_of_range for
    // an n outside 1..kTabSets.
    virtual void SaveTabs(int set) = 0;
    virtual void RestoreTabs(int set) = 0;

    virtual double PageWidth() const = 0;
    virtual double PageHeight() const = 0;

    // Prints `text` centred on the horizontal position `x`, on the current line.
    virtual void PrintCenter(const std::string& text, double x) = 0;
    // Goes to the start of the next line; the next PrintTab uses the first stop.
    virtual void NewLine() = 0;
    // Goes to line 1 of the page, at the left margin.
    virtual void Home() = 0;
    // Prints `text` (UTF-8) in the next stop of the current line, aligned as
    // the stop says and cut to the stop's width less its margins. Past the
    // last stop the text goes to the first stop of the next line.
    // Throws std::logic_error when there are no stops.
    virtual void PrintTab(const std::string& text) = 0;
};

// The bookkeeping every page shares: stops, sets, the current line and stop,
// where each text lands and how it is cut. A concrete page adds the font's
// measurements and the drawing.
class TabStopReportSurface : public ReportSurface {
  public:
    static constexpr double kMargin = 0.5;

    struct TabStop {
        double start = 0; // inches from the page's left edge
        double width = 0;
        TabAlign align = TabAlign::Left;
        int marginHundredths = 0;
    };

    // One text as it is placed on the page.
    struct PlacedText {
        int line = 0; // 1 is the first line of the page
        int stop = 0; // 1-based stop of the current set; 0 for centred text
        TabAlign align = TabAlign::Left;
        std::string text; // after cutting to the stop
        double x = 0;     // left edge of the text, inches from the page's left edge
        double top = 0;   // top of the line, inches from the page's top edge
        double width = 0; // of the text, inches
    };

    TabStopReportSurface(double pageWidth, double pageHeight);

    void ClearTabs() override;
    void SetTab(double start, TabAlign align, double width, int marginHundredths) override;
    void SaveTabs(int set) override;
    void RestoreTabs(int set) override;
    double PageWidth() const override { return pageWidth_; }
    double PageHeight() const override { return pageHeight_; }
    void PrintCenter(const std::string& text, double x) override;
    void NewLine() override;
    void Home() override;
    void PrintTab(const std::string& text) override;

    int CurrentLine() const { return line_; }
    const std::vector<TabStop>& Tabs() const { return tabs_; }

  protected:
    // Width of a UTF-8 text in the page's font, in inches.
    virtual double TextWidth(const std::string& text) const = 0;
    // Distance between two lines in the page's font, in inches.
    virtual double LineHeight() const = 0;
    // Called for every cell, an empty one too, and for every centred text.
    virtual void DrawText(const PlacedText& placed) = 0;

  private:
    double lineTop() const;
    std::string cutToWidth(const std::string& text, double width) const;

    double pageWidth_, pageHeight_;
    std::vector<TabStop> tabs_;
    std::array<std::optional<std::vector<TabStop>>, kTabSets> sets_;
    int line_ = 1;
    size_t nextStop_ = 0;
};

} // namespace kes
