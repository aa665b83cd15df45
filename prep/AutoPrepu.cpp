#include "prep/AutoPrepu.h"

#include "app/core/Settings.h"
#include "common/Clock.h"
#include "common/Date.h"
#include "export/wcprgwnd.h"
#include "ui/Application.h"
#include "ui/FormSetup.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"
#include "ui/WindowOperator.h"

#include <QComboBox>
#include <QLayout>

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

const char* const kAutoExportHours[24] = {
    "12:00 Midnight", "  1:00 AM  ", "  2:00 AM", "  3:00 AM", "  4:00 AM", "  5:00 AM",
    "  6:00 AM",      "  7:00 AM",   "  8:00 AM", "  9:00 AM", "10:00 AM",  "11:00 AM",
    "12:00 Noon",     "  1:00 PM  ", "  2:00 PM", "  3:00 PM", "  4:00 PM", "  5:00 PM",
    "  6:00 PM",      "  7:00 PM",   "  8:00 PM", "  9:00 PM", "10:00 PM",  "11:00 PM"};

namespace {

// The window's outer size is 407 x 309 with a frame of 4 pixels on each side
// and a caption of 23 pixels; Qt sizes the inside.
constexpr int kClientWidth = 399;
constexpr int kClientHeight = 282;
constexpr int kStatusBarHeight = 17;
constexpr int kTimerInterval = 1000; // ms

constexpr const char* kInactiveText = "Automatic Export Inactive";
constexpr const char* kActiveText = "Automatic Export Active";
constexpr const char* kCompletedText = "Automatic Export Completed";
constexpr const char* kFailedText = "Automatic Export Failed";
constexpr const char* kActivateCaption = "&Activate Automatic Export";
constexpr const char* kDeactivateCaption = "&Deactivate Automatic Export";

// The long time of the desktop's locale, without a time zone (the program's
// clock has none).
QString longTimeText(const kes::LocalTime& now) {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove('t');
    return QLocale::system().toString(QTime(now.hour, now.minute, now.second), format.trimmed());
}

} // namespace

TAutoPrepForm::TAutoPrepForm(QWidget* owner, PlanChoices choices, std::string settingsFile)
    : QDialog(owner), choices_(std::move(choices)), settingsFile_(std::move(settingsFile)) {
    createControls();
    statusPanel_ = std::make_unique<ui::PreparationOperator>(this, StatusBar1, ProgressBar1);
    statusPanel_->SetExportProgress(&NewProgressWindow);
    ui::guarded(this, [this] { FormCreate(); });
}

TAutoPrepForm::~TAutoPrepForm() = default;

void TAutoPrepForm::createControls() {
    ui::setUpFixedWindow(this, "AutoPrepForm", "Automatic File Preparation", kClientWidth,
                         kClientHeight);

    lblDate = ui::makeLabel(this, "lblDate", "Currenrt Date:", 4, 30);
    lblTime = ui::makeLabel(this, "lblTime", "Currenrt Time:", 4, 84);

    rgdate = new ui::RadioGroup("Set Date:", {"Current Date", "Date Selection"}, this, 2);
    rgdate->setObjectName("rgdate");
    rgdate->setGeometry(176, 14, 195, 41);
    rgdate->setItemIndex(0);
    // Both columns share the group's width: it grows by twice what the
    // wider caption lacks, as far as the window allows.
    rgdate->layout()->activate();
    const int lacking =
        std::max(ui::captionShortfall(rgdate->button(0)), ui::captionShortfall(rgdate->button(1)));
    if (lacking > 0)
        rgdate->resize(std::min(rgdate->width() + 2 * lacking, kClientWidth - 4 - rgdate->x()),
                       rgdate->height());

    GroupBox1 = new QGroupBox("Set Time:", this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(176, 62, 137, 49);
    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setMaxVisibleItems(13);
    ComboBox1->setAccessibleName("Set Time");
    for (const char* hour : kAutoExportHours)
        ComboBox1->addItem(QString::fromLatin1(hour));
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setGeometry(19, 18, 105, 21);

    btnActivate = ui::makeButton(this, "btnActivate", kActivateCaption, QRect(116, 129, 185, 25));
    btnActivate->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    btnActivate->setEnabled(false);

    Label1 = ui::makeLabel(this, "Label1", "File Name:", 4, 180);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName("Edit2");
    Edit2->setGeometry(60, 176, 298, 21);
    Label1->setBuddy(Edit2);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setGeometry(357, 175, 23, 22);
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    SpeedButton1->setToolTip("Choose the file name");
    SpeedButton1->setAccessibleName("Choose the file name");

    btnExport = ui::makeButton(this, "btnExport", "&Prepare Export File", QRect(141, 219, 135, 25));
    btnExport->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    btnClose = ui::makeButton(this, "btnClose", "&Close", QRect(303, 219, 77, 27));
    btnClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    // The window has no default button: Enter in the file name box or the
    // hour box presses nothing (Qt would make the first button the default).
    for (QPushButton* button : {btnActivate, btnExport, btnClose})
        button->setAutoDefault(false);

    StatusBar1 = ui::makeStatusBar(this, kStatusBarHeight);
    StatusBar1->showMessage(kInactiveText);
    ProgressBar1 = ui::makeProgressBar(StatusBar1);
    // 256, 1, 309 wide in the design: as much of it as the panel holds.
    ProgressBar1->setGeometry(256, 1, kClientWidth - 256 - 2, 16);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kTimerInterval);
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(kTimerInterval);
    Timer2->start();

    setTabOrder(rgdate->button(0), rgdate->button(1));
    setTabOrder(rgdate->button(1), ComboBox1);
    setTabOrder(ComboBox1, btnActivate);
    setTabOrder(btnActivate, Edit2);
    setTabOrder(Edit2, SpeedButton1);
    setTabOrder(SpeedButton1, btnExport);
    setTabOrder(btnExport, btnClose);
    SpeedButton1->setFocusPolicy(Qt::StrongFocus);

    auto handler = [this](void (TAutoPrepForm::*method)()) {
        return [this, method] { ui::guarded(this, [this, method] { (this->*method)(); }); };
    };
    connect(Edit2, &QLineEdit::textChanged, this, handler(&TAutoPrepForm::Edit2Change));
    connect(ComboBox1, &QComboBox::editTextChanged, this, handler(&TAutoPrepForm::ComboBox1Change));
    connect(SpeedButton1, &QToolButton::clicked, this, handler(&TAutoPrepForm::SpeedButton1Click));
    connect(btnActivate, &QPushButton::clicked, this, handler(&TAutoPrepForm::btnActivateClick));
    connect(btnExport, &QPushButton::clicked, this, handler(&TAutoPrepForm::btnExportClick));
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(Timer1, &QTimer::timeout, this, handler(&TAutoPrepForm::Timer1Timer));
    connect(Timer2, &QTimer::timeout, this, handler(&TAutoPrepForm::Timer2Timer));
}

bool TAutoPrepForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate)
        ui::guarded(this, [this] { FormActivate(); });
    else if (e->type() == QEvent::WindowDeactivate)
        ui::guarded(this, [this] { FormDeactivate(); });
    return QDialog::event(e);
}

void TAutoPrepForm::FormCreate() {}

void TAutoPrepForm::FormActivate() {
    // The settings are read when the window first becomes active. A later
    // activation (after a message box, the save dialog, or another program
    // took the focus for a while) finds the controls as the operator left
    // them: reading again would put back what the deactivation before it
    // stored, over a name just chosen in the save dialog, and would disarm
    // a window whose button then no longer did what it says.
    if (settingsRead_) return;
    settingsRead_ = true;
    const SettingsValues stored = ReadSettings(settingsFile_);
    Edit2->setText(QString::fromStdString(stored.AutoFileName));
    saveFileName_ = stored.AutoFileName;
    // A stored position outside the list is no hour, not the nearest one.
    const bool listed = stored.AutoTime >= 0 && stored.AutoTime < ComboBox1->count();
    ComboBox1->setCurrentIndex(listed ? stored.AutoTime : -1);
    if (ComboBox1->currentIndex() < 0) ComboBox1->setEditText(QString());
    rgdate->setItemIndex(stored.AutoDate);
    applyEnablingRule(HourPosition() >= 0 && !Edit2->text().isEmpty());
}

void TAutoPrepForm::reject() {
    // Armed, the window closes only after the button has disarmed it: Esc
    // and the window's close box would otherwise drop the schedule unseen.
    if (AutoActive) return;
    QDialog::reject();
}

void TAutoPrepForm::FormDeactivate() {
    SaveAutoExportSettings(settingsFile_, Edit2->text().toStdString(), HourPosition(),
                           rgdate->itemIndex());
}

void TAutoPrepForm::Edit2Change() {
    if (AutoActive) return;
    applyEnablingRule(!ComboBox1->currentText().isEmpty() && !Edit2->text().isEmpty());
}

void TAutoPrepForm::ComboBox1Change() {
    Edit2Change();
}

void TAutoPrepForm::applyEnablingRule(bool enable) {
    btnActivate->setEnabled(enable);
    btnExport->setEnabled(enable);
}

int TAutoPrepForm::HourPosition() const {
    return ComboBox1->findText(ComboBox1->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void TAutoPrepForm::SpeedButton1Click() {
    if (auto chosen =
            ui::saveFileDialog(this, kSaveTitle, saveFileName_, kSaveFilter, kSaveExtension)) {
        saveFileName_ = *chosen;
        Edit2->setText(QString::fromStdString(*chosen));
    }
}

void TAutoPrepForm::btnActivateClick() {
    if (AutoActive) {
        Timer1->stop();
        DeactivateAutoExport();
    } else {
        Timer1->start();
        ActivateAutoExport();
    }
}

void TAutoPrepForm::setInactiveControlsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{btnClose, ComboBox1, GroupBox1, rgdate,
                                                            Edit2, btnExport, SpeedButton1})
        control->setEnabled(enabled);
}

void TAutoPrepForm::ActivateAutoExport() {
    AutoActive = true;
    btnActivate->setText(kDeactivateCaption);
    setStatusText(kActiveText);
    setInactiveControlsEnabled(false);
}

void TAutoPrepForm::DeactivateAutoExport() {
    AutoActive = false;
    btnActivate->setText(kActivateCaption);
    setStatusText(kInactiveText);
    setInactiveControlsEnabled(true);
    Edit2Change(); // the two buttons as the enabling rule says
}

void TAutoPrepForm::Timer1Timer() {
    if (kes::Clock::instance().now().hour != HourPosition()) return;
    Timer1->stop();
    bool prepared = false;
    try {
        prepared = PrepareExportFile(PreparationFrontEnd::TimedRun);
    } catch (...) {
        // Nothing is armed any more: the window says so instead of looking
        // armed, and the error goes on to the general error report.
        DeactivateAutoExport();
        setStatusText(kFailedText);
        throw;
    }
    // Completed only when the upload file was written; a refused file name,
    // a table that could not be had or no rows in the dates leave it failed.
    DeactivateAutoExport();
    setStatusText(prepared ? kCompletedText : kFailedText);
}

void TAutoPrepForm::Timer2Timer() {
    const kes::LocalTime now = kes::Clock::instance().now();
    lblTime->setText("Current Time: " + longTimeText(now));
    lblTime->adjustSize();
    lblDate->setText(QString::fromStdString("Current Date: " + kes::Date::today().toShortText()));
    lblDate->adjustSize();
}

void TAutoPrepForm::btnExportClick() {
    // A manual run leaves the window inactive as it was; the gathering's
    // texts do not stay on its status panel.
    struct Restore {
        TAutoPrepForm* form;
        ~Restore() {
            if (!form->AutoActive) form->setStatusText(kInactiveText);
        }
    } restore{this};
    PrepareExportFile();
}

PreparationPlan TAutoPrepForm::PlanOfRun() const {
    PlanChoices choices = choices_;
    // "Current Date" gathers today's records; any other choice the dates of
    // the main window when Auto Prepare was pressed.
    if (rgdate->itemIndex() == 0) choices.Dates = DateSelection::Today();
    choices.OutputFile = Edit2->text().toStdString();
    return MakePreparationPlan(settingsFile_, choices, PlanUse::Windows);
}

bool TAutoPrepForm::PrepareExportFile(PreparationFrontEnd frontEnd) {
    // One preparation at a time per data folder, held from the gathering to
    // the end of the export.
    preparation_.emplace(PlanOfRun(), frontEnd);
    struct Finished {
        std::optional<Preparation>& preparation;
        ~Finished() { preparation.reset(); }
    } finished{preparation_};
    GatherRecords();
    if (gatherCancelled_) return false; // the program is ending; nothing more is done

    const ExportAllResult written = preparation_->ExportAll(*statusPanel_);
    if (written.Outcome == ExportOutcome::Cancelled) ui::requestTermination();
    return written.Outcome == ExportOutcome::Prepared;
}

void TAutoPrepForm::GatherRecords() {
    gatherCancelled_ = false;
    account_ = GatherAccount{};
    const GatherReport report = preparation_->Gather(*statusPanel_);
    if (report.result == GatherResult::Cancelled) {
        gatherCancelled_ = true;
        ui::requestTermination();
        return;
    }
    account_ = report.account;
}

void TAutoPrepForm::setStatusText(const QString& text) {
    StatusBar1->showMessage(text);
}

QString TAutoPrepForm::StatusText() const {
    return StatusBar1->currentMessage();
}
