#include "app/Historyu.h"

#include "ui/FormSetup.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>

namespace {

constexpr int kClientWidth = 760;
constexpr int kClientHeight = 420;
// The reason column shows this many characters; the details below show all.
constexpr int kReasonColumnCharacters = 40;

enum Column {
    colStarted,
    colOutcome,
    colReason,
    colFrontEnd,
    colUser,
    colPeriod,
    colSet,
    colDates,
    colLayout,
    colFields,
    colRows,
    colUploadFile,
    colSize,
    colSha256,
    colEnded,
    kColumnCount
};

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

} // namespace

std::string HistoryTimeText(const std::string& time) {
    if (time.size() != 19 || time[4] != '-' || time[7] != '-' || time[10] != ' ') return time;
    return time.substr(5, 2) + "/" + time.substr(8, 2) + "/" + time.substr(0, 4) + time.substr(10);
}

std::string HistoryDatesText(const HistoryEntry& entry) {
    if (entry.BeginDate.empty() && entry.EndDate.empty()) return "All Dates";
    auto shortDate = [](const std::string& iso) {
        return iso.size() == 10 ? iso.substr(5, 2) + "/" + iso.substr(8, 2) + "/" + iso.substr(0, 4)
                                : iso;
    };
    return shortDate(entry.BeginDate) + " - " + shortDate(entry.EndDate);
}

const std::vector<const char*>& THistoryForm::ColumnTitles() {
    static const std::vector<const char*> titles = {
        "Started", "Outcome",         "Reason", "Front End",   "User", "Period",  "Set",  "Dates",
        "Layout",  "Optional Fields", "Rows",   "Upload File", "Size", "SHA-256", "Ended"};
    return titles;
}

THistoryForm::THistoryForm(QWidget* owner, const std::string& dataDir)
    : QDialog(owner), dataDir_(dataDir) {
    createControls();
    entries_ = ReadHistory(dataDir_, &readError_);
    std::reverse(entries_.begin(), entries_.end());
    fill();
}

void THistoryForm::createControls() {
    ui::setUpFixedWindow(this, "HistoryForm", "History", kClientWidth, kClientHeight);

    grdHistory = new QTableWidget(0, kColumnCount, this);
    grdHistory->setObjectName("grdHistory");
    grdHistory->setGeometry(8, 24, kClientWidth - 16, 254);
    grdHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdHistory->setSelectionMode(QAbstractItemView::SingleSelection);
    grdHistory->setWordWrap(false);
    grdHistory->setTabKeyNavigation(false);
    grdHistory->verticalHeader()->hide();
    grdHistory->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdHistory->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    grdHistory->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grdHistory->horizontalHeader()->setHighlightSections(false);
    QStringList titles;
    for (const char* title : ColumnTitles())
        titles << QString::fromLatin1(title);
    grdHistory->setHorizontalHeaderLabels(titles);
    grdHistory->setAccessibleName("Preparations");
    lblHistory = ui::makeLabel(this, "lblHistory", "&Preparations:", 8, 6);
    lblHistory->setBuddy(grdHistory);

    memDetails = new QPlainTextEdit(this);
    memDetails->setObjectName("memDetails");
    memDetails->setReadOnly(true);
    memDetails->setGeometry(8, 304, kClientWidth - 16, 76);
    memDetails->setAccessibleName("Details");
    lblDetails = ui::makeLabel(this, "lblDetails", "&Details:", 8, 286);
    lblDetails->setBuddy(memDetails);

    lblSummary = ui::makeLabel(this, "lblSummary", "", 8, 392);
    btnClose = ui::makeButton(this, "btnClose", "&Close", QRect(kClientWidth - 85, 386, 77, 27));
    btnClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    connect(grdHistory, &QTableWidget::currentCellChanged, this,
            [this](int row) { showDetails(row); });
    setTabOrder(grdHistory, memDetails);
    setTabOrder(memDetails, btnClose);
}

void THistoryForm::fill() {
    const QIcon failed = style()->standardIcon(QStyle::SP_MessageBoxCritical);
    const QIcon warned = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    grdHistory->setRowCount(static_cast<int>(entries_.size()));
    for (int row = 0; row < static_cast<int>(entries_.size()); ++row) {
        const HistoryEntry& e = entries_[static_cast<size_t>(row)];
        const std::string values[kColumnCount] = {HistoryTimeText(e.Started),
                                                  OutcomeName(e.Outcome),
                                                  e.Reason,
                                                  e.FrontEnd,
                                                  e.User,
                                                  e.Period,
                                                  e.Set,
                                                  HistoryDatesText(e),
                                                  e.Layout,
                                                  e.OptionalFields,
                                                  e.Rows,
                                                  e.UploadFile,
                                                  e.Size,
                                                  e.Sha256,
                                                  HistoryTimeText(e.Ended)};
        for (int column = 0; column < kColumnCount; ++column) {
            auto* item = new QTableWidgetItem(text(values[column]));
            if (!values[column].empty()) item->setToolTip(text(values[column]));
            if (column == colRows || column == colSize || column == colPeriod)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (e.Outcome == HistoryOutcome::NotPrepared) item->setForeground(QColor(0xB0, 0, 0));
            grdHistory->setItem(row, column, item);
        }
        if (e.Outcome == HistoryOutcome::NotPrepared)
            grdHistory->item(row, colOutcome)->setIcon(failed);
        else if (e.Outcome == HistoryOutcome::PreparedWithWarnings)
            grdHistory->item(row, colOutcome)->setIcon(warned);
    }
    grdHistory->resizeColumnsToContents();
    const int reasonWidth = kReasonColumnCharacters * fontMetrics().averageCharWidth();
    if (grdHistory->columnWidth(colReason) > reasonWidth)
        grdHistory->setColumnWidth(colReason, reasonWidth);

    QString summary;
    if (!readError_.empty())
        summary = "The history could not be read: " + text(readError_);
    else if (entries_.empty())
        summary = "No preparation yet in " + text(HistoryFilePath(dataDir_));
    else
        summary = QString("%1 %2 in %3")
                      .arg(entries_.size())
                      .arg(entries_.size() == 1 ? "preparation" : "preparations")
                      .arg(text(HistoryFilePath(dataDir_)));
    lblSummary->setText(summary);
    lblSummary->adjustSize();
    lblSummary->setMaximumWidth(btnClose->x() - lblSummary->x() - 8);

    if (!entries_.empty()) grdHistory->setCurrentCell(0, colStarted);
    showDetails(entries_.empty() ? -1 : 0);
}

void THistoryForm::showDetails(int row) {
    if (row < 0 || row >= static_cast<int>(entries_.size())) {
        memDetails->clear();
        return;
    }
    const HistoryEntry& e = entries_[static_cast<size_t>(row)];
    const std::pair<const char*, std::string> lines[] = {
        {"Outcome", OutcomeName(e.Outcome)},
        {"Reason", e.Reason},
        {"Started", HistoryTimeText(e.Started)},
        {"Ended", HistoryTimeText(e.Ended)},
        {"Front End", e.FrontEnd},
        {"User", e.User},
        {"Period", e.Period},
        {"Set", e.Set},
        {"Dates", HistoryDatesText(e)},
        {"Layout", e.Layout},
        {"Optional Fields", e.OptionalFields.empty() ? "none" : e.OptionalFields},
        {"Rows", e.Rows},
        {"Upload File", e.UploadFile},
        {"Size", e.Size.empty() ? "" : e.Size + " bytes"},
        {"SHA-256", e.Sha256}};
    QString details;
    for (const auto& [name, value] : lines)
        if (!value.empty()) details += QString::fromLatin1(name) + ": " + text(value) + "\n";
    memDetails->setPlainText(details.trimmed());
}
