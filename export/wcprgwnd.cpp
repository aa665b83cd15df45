#include "export/wcprgwnd.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QScreen>

#include <algorithm>
#include <climits>

namespace {

// A caption right-aligned before its value at x 57: 45 pixels wide, or as
// much wider to the left as its text needs in the window's font.
QLabel* makeCaption(QWidget* parent, const char* text, int top) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int width = std::max(45, label->fontMetrics().horizontalAdvance(label->text()));
    label->setGeometry(57 - width, top, width, 16);
    return label;
}

QLabel* makeValue(QWidget* parent, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

int clampToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, 0, INT_MAX));
}

} // namespace

TProgressWindow::TProgressWindow(QWidget* owner)
    : QDialog(owner,
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Progress"));
    setFixedSize(330, 151);
    setModal(false);
    Label1 = makeCaption(this, "File:", 12);
    Label2 = makeCaption(this, "Records:", 32);
    Label3 = makeCaption(this, "Bytes:", 52);
    Label4 = makeCaption(this, "Time:", 72);
    Label5 = makeCaption(this, "Progress:", 92);
    lbFile = makeValue(this, "?", 72, 12);
    lbRecords = makeValue(this, "?", 72, 32);
    lbBytes = makeValue(this, "?", 72, 52);
    lbTime = makeValue(this, "?", 72, 72);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setGeometry(72, 92, 213, 16);
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setAccessibleName("Progress");
    lbPercentage = makeValue(this, "0%", 292, 92);

    QLocale locale;
    QString group = locale.groupSeparator();
    QString point = locale.decimalPoint();
    if (group.size() == 1 && group[0].unicode() < 128)
        texts_.GroupSeparator = static_cast<char>(group[0].unicode());
    if (point.size() == 1 && point[0].unicode() < 128)
        texts_.DecimalPoint = static_cast<char>(point[0].unicode());

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    // Visible from its creation on.
    QDialog::show();
}

void TProgressWindow::showTexts() {
    setWindowTitle(QString::fromStdString(texts_.Caption.empty() ? "Progress" : texts_.Caption));
    auto set = [](QLabel* label, const std::string& text) {
        label->setText(QString::fromStdString(text));
        label->adjustSize();
    };
    set(lbFile, texts_.FileText);
    set(lbRecords, texts_.RecordsText);
    set(lbBytes, texts_.BytesText);
    set(lbTime, texts_.TimeText);
    set(lbPercentage, texts_.PercentText);
    // A bar holds int amounts; larger totals are scaled down together.
    int64_t max = texts_.BarMaximum, pos = texts_.BarPosition;
    int64_t scale = max > INT_MAX ? max / INT_MAX + 1 : 1;
    ProgressBar->setMaximum(clampToInt(max / scale));
    ProgressBar->setValue(std::min(clampToInt(pos / scale), ProgressBar->maximum()));
}

void TProgressWindow::Initialize(int mode, int basis, const std::string& fileName,
                                 int64_t totalRecords, int64_t totalBytes) {
    texts_.Initialize(mode, basis, fileName, totalRecords, totalBytes, ClockMilliseconds());
    showTexts();
}

void TProgressWindow::Show() {
    QDialog::show();
    raise();
    repaint();
}

void TProgressWindow::UpdateProgress(int64_t recordsDone, int64_t bytesDone) {
    texts_.UpdateProgress(recordsDone, bytesDone, ClockMilliseconds());
    showTexts();
    // The caller runs no event loop while it works: paint now.
    for (QWidget* w : {static_cast<QWidget*>(lbRecords), static_cast<QWidget*>(lbBytes),
                       static_cast<QWidget*>(lbTime), static_cast<QWidget*>(lbPercentage),
                       static_cast<QWidget*>(ProgressBar)})
        w->repaint();
    repaint();
}

std::string TProgressWindow::RemainingText() const {
    return texts_.RemainingText(ClockMilliseconds());
}

std::unique_ptr<TExportProgress> NewProgressWindow() {
    return std::make_unique<TProgressWindow>();
}
