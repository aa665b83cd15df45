#include "common/ReportSurface.h"

#include <stdexcept>

namespace kes {

namespace {

size_t setIndex(int set) {
    if (set < 1 || set > ReportSurface::kTabSets)
        throw std::out_of_range("tab set " + std::to_string(set) + " is not between 1 and " +
                                std::to_string(ReportSurface::kTabSets));
    return static_cast<size_t>(set - 1);
}

// Length of the UTF-8 sequence that starts at s[i] (a stray byte counts as one).
size_t sequenceLength(const std::string& s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    if (i + n > s.size()) return 1;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}

} // namespace

TabStopReportSurface::TabStopReportSurface(double pageWidth, double pageHeight)
    : pageWidth_(pageWidth), pageHeight_(pageHeight) {}

void TabStopReportSurface::ClearTabs() {
    tabs_.clear();
    nextStop_ = 0;
}

void TabStopReportSurface::SetTab(double start, TabAlign align, double width,
                                  int marginHundredths) {
    TabStop stop;
    if (start == kAfterPrevious)
        stop.start = tabs_.empty() ? kMargin : tabs_.back().start + tabs_.back().width;
    else
        stop.start = start;
    stop.width = width < 0 ? 0 : width;
    stop.align = align;
    stop.marginHundredths = marginHundredths < 0 ? 0 : marginHundredths;
    tabs_.push_back(stop);
}

void TabStopReportSurface::SaveTabs(int set) {
    sets_[setIndex(set)] = tabs_;
}

void TabStopReportSurface::RestoreTabs(int set) {
    const auto& saved = sets_[setIndex(set)];
    tabs_ = saved ? *saved : std::vector<TabStop>{};
    nextStop_ = 0;
}

double TabStopReportSurface::lineTop() const {
    return kMargin + (line_ - 1) * LineHeight();
}

void TabStopReportSurface::PrintCenter(const std::string& text, double x) {
    PlacedText placed;
    placed.line = line_;
    placed.text = text;
    placed.width = TextWidth(text);
    placed.x = x - placed.width / 2;
    placed.top = lineTop();
    DrawText(placed);
}

void TabStopReportSurface::NewLine() {
    ++line_;
    nextStop_ = 0;
}

void TabStopReportSurface::Home() {
    line_ = 1;
    nextStop_ = 0;
}

std::string TabStopReportSurface::cutToWidth(const std::string& text, double width) const {
    if (TextWidth(text) <= width) return text;
    // Whole characters only, never half of a multi-byte one.
    std::vector<size_t> ends;
    for (size_t i = 0; i < text.size(); i += sequenceLength(text, i))
        ends.push_back(i + sequenceLength(text, i));
    size_t lo = 0, hi = ends.size(); // the longest prefix that fits has lo characters
    while (lo < hi) {
        size_t mid = (lo + hi + 1) / 2;
        if (TextWidth(text.substr(0, ends[mid - 1])) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo == 0 ? std::string() : text.substr(0, ends[lo - 1]);
}

void TabStopReportSurface::PrintTab(const std::string& text) {
    if (tabs_.empty()) throw std::logic_error("a text is printed in a tab stop, but none is set");
    if (nextStop_ >= tabs_.size()) NewLine();
    const TabStop& stop = tabs_[nextStop_];
    const double margin = stop.marginHundredths / 100.0;
    const double room = stop.width - 2 * margin;

    PlacedText placed;
    placed.line = line_;
    placed.stop = static_cast<int>(nextStop_) + 1;
    placed.align = stop.align;
    placed.text = room > 0 ? cutToWidth(text, room) : std::string();
    placed.width = TextWidth(placed.text);
    placed.x = stop.align == TabAlign::Left ? stop.start + margin
                                            : stop.start + stop.width - margin - placed.width;
    placed.top = lineTop();
    ++nextStop_;
    DrawText(placed); // an empty cell too: the page may draw nothing for it
}

} // namespace kes
