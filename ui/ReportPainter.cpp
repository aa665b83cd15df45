#include "ui/ReportPainter.h"

#include <QPaintDevice>

namespace ui {

QFont reportFont() {
    QFont font(QStringLiteral("Helvetica"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(10);
    return font;
}

PainterReportSurface::PainterReportSurface(QPainter& painter, QSizeF pageInches)
    : TabStopReportSurface(pageInches.width(), pageInches.height()), painter_(painter),
      font_(reportFont()), metrics_(font_, painter.device()),
      dpiX_(painter.device()->logicalDpiX()), dpiY_(painter.device()->logicalDpiY()) {
    painter_.setFont(font_);
    painter_.setPen(Qt::black);
}

double PainterReportSurface::TextWidth(const std::string& text) const {
    return metrics_.horizontalAdvance(QString::fromStdString(text)) / dpiX_;
}

double PainterReportSurface::LineHeight() const {
    return metrics_.lineSpacing() / dpiY_;
}

void PainterReportSurface::DrawText(const PlacedText& placed) {
    if (placed.text.empty()) return;
    painter_.drawText(QPointF(placed.x * dpiX_, placed.top * dpiY_ + metrics_.ascent()),
                      QString::fromStdString(placed.text));
}

void paintReportPage(QPainter& painter, QSizeF pageInches, const ReportDrawing& drawing) {
    PainterReportSurface surface(painter, pageInches);
    drawing(surface);
}

} // namespace ui
