#include "ui/ReportPreview.h"

#include "os/Os.h"
#include "ui/Modal.h"

#include <QApplication>
#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>

#include <stdexcept>
#include <string_view>

namespace ui {

namespace {

QSizeF paperInches(const QPageLayout& layout) {
    return layout.fullRect(QPageLayout::Inch).size();
}

// Every report page starts on US Letter paper; the print dialog may change it.
void setUpPrinter(QPrinter& printer, const QString& jobTitle) {
    printer.setPageSize(QPageSize(QPageSize::Letter));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setFullPage(true); // the painter's origin is the paper's corner
    printer.setCopyCount(1);
    printer.setDocName(jobTitle);
}

} // namespace

ReportStatusWindow::ReportStatusWindow(QWidget* owner)
    : QWidget(owner, Qt::Dialog), label_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    label_->setMinimumWidth(220);
    label_->setAlignment(Qt::AlignCenter);
}

void ReportStatusWindow::showStatus(const QString& text, int page) {
    QString shown = text;
    shown.replace(QLatin1String("%p"), QString::number(page));
    shown_.push_back(shown.toStdString());
    label_->setText(shown);
    show();
    raise();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

ReportPreview::ReportPreview(QWidget* owner, ReportSetup setup, ReportDrawing drawing)
    : QDialog(owner), setup_(std::move(setup)), drawing_(std::move(drawing)),
      previewPrinter_(std::make_unique<QPrinter>(QPrinter::HighResolution)),
      status_(new ReportStatusWindow(this)) {
    setWindowTitle(setup_.previewTitle);
    status_->setWindowTitle(setup_.statusTitle);
    setUpPrinter(*previewPrinter_, setup_.jobTitle);

    auto* toolBar = new QToolBar(this);
    QAction* printAction = toolBar->addAction(tr("&Print..."));
    QAction* pdfAction = toolBar->addAction(tr("Save as P&DF..."));
    toolBar->addSeparator();
    QAction* closeAction = toolBar->addAction(tr("&Close"));
    connect(printAction, &QAction::triggered, this, [this] { print(); });
    connect(pdfAction, &QAction::triggered, this, [this] { saveAsPdf(); });
    connect(closeAction, &QAction::triggered, this, &QDialog::accept);

    view_ = new QPrintPreviewWidget(previewPrinter_.get(), this);
    view_->setZoomMode(QPrintPreviewWidget::CustomZoom);
    view_->setZoomFactor(1.0);
    connect(view_, &QPrintPreviewWidget::paintRequested, this,
            [this](QPrinter* printer) { generate(printer); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(view_, 1);
    // The whole screen also where no window manager maximises it.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    setWindowState(Qt::WindowMaximized);

    view_->updatePreview();
}

ReportPreview::~ReportPreview() {
    delete view_; // it draws on the preview printer, which goes next
}

void ReportPreview::generate(QPrinter* printer) {
    status_->showStatus(setup_.generatingText, 1);
    QPainter painter(printer);
    paintReportPage(painter, paperInches(printer->pageLayout()), drawing_);
    painter.end();
    status_->hide();
}

bool ReportPreview::print() {
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer, setup_.jobTitle);
    if (!printDialog(this, printer)) return false;
    printer.setFullPage(true);
    status_->showStatus(setup_.printingText, 1);
    QPainter painter;
    if (!painter.begin(&printer)) {
        status_->hide();
        showError("The printer cannot be used.", this);
        return false;
    }
    paintReportPage(painter, paperInches(printer.pageLayout()), drawing_);
    painter.end();
    status_->hide();
    return true;
}

bool ReportPreview::saveAsPdf() {
    auto path = saveFileDialog(this, "Save as PDF", "", "PDF files (*.pdf)", "pdf");
    if (!path) return false;
    try {
        writeReportPdf(*path, setup_.documentTitle, drawing_);
    } catch (const std::exception& e) {
        showError(e.what(), this);
        return false;
    }
    return true;
}

double ReportPreview::zoomPercent() const {
    return view_->zoomFactor() * 100;
}

void writeReportPdf(const std::string& path, const QString& title, const ReportDrawing& drawing) {
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0)));
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("KesPrep"));
        QPainter painter(&writer);
        paintReportPage(painter, paperInches(writer.pageLayout()), drawing);
    }
    // Through the one routine that replaces a file whole.
    const QByteArray& bytes = pdf.data();
    if (!kes::os::writeFileReplacing(
             path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())))
             .ok())
        throw std::runtime_error("Unable to write to " + path);
}

} // namespace ui
