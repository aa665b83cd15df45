#include "export/ListKesu.h"

#include "app/core/Settings.h"
#include "common/Date.h"
#include "export/ScoresGrid.h"
#include "export/wcprgwnd.h"
#include "prep/core/WorkTable.h"
#include "ui/Application.h"
#include "ui/FormSetup.h"
#include "ui/Modal.h"
#include "ui/WindowOperator.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

namespace {

// The window's outer size is 578 x 488 with a frame of 4 pixels on each side
// and a caption of 23 pixels; Qt sizes the inside.
constexpr int kClientWidth = 570;
constexpr int kClientHeight = 461;
constexpr int kStatusBarHeight = 19;

// The Order By choices by their Tag (1 to 4): the work table's tag, which is
// also the search box's field.
constexpr const char* kOrderTags[] = {"SSN", "LNAME", "DATE", "TESTCODE"};

// The moves of the navigator bar, with their hints and icons. A held button
// repeats after 500 ms, then every 100 ms.
struct NavigatorMove {
    const char* name;
    const char* hint;
    QStyle::StandardPixmap icon;
};
constexpr NavigatorMove kNavigatorMoves[] = {
    {"nbFirst", "Move to first record", QStyle::SP_MediaSkipBackward},
    {"nbPriorPage", "Move backward 10 records", QStyle::SP_MediaSeekBackward},
    {"nbPrior", "Move to prior record", QStyle::SP_ArrowLeft},
    {"nbNext", "Move to next record", QStyle::SP_ArrowRight},
    {"nbNextPage", "Move forward 10 records", QStyle::SP_MediaSeekForward},
    {"nbLast", "Move to last record", QStyle::SP_MediaSkipForward},
};
constexpr int kNavigatorPage = 10;
constexpr int kRepeatDelayMs = 500;
constexpr int kRepeatIntervalMs = 100;

QToolButton* makeToolButton(QWidget* parent, const char* name, const QString& hint, QRect place) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setToolTip(hint);
    button->setAccessibleName(hint); // what a screen reader says of a button with a glyph
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(place);
    return button;
}

QRadioButton* makeRadio(QWidget* parent, const char* name, const char* caption, int tag,
                        QRect place) {
    auto* button = new QRadioButton(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    button->setProperty("Tag", tag);
    button->setGeometry(place);
    return button;
}

} // namespace

TListKestalScoresForm::TListKestalScoresForm(QWidget* owner, Preparation& preparation)
    : QDialog(owner), preparation_(preparation) {
    createControls();
    ui::guarded(this, [this] { FormCreate(); });
}

TListKestalScoresForm::~TListKestalScoresForm() {
    ui::guarded(nullptr, [this] { FormDestroy(); });
}

void TListKestalScoresForm::createControls() {
    ui::setUpFixedWindow(this, "ListKestalScoresForm", "Select Records", kClientWidth,
                         kClientHeight);

    // Top strip: the navigator bar with Select All and UnSelect at its end.
    wwDBNavigator2 = new QWidget(this);
    wwDBNavigator2->setObjectName("wwDBNavigator2");
    wwDBNavigator2->setGeometry(4, 6, 8 * 24, 24);
    for (int i = 0; i < 6; ++i) {
        const NavigatorMove& step = kNavigatorMoves[i];
        QToolButton* button = makeToolButton(
            wwDBNavigator2, step.name, QString::fromLatin1(step.hint), QRect(i * 24, 0, 24, 24));
        button->setIcon(style()->standardIcon(step.icon));
        button->setAutoRepeat(true);
        button->setAutoRepeatDelay(kRepeatDelayMs);
        button->setAutoRepeatInterval(kRepeatIntervalMs);
        NavigatorButtons[i] = button;
        connect(button, &QToolButton::clicked, this, [this, i] {
            ui::guarded(this, [this, i] { wwDBNavigator2Click(static_cast<NavigateButton>(i)); });
        });
    }
    // The glyphs of the settings dialog's navigator bar for the same two
    // actions ("All" and "None" do not fit a button of the bar).
    btnAll = makeToolButton(wwDBNavigator2, "btnAll", "Select All", QRect(6 * 24, 0, 24, 24));
    btnAll->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    btnNone = makeToolButton(wwDBNavigator2, "btnNone", "UnSelect", QRect(7 * 24, 0, 24, 24));
    btnNone->setIcon(style()->standardIcon(QStyle::SP_DialogDiscardButton));

    wwIncrementalSearch1 = new QLineEdit(this);
    wwIncrementalSearch1->setObjectName("wwIncrementalSearch1");
    wwIncrementalSearch1->setGeometry(248, 7, 118, 21);
    Label1 = ui::makeLabel(this, "Label1", "Searc&h:", 206, 11);
    Label1->setBuddy(wwIncrementalSearch1);

    Label2 = ui::makeLabel(this, "Label2", "Order By:", 376, 11);
    RadioButton1 = makeRadio(this, "RadioButton1", "&ID", 1, QRect(428, 2, 68, 17));
    RadioButton2 = makeRadio(this, "RadioButton2", "&Last Name", 2, QRect(428, 18, 68, 17));
    RadioButton3 = makeRadio(this, "RadioButton3", "Test &Date", 3, QRect(498, 2, 70, 17));
    RadioButton4 = makeRadio(this, "RadioButton4", "&Test Code", 4, QRect(498, 18, 70, 17));
    RadioButton1->setChecked(true);

    wwDBGrid1 = new TKestalScoresGrid(this);
    wwDBGrid1->setObjectName("wwDBGrid1");
    wwDBGrid1->setAccessibleName("Records");
    wwDBGrid1->setGeometry(4, 38, kClientWidth - 8, 366);
    model_ = new TKestalScoresModel(AdsTable1, wwDBGrid1);
    wwDBGrid1->setModel(model_);
    wwDBGrid1->ApplyColumnWidths();

    // Below the grid: the file name and the two buttons.
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(62, 413, 272, 21);
    Label3 = ui::makeLabel(this, "Label3", "File Name;", 6, 417);
    SpeedButton1 = makeToolButton(this, "SpeedButton1", QString(), QRect(336, 413, 23, 21));
    SpeedButton1->setText("...");
    SpeedButton1->setAccessibleName("Choose the file name");
    Edit1->setAccessibleName("File Name");
    btnExport = ui::makeButton(this, "btnExport", "&Export", QRect(382, 411, 85, 25));
    btnExport->setDefault(true);
    btnExport->setEnabled(false);
    btnCancel = ui::makeButton(this, "btnCancel", "Close", QRect(477, 411, 85, 25));
    btnCancel->setAutoDefault(false);

    fitToFont();

    StatusBar1 = ui::makeStatusBar(this, kStatusBarHeight);
    StatusPanel = new QLabel(StatusBar1);
    StatusPanel->setObjectName("StatusPanel");
    StatusBar1->addWidget(StatusPanel, 1);
    ProgressBar1 = ui::makeProgressBar(StatusBar1);
    ProgressBar1->setFixedWidth(240);
    StatusBar1->addPermanentWidget(ProgressBar1);
    // Messages over this window, the export's progress in its status panel.
    operator_ = std::make_unique<ui::WindowOperator>(this, nullptr, ProgressBar1);
    operator_->SetExportProgress(&NewProgressWindow);

    setTabOrder(wwIncrementalSearch1, RadioButton1);
    setTabOrder(RadioButton1, RadioButton2);
    setTabOrder(RadioButton2, RadioButton3);
    setTabOrder(RadioButton3, RadioButton4);
    setTabOrder(RadioButton4, wwDBGrid1);
    setTabOrder(wwDBGrid1, Edit1);
    setTabOrder(Edit1, btnExport);
    setTabOrder(btnExport, btnCancel);

    connect(btnAll, &QToolButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnAllClick(); }); });
    connect(btnNone, &QToolButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnNoneClick(); }); });
    for (QRadioButton* button : {RadioButton1, RadioButton2, RadioButton3, RadioButton4})
        connect(button, &QRadioButton::toggled, this, [this, button](bool checked) {
            if (checked) ui::guarded(this, [this, button] { RadioButton1Click(button); });
        });
    connect(wwIncrementalSearch1, &QLineEdit::textEdited, this, [this](const QString& text) {
        // Shown and searched in upper case.
        const QString upper = text.toUpper();
        if (upper != text) {
            const int cursor = wwIncrementalSearch1->cursorPosition();
            wwIncrementalSearch1->setText(upper);
            wwIncrementalSearch1->setCursorPosition(cursor);
        }
        ui::guarded(this, [this] { wwIncrementalSearch1Change(); });
    });
    connect(Edit1, &QLineEdit::textChanged, this,
            [this] { ui::guarded(this, [this] { Edit1Change(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this,
            [this] { ui::guarded(this, [this] { SpeedButton1Click(); }); });
    connect(btnExport, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnExportClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    wwDBGrid1->KeyDown = [this](QKeyEvent* event) {
        bool used = false;
        ui::guarded(this, [&] { used = wwDBGrid1KeyDown(event); });
        return used;
    };
    connect(wwDBGrid1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                ui::guarded(this, [&] { wwDBGrid1MultiSelectRecord(selected, deselected); });
            });
    connect(wwDBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                ui::guarded(this, [&] { currentRowChanged(current.row()); });
            });
}

// The window is laid out for a font of about 8 points. In a wider font it
// grows by what the grid's columns lack beside one another, and the controls
// along its right edge move with it; each Order By column grows by what its
// wider caption lacks, the columns keeping to the right edge.
void TListKestalScoresForm::fitToFont() {
    const int lacking = wwDBGrid1->WidthForAllColumns() - wwDBGrid1->width();
    if (lacking > 0) {
        setFixedSize(width() + lacking, height());
        move(x() - lacking / 2, y());
        wwDBGrid1->resize(wwDBGrid1->width() + lacking, wwDBGrid1->height());
        for (QWidget* right :
             std::initializer_list<QWidget*>{Label2, RadioButton1, RadioButton2, RadioButton3,
                                             RadioButton4, btnExport, btnCancel})
            right->move(right->x() + lacking, right->y());
    }
    for (QRadioButton* button : {RadioButton1, RadioButton2, RadioButton3, RadioButton4})
        button->resize(button->width() + ui::captionShortfall(button), button->height());
    const int first = std::max(RadioButton1->width(), RadioButton2->width());
    const int second = std::max(RadioButton3->width(), RadioButton4->width());
    const int secondLeft = std::min(RadioButton3->x(), width() - 2 - second);
    const int firstLeft = std::min(RadioButton1->x(), secondLeft - 2 - first);
    for (QRadioButton* button : {RadioButton1, RadioButton2})
        button->move(firstLeft, button->y());
    for (QRadioButton* button : {RadioButton3, RadioButton4})
        button->move(secondLeft, button->y());
    Label2->move(std::min(Label2->x(), firstLeft - 4 - Label2->width()), Label2->y());
}

void TListKestalScoresForm::FormCreate() {
    const PreparationPlan& plan = preparation_.Plan();
    const std::string fileName = ReadSettings(plan.SettingsFile).ExportFileName;
    Edit1->setText(QString::fromStdString(fileName));
    SaveDialog1FileName = fileName;

    if (!OpenWorkTable(AdsTable1, plan.DataDir, *operator_)) {
        // The operator gave up: the program ends and this window does nothing more.
        ui::requestTermination();
        return;
    }
    TotalCount = static_cast<int>(AdsTable1.RecordCount());
    model_->Reload();
    selected_.Reset(AdsTable1.RecordCount());
    AdsTable1.First();
    moveToRow(static_cast<int>(AdsTable1.CurrentPosition()));
    btnNoneClick();
    created_ = true;
}

void TListKestalScoresForm::FormActivate() {
    wwIncrementalSearch1->setFocus();
}

void TListKestalScoresForm::FormClose() {
    SaveExportFileName(preparation_.Plan().SettingsFile, Edit1->text().toStdString());
}

void TListKestalScoresForm::FormDestroy() {
    AdsTable1.Close();
}

void TListKestalScoresForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui::guarded(this, [this] { FormActivate(); });
}

void TListKestalScoresForm::done(int result) {
    if (created_) ui::guarded(this, [this] { FormClose(); });
    QDialog::done(result);
}

void TListKestalScoresForm::refresh() {
    StatusPanel->setText(
        QStringLiteral("Records Selected: %1 out of %2").arg(SelectedCount).arg(TotalCount));
    btnExport->setEnabled(SelectedCount > 0 && !Edit1->text().isEmpty());
}

void TListKestalScoresForm::btnAllClick() {
    if (AdsTable1.Active()) selected_.SelectAll(AdsTable1);
    SelectedCount = selected_.Count();
    showSelection();
    refresh();
}

void TListKestalScoresForm::btnNoneClick() {
    selected_.Clear();
    SelectedCount = selected_.Count();
    showSelection();
    refresh();
}

// The view's selection after Select All or UnSelect: every row or none.
void TListKestalScoresForm::showSelection() {
    QItemSelectionModel* selection = wwDBGrid1->selectionModel();
    syncingSelection_ = true;
    const int rows = model_->rowCount();
    if (selected_.Count() > 0 && rows > 0) {
        const QItemSelection all(model_->index(0, 0),
                                 model_->index(rows - 1, model_->columnCount() - 1));
        selection->select(all, QItemSelectionModel::ClearAndSelect);
    } else {
        selection->clearSelection();
    }
    syncingSelection_ = false;
}

void TListKestalScoresForm::wwDBGrid1MultiSelectRecord(const QItemSelection& selected,
                                                       const QItemSelection& deselected) {
    if (syncingSelection_) return;
    // Unpicked rows leave the list; picked ones go to its end, top to bottom.
    std::vector<uint32_t> dropped;
    for (const QItemSelectionRange& range : deselected)
        for (int row = range.top(); row <= range.bottom(); ++row)
            dropped.push_back(model_->RecNoAt(row));
    selected_.Unpick(dropped);
    std::vector<QItemSelectionRange> added(selected.begin(), selected.end());
    std::sort(added.begin(), added.end(),
              [](const QItemSelectionRange& a, const QItemSelectionRange& b) {
                  return a.top() < b.top();
              });
    for (const QItemSelectionRange& range : added)
        for (int row = range.top(); row <= range.bottom(); ++row)
            selected_.Pick(model_->RecNoAt(row));
    SelectedCount = selected_.Count();
    refresh();
}

void TListKestalScoresForm::Edit1Change() {
    btnExport->setEnabled(SelectedCount >= 1 && !Edit1->text().isEmpty());
}

void TListKestalScoresForm::SpeedButton1Click() {
    const auto chosen = ui::saveFileDialog(this, "Save Kestal Export File", SaveDialog1FileName,
                                           "Text files (*.txt)|*.txt|All files (*.*)|*.*", "asc");
    if (!chosen) return;
    SaveDialog1FileName = *chosen;
    Edit1->setText(QString::fromStdString(*chosen));
}

void TListKestalScoresForm::btnExportClick() {
    BuildExportFile();
}

void TListKestalScoresForm::RadioButton1Click(QRadioButton* sender) {
    btnNoneClick();
    const int tag = sender->property("Tag").toInt();
    if (tag < 1 || tag > 4) return;
    sender->setChecked(true);
    const char* order = kOrderTags[tag - 1];
    AdsTable1.SetIndexName(order);
    searchField_ = order;
    model_->Reload();
    moveToRow(static_cast<int>(AdsTable1.CurrentPosition()));
    refresh();
    wwIncrementalSearch1->clear();
    wwIncrementalSearch1->setFocus();
}

bool TListKestalScoresForm::wwDBGrid1KeyDown(QKeyEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) return false;
    switch (event->key()) {
    case Qt::Key_A:
        btnAllClick();
        return true;
    case Qt::Key_N:
        btnNoneClick();
        return true;
    default:
        return false;
    }
}

void TListKestalScoresForm::wwIncrementalSearch1Change() {
    if (!AdsTable1.Active()) return;
    const std::string text = wwIncrementalSearch1->text().toStdString();
    if (text.empty()) return;
    bool found = false;
    if (searchField_ == "DATE") {
        // A date order is searched once the text is a whole date.
        if (auto date = kes::Date::fromShortText(text)) found = AdsTable1.FindKey(*date);
    } else {
        found = AdsTable1.FindPrefix(text);
    }
    if (found) moveToRow(static_cast<int>(AdsTable1.CurrentPosition()));
}

void TListKestalScoresForm::wwDBNavigator2Click(NavigateButton button) {
    const int rows = model_->rowCount();
    if (rows == 0) return;
    const int here = std::max(CurrentRow(), 0);
    int target = here;
    switch (button) {
    case nbFirst:
        target = 0;
        break;
    case nbPriorPage:
        target = here - kNavigatorPage;
        break;
    case nbPrior:
        target = here - 1;
        break;
    case nbNext:
        target = here + 1;
        break;
    case nbNextPage:
        target = here + kNavigatorPage;
        break;
    case nbLast:
        target = rows - 1;
        break;
    }
    moveToRow(std::clamp(target, 0, rows - 1));
}

int TListKestalScoresForm::CurrentRow() const {
    return model_->CurrentRow();
}

QString TListKestalScoresForm::StatusText() const {
    return StatusPanel->text();
}

// Makes a row the grid's current row (the selection stays as it is) and
// brings it into view; the table follows.
void TListKestalScoresForm::moveToRow(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    const QModelIndex index = model_->index(row, 0);
    wwDBGrid1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    wwDBGrid1->scrollTo(index);
    currentRowChanged(row);
}

void TListKestalScoresForm::currentRowChanged(int row) {
    model_->SetCurrentRow(row);
    if (row < 0 || !AdsTable1.Active()) return;
    const uint32_t recno = model_->RecNoAt(row);
    if (AdsTable1.RecNo() != recno) AdsTable1.GotoBookmark(TBookmark{recno});
}

ExportOutcome TListKestalScoresForm::BuildExportFile() {
    if (!AdsTable1.Active()) return ExportOutcome::Cancelled;
    const ExportOutcome outcome = preparation_.Export(Export1, AdsTable1, selected_.List(),
                                                      Edit1->text().toStdString(), *operator_);
    if (outcome == ExportOutcome::Cancelled) {
        ui::requestTermination();
        return outcome;
    }
    // The table stays on the last row written; the grid shows it there.
    moveToRow(static_cast<int>(AdsTable1.CurrentPosition()));
    return outcome;
}

void TListKestalScoresForm::ShowGatherAccount(const std::string& text) {
    gatherAccount_ = text;
    const QString tip =
        text.empty() ? QString() : "Details (Ctrl+D):\n" + QString::fromStdString(text);
    StatusPanel->setToolTip(tip);
    StatusBar1->setToolTip(tip);
    if (!detailsShortcut_) {
        detailsShortcut_ = true;
        auto* details = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_D), this);
        details->setObjectName("DetailsShortcut");
        connect(details, &QShortcut::activated, this,
                [this] { ui::guarded(this, [this] { DetailsClick(); }); });
    }
}

void TListKestalScoresForm::DetailsClick() {
    if (!gatherAccount_.empty()) ui::showInformation(gatherAccount_, this);
}
