// The report engine's windows: the modal preview of a one-page report, from
// which it is printed or saved as a PDF file, and the status window shown
// while the page is generated or printed. The preview is shown through
// ui::execModal (kind ReportPreview), the print and file dialogs through
// ui/Modal, so a test can answer all of them.
#pragma once

#include "ui/ReportPainter.h"

#include <QDialog>
#include <QLabel>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QPrinter;
class QPrintPreviewWidget;

namespace ui {

// How a report is shown and printed.
struct ReportSetup {
    QString previewTitle;   // the preview window's caption
    QString statusTitle;    // the status window's caption
    QString generatingText; // status while generating; "%p" stands for the page number
    QString printingText;   // status while printing; "%p" likewise
    QString jobTitle;       // the print job's name
    QString documentTitle;  // the title of a PDF file saved from the preview
};

// A small window that says what the report engine is doing.
class ReportStatusWindow : public QWidget {
  public:
    explicit ReportStatusWindow(QWidget* owner);
    // Shows the window with `text` ("%p" replaced by `page`) and lets it paint.
    void showStatus(const QString& text, int page);
    // Every text shown, oldest first.
    const std::vector<std::string>& shownTexts() const { return shown_; }

  private:
    QLabel* label_;
    std::vector<std::string> shown_;
};

class ReportPreview : public QDialog {
  public:
    // The page is generated at once, with the status window showing it.
    ReportPreview(QWidget* owner, ReportSetup setup, ReportDrawing drawing);
    ~ReportPreview() override;

    // The print dialog, then the page on the printer chosen. False when the
    // operator cancelled or the printer could not be used (an error was shown).
    bool print();
    // Asks for a file name and writes the page there as PDF. False when the
    // operator cancelled or the file could not be written (an error was shown).
    bool saveAsPdf();

    // The zoom of the page, 100 for actual size.
    double zoomPercent() const;
    const ReportStatusWindow& statusWindow() const { return *status_; }

  private:
    void generate(QPrinter* printer);

    ReportSetup setup_;
    ReportDrawing drawing_;
    std::unique_ptr<QPrinter> previewPrinter_;
    ReportStatusWindow* status_;
    QPrintPreviewWidget* view_;
};

// Writes the page of `drawing` as a one-page PDF file (US Letter), replacing
// the file only when complete. Throws std::runtime_error when it cannot.
void writeReportPdf(const std::string& path, const QString& title, const ReportDrawing& drawing);

} // namespace ui
