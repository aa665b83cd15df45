// A report page that records what lands where instead of drawing it. Every
// character is 0.07 inch wide (about the width of a 10-point sans-serif
// font) and a line is 1/6 inch high.
#pragma once

#include "common/ReportSurface.h"

#include <map>
#include <string>
#include <vector>

namespace reporttest {

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

} // namespace reporttest
