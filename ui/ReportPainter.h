// The report page drawn with QPainter: the preview, the printer and PDF files.
// The painter's origin must be the top left corner of the paper.
#pragma once

#include "common/ReportSurface.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QSizeF>

#include <functional>

namespace ui {

// Draws one report page on a surface.
using ReportDrawing = std::function<void(kes::ReportSurface&)>;

// The font of every report: no report sets its own.
QFont reportFont();

class PainterReportSurface : public kes::TabStopReportSurface {
  public:
    // `pageInches`: the paper's size.
    PainterReportSurface(QPainter& painter, QSizeF pageInches);

  protected:
    double TextWidth(const std::string& text) const override;
    double LineHeight() const override;
    void DrawText(const PlacedText& placed) override;

  private:
    QPainter& painter_;
    QFont font_;
    QFontMetricsF metrics_;
    double dpiX_, dpiY_;
};

// Draws `drawing` with `painter` on a page of `pageInches`.
void paintReportPage(QPainter& painter, QSizeF pageInches, const ReportDrawing& drawing);

} // namespace ui
