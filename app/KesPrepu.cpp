#include "app/KesPrepu.h"

#include "app/Historyu.h"
#include "app/core/IniFile.h"
#include "app/core/PeriodList.h"
#include "app/core/Preparation.h"
#include "app/core/PreparationHistory.h"
#include "app/core/Settings.h"
#include "app/glrunone.h"
#include "common/Paths.h"
#include "export/ListKesu.h"
#include "prep/AutoPrepu.h"
#include "settings/SetKesu.h"
#include "settings/core/CodeTableBackup.h"
#include "ui/Application.h"
#include "ui/DateEdit.h"
#include "ui/FormSetup.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"
#include "ui/VirtualListBox.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

#include <exception>

namespace {

// The window's outer size is 399 x 353 with a frame of 4 pixels on each side
// and a caption of 23 pixels; Qt sizes the inside.
constexpr int kClientWidth = 391;
constexpr int kClientHeight = 326;
constexpr int kStatusBarHeight = 17;
constexpr int kPeriodTabStop = 30; // dialog units

} // namespace

TKesPrepMainForm::TKesPrepMainForm(QWidget* parent, const std::string& settingsDir)
    : QWidget(parent), settingsDir_(settingsDir) {
    // The table layer's settings come first: they make MM/dd/yyyy the
    // program's short date format before anything shows or reads a date.
    AdsSettings1.Apply();
    createControls();

    GLRunOnce1 = new TGLRunOnce(this);
    GLRunOnce1->setObjectName("GLRunOnce1");
    GLRunOnce1->SetAlwaysTerminate(false);
    GLRunOnce1->SetAppName("Kestal Prepare");
    GLRunOnce1->SetErrorMessage("KesPrep is already running!");
    GLRunOnce1->SetShowErrorMessage(true);
    GLRunOnce1->SetAlwaysSwitchToPreviousInstance(false);
    GLRunOnce1->Loaded();

    ui::guarded(this, [this] { FormCreate(); });
}

TKesPrepMainForm::~TKesPrepMainForm() {
    ui::guarded(nullptr, [this] { FormDestroy(); });
}

void TKesPrepMainForm::createControls() {
    ui::setUpFixedWindow(this, "KesPrepMainForm", "Prepare ORVA Upload File for Kestal",
                         kClientWidth, kClientHeight);

    Label4 = ui::makeLabel(this, "Label4", "ORVA", 13, 5);
    Label2 = ui::makeLabel(this, "Label2", "Testing Periods:", 11, 19);

    ListBox2 = new ui::VirtualListBox(this);
    ListBox2->setObjectName("ListBox2");
    ListBox2->setGeometry(12, 37, 169, 147);
    ListBox2->setItemTextCallback([this](int index) { return ListBox2GetItem(index); });
    ListBox2->setAccessibleName("Testing Periods");

    rgSearch = new ui::RadioGroup("&Search", {"Temporary", "Master"}, this);
    rgSearch->setObjectName("rgSearch");
    rgSearch->setGeometry(194, 15, 175, 58);
    rgSearch->setItemIndex(0);

    GroupBox1 = new QGroupBox("Date Selection:", this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(193, 79, 177, 108);

    rbAllDates = new ui::RadioButton("All Dates", GroupBox1);
    rbAllDates->setObjectName("rbAllDates");
    rbAllDates->setGeometry(8, 17, 73, 17);
    rbAllDates->setChecked(true);
    rbSelectedDates = new ui::RadioButton("Selected Dates", GroupBox1);
    rbSelectedDates->setObjectName("rbSelectedDates");
    rbSelectedDates->setGeometry(8, 35, 98, 17);

    btnToday = ui::makeButton(GroupBox1, "btnToday", "&Today", QRect(108, 31, 61, 22));
    btnToday->setFlat(true);

    edtBegDate = new ui::DateEdit(GroupBox1);
    edtBegDate->setObjectName("edtBegDate");
    edtBegDate->setGeometry(71, 56, 100, 21);
    lblBegDate = ui::makeLabel(GroupBox1, "lblBegDate", "&Begin Date:", 9, 64);
    lblBegDate->setBuddy(edtBegDate);
    edtBegDate->lineEdit()->setAccessibleName("Begin Date");

    edtEndDate = new ui::DateEdit(GroupBox1);
    edtEndDate->setObjectName("edtEndDate");
    edtEndDate->setGeometry(71, 80, 100, 21);
    lblEndDate = ui::makeLabel(GroupBox1, "lblEndDate", "&End Date:", 9, 82);
    lblEndDate->setBuddy(edtEndDate);
    edtEndDate->lineEdit()->setAccessibleName("End Date");

    btnAuto = ui::makeButton(this, "btnAuto", "&Auto Prepare", QRect(194, 200, 91, 27));
    btnAuto->setEnabled(false);
    btnHistory = ui::makeButton(this, "btnHistory", "&History", QRect(194, 231, 91, 27));
    btnFind = ui::makeButton(this, "btnFind", "&Find", QRect(293, 199, 77, 27));
    btnFind->setEnabled(false);
    btnSettings = ui::makeButton(this, "btnSettings", "&Settings", QRect(293, 231, 77, 27));
    CloselBtn = ui::makeButton(this, "CloselBtn", "&Close", QRect(293, 263, 77, 27));

    StatusBar1 = ui::makeStatusBar(this, kStatusBarHeight);
    ProgressBar1 = ui::makeProgressBar(StatusBar1);
    ProgressBar1->setGeometry(168, 1, 211, 16);
    // Across the whole panel while it tells of a missed failure; the
    // progress bar, idle then, makes room for it.
    lblHistoryNotice = new QLabel(StatusBar1);
    lblHistoryNotice->setObjectName("lblHistoryNotice");
    lblHistoryNotice->setGeometry(2, 0, kClientWidth - 4, kStatusBarHeight);
    lblHistoryNotice->setCursor(Qt::PointingHandCursor);
    lblHistoryNotice->setAccessibleDescription("Opens the history");
    lblHistoryNotice->installEventFilter(this);
    lblHistoryNotice->hide();

    // Tab goes down the period list, then the right-hand column from top to
    // bottom, every option of the two choices in its place, then the buttons
    // from left to right and top to bottom.
    const std::initializer_list<QWidget*> tabOrder = {
        ListBox2,   rgSearch->button(0), rgSearch->button(1),
        rbAllDates, rbSelectedDates,     btnToday,
        edtBegDate, edtEndDate,          btnAuto,
        btnFind,    btnHistory,          btnSettings,
        CloselBtn};
    for (auto it = tabOrder.begin(); it + 1 != tabOrder.end(); ++it)
        setTabOrder(*it, *(it + 1));
    btnToday->setFocusPolicy(Qt::StrongFocus); // a flat button is a Tab stop as well

    connect(ListBox2, &ui::VirtualListBox::itemIndexChanged, this,
            [this] { ui::guarded(this, [this] { ListBox2Click(); }); });
    for (QRadioButton* button : {rbAllDates, rbSelectedDates}) {
        connect(button, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) ui::guarded(this, [this] { rbAllDatesClick(); });
        });
    }
    connect(btnToday, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnTodayClick(); }); });
    connect(btnSettings, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnSettingsClick(); }); });
    connect(CloselBtn, &QPushButton::clicked, this, &QWidget::close);
    connect(btnFind, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnFindClick(); }); });
    connect(btnAuto, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnAutoClick(); }); });
    connect(btnHistory, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { btnHistoryClick(); }); });

    // As created: "All Dates" chosen, so the date controls are disabled.
    rbAllDatesClick();
}

void TKesPrepMainForm::FormCreate() {
    ProgramState& program = program_;
    if (!settingsDir_.empty()) {
        program.ExeDir = settingsDir_;
        if (program.ExeDir.back() != PathDelim) program.ExeDir += PathDelim;
    } else {
        program.ExeDir =
            QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString() +
            PathDelim;
    }
    program.PeriodRows.clear();
    program.PeriodNumbers.clear();
    program.PeriodNames.clear();
}

bool TKesPrepMainForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) firstActivation();
    return QWidget::event(e);
}

void TKesPrepMainForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // Some window systems never make a window active without a window
    // manager; the first showing counts as the first activation there.
    firstActivation();
}

void TKesPrepMainForm::firstActivation() {
    if (activationQueued_) return;
    activationQueued_ = true;
    // Run from the event loop, not from inside the window system's event.
    QTimer::singleShot(0, this, [this] { ui::guarded(this, [this] { FormActivate(); }); });
}

void TKesPrepMainForm::FormActivate() {
    if (activated_) return;
    activated_ = true;
    if (GLRunOnce1->AlreadyRunning()) GLRunOnce1->SwitchToPreviousInstance();

    const SettingsValues loaded = ReadSettings(SettingsFile());
    program_.DataDir = loaded.DataDir;
    program_.Kinds = loaded.Kinds;
    program_.Fields = loaded.Fields;
    program_.FileFormat = loaded.FileFormat;
    SavedPeriod = loaded.SavedPeriod;
    rgSearch->setItemIndex(loaded.SearchItem);
    if (loaded.SelectedDates) rbSelectedDates->setChecked(true);
    rbAllDatesClick();
    if (loaded.SelectedDates) {
        edtBegDate->setDate(loaded.BeginDate);
        edtEndDate->setDate(loaded.EndDate);
    }

    BuildPeriodList();
    ListBox2Click();
    ShowMissedFailure();
}

void TKesPrepMainForm::FormClose() {}

void TKesPrepMainForm::closeEvent(QCloseEvent* e) {
    ui::guarded(this, [this] { FormClose(); });
    e->accept();
}

std::string TKesPrepMainForm::SettingsFile() const {
    return SettingsFilePath(program_.ExeDir);
}

void TKesPrepMainForm::FormDestroy() {
    ProgramState& program = program_;
    // Only a window whose settings were loaded saves them: one that never
    // got that far would overwrite the file with the controls' defaults.
    if (activated_) {
        ClosingSettings values;
        const int position = PeriodListPosition(program, ListBox2->itemIndex());
        if (position >= 0) values.PeriodNumber = program.PeriodNumbers[position];
        values.SearchItem = rgSearch->itemIndex();
        values.SelectedDates = rbSelectedDates->isChecked();
        values.BeginDate = edtBegDate->date();
        values.EndDate = edtEndDate->date();
        SaveClosingSettings(SettingsFile(), values);
    }
    program.PeriodRows.clear();
    program.PeriodNumbers.clear();
    program.PeriodNames.clear();
}

std::string TKesPrepMainForm::ListBox2GetItem(int index) const {
    const auto& rows = program_.PeriodRows;
    if (index < 0 || index >= static_cast<int>(rows.size())) return {};
    return rows[index];
}

void TKesPrepMainForm::ListBox2Click() {
    const int row = ListBox2->itemIndex();
    btnAuto->setEnabled(row >= 0);
    btnFind->setEnabled(row >= 0);
    program_.SelectedPeriodIndex = row;
}

void TKesPrepMainForm::rbAllDatesClick() {
    const bool range = !rbAllDates->isChecked();
    for (QWidget* control :
         std::initializer_list<QWidget*>{btnToday, edtBegDate, edtEndDate, lblBegDate, lblEndDate})
        control->setEnabled(range);
}

void TKesPrepMainForm::btnTodayClick() {
    const kes::Date today = kes::Date::today();
    edtBegDate->setDate(today);
    edtEndDate->setDate(today);
}

void TKesPrepMainForm::BuildPeriodList() {
    ProgramState& program = program_;
    ui::processEvents();
    // The list asks for rows by index whenever it repaints, also while a
    // message box is open during the scan; with no rows it asks for none.
    const int previousRow = ListBox2->itemIndex();
    ListBox2->setCount(0);
    ListBox2->setTabStopDialogUnits(kPeriodTabStop);

    PeriodScanOutcome outcome;
    try {
        ui::HourglassCursor hourglass;
        outcome = ScanTestingPeriods(program, AdsTable2, operator_);
    } catch (...) {
        ListBox2->setCount(static_cast<int>(program.PeriodRows.size()));
        throw;
    }
    if (outcome == PeriodScanOutcome::Cancelled) {
        ui::requestTermination();
        return;
    }
    const std::string message = PeriodScanMessage(outcome);
    if (!message.empty()) operator_.ShowError(message);

    const int rows = static_cast<int>(program.PeriodRows.size());
    ListBox2->setCount(rows);
    if (previousRow >= 0 && previousRow < rows) ListBox2->setItemIndex(previousRow);

    const int saved = RowOfPeriodNumber(program, SavedPeriod);
    if (saved >= 0) {
        ListBox2->setItemIndex(saved);
        program.SelectedPeriodIndex = saved;
    }
    ListBox2->viewport()->update();
    ui::processEvents();
}

void TKesPrepMainForm::btnSettingsClick() {
    ProgramState& program = program_;
    // The code tables are the dialog's alone while it is open, backed up
    // before it opens: no preparation gathers by them meanwhile. The session
    // outlives the dialog, whose tables write their last pending row when it
    // is destroyed.
    CodeTableSession codeTables(program.DataDir);
    TSetPathtoORVAForm form(this, program);
    form.Edit2->setText(QString::fromStdString(program.DataDir));
    form.chkPlacement->setChecked(program.Kinds.Placement);
    form.chkAssessment->setChecked(program.Kinds.Assessment);
    form.chkScores->setChecked(program.Kinds.Scores);
    form.rgFileFormat->setItemIndex(program.FileFormat);
    form.chkPandA->setChecked(program.Fields.PandA);
    form.chkAttempt->setChecked(program.Fields.Attempted);
    form.chkSubscores->setChecked(program.Fields.Subscores);
    form.chkSiteCode->setChecked(program.Fields.SiteCode);

    if (!codeTables.notice().empty()) ui::showInformation(codeTables.notice(), this);
    if (!codeTables.editable()) {
        // The other settings can still be changed.
        form.KeepCodeTablesClosed();
        ui::showError(codeTables.refusal(), this);
    }
    if (form.exec() != QDialog::Accepted) {
        // The dialog's tables first, pending rows discarded: only closed
        // files can be put back as they were.
        form.DiscardAndCloseCodeTables();
        const std::vector<std::string> problems = codeTables.restore();
        if (!problems.empty()) {
            std::string text = "The code tables could not all be put back as they were:";
            for (const std::string& problem : problems)
                text += "\r\n" + problem;
            ui::showError(text, this);
        }
        return;
    }

    // The dialog's last pending row goes to the disk with its tables' close;
    // then the code tables' changes are kept for good.
    std::string notKept;
    try {
        form.FormDestroy();
    } catch (const std::exception& e) {
        notKept = e.what();
    }
    if (notKept.empty()) notKept = codeTables.keep();
    if (!notKept.empty())
        ui::showError("The changes of the code tables could not be confirmed: " + notKept +
                          ". The next preparation or settings dialog will put the tables back "
                          "as they were before this dialog opened.",
                      this);

    // The values are the program's before the settings file is written, so
    // that a file that cannot be written loses none of them for this run.
    const std::string typed = form.Edit2->text().toStdString();
    const bool newDirectory = typed != program.DataDir;
    program.Kinds = {form.chkPlacement->isChecked(), form.chkAssessment->isChecked(),
                     form.chkScores->isChecked()};
    // A stored layout that is none of the four shows no choice; unless the
    // operator picks one it stays as stored (the export refuses it and says
    // so) instead of becoming -1.
    if (form.rgFileFormat->itemIndex() >= 0) program.FileFormat = form.rgFileFormat->itemIndex();
    program.Fields = {form.chkAttempt->isChecked(), form.chkSubscores->isChecked(),
                      form.chkPandA->isChecked(), form.chkSiteCode->isChecked()};
    if (newDirectory) {
        program.DataDir = NormalizePath(typed);
        BuildPeriodList();
        ListBox2Click();
        ShowMissedFailure();
    }
    SaveDialogSettings(SettingsFile(), program.DataDir, program.Kinds, program.FileFormat,
                       program.Fields);
}

std::optional<PlanChoices> TKesPrepMainForm::PrepareSearch() {
    PlanChoices choices = ChoicesOf(program_);
    const int row = ListBox2->itemIndex();
    if (row >= 0) choices.Period = std::to_string(row + 1);
    choices.SearchTemporary = rgSearch->itemIndex() == 0;
    choices.Dates = DateSelection::All();
    if (rbSelectedDates->isChecked()) {
        // An empty picker, or one holding text that is no date, reads as day zero.
        choices.Dates = DateSelection::Between(edtBegDate->date(), edtEndDate->date());
        const std::string refused = DateSelectionMessage(*choices.Dates);
        if (!refused.empty()) {
            ui::showError(refused, this);
            return std::nullopt;
        }
    }
    return choices;
}

void TKesPrepMainForm::btnFindClick() {
    const auto choices = PrepareSearch();
    if (!choices) return;
    // One preparation at a time per data folder, held from the gathering until
    // the selection window closes: the operator may export from it more than
    // once, and every export must be of the rows gathered here.
    Preparation preparation(MakePreparationPlan(SettingsFile(), *choices, PlanUse::Windows),
                            PreparationFrontEnd::FindAndExport);
    std::string account;
    {
        // The status panel is the gathering's while it runs.
        struct NoticeAside {
            TKesPrepMainForm* form;
            const QString headline = form->historyHeadline_;
            const QString reason = form->historyReason_;
            NoticeAside(TKesPrepMainForm* f) : form(f) { form->setHistoryNotice({}, {}); }
            ~NoticeAside() { form->setHistoryNotice(headline, reason); }
        } aside{this};
        // The gathering's texts and progress appear on this window's status panel.
        ui::PreparationOperator gathering(this, StatusBar1, ProgressBar1);
        const GatherReport report = preparation.Gather(gathering);
        if (report == GatherResult::Cancelled) {
            ui::requestTermination();
            return;
        }
        account = GatherAccountText(report.account);
    }
    TListKestalScoresForm selection(this, preparation);
    selection.ShowGatherAccount(account);
    selection.exec();
}

void TKesPrepMainForm::btnAutoClick() {
    const auto choices = PrepareSearch();
    if (!choices) return;
    TAutoPrepForm automatic(this, *choices, SettingsFile());
    automatic.exec();
    // A timed run that failed while the window stood open is told here too.
    ShowMissedFailure();
}

void TKesPrepMainForm::btnHistoryClick() {
    THistoryForm history(this, program_.DataDir);
    setHistoryNotice({}, {});
    history.exec();
    // Seen: the newest entry the window showed.
    if (!history.Entries().empty())
        SaveHistoryLastSeen(SettingsFile(), history.Entries().front().Ended);
}

void TKesPrepMainForm::ShowMissedFailure() {
    const std::optional<HistoryEntry> missed =
        MissedFailure(ReadHistory(program_.DataDir), ReadSettings(SettingsFile()).HistoryLastSeen);
    if (!missed) {
        setHistoryNotice({}, {});
        return;
    }
    setHistoryNotice(QString::fromStdString(missed->FrontEnd + " " +
                                            HistoryTimeText(missed->Started) + " not prepared: "),
                     QString::fromStdString(missed->Reason));
}

void TKesPrepMainForm::setHistoryNotice(const QString& headline, const QString& reason) {
    historyHeadline_ = headline;
    historyReason_ = reason;
    const QString text = headline + reason;
    if (text.isEmpty()) {
        lblHistoryNotice->hide();
        ProgressBar1->show();
        return;
    }
    // The run and its time whole, as much of the reason as the panel holds
    // (its beginning and its end, where a file name stands); all of it in the
    // tooltip.
    const QFontMetrics metrics = lblHistoryNotice->fontMetrics();
    const int room = lblHistoryNotice->width() - 2 * lblHistoryNotice->margin();
    const int reasonRoom = room - metrics.horizontalAdvance(headline);
    lblHistoryNotice->setText(reasonRoom > metrics.averageCharWidth() * 12
                                  ? headline +
                                        metrics.elidedText(reason, Qt::ElideMiddle, reasonRoom)
                                  : metrics.elidedText(text, Qt::ElideRight, room));
    lblHistoryNotice->setToolTip(text + "\nClick, or press Alt+H, to open the history.");
    lblHistoryNotice->setAccessibleName(text);
    ProgressBar1->hide();
    lblHistoryNotice->show();
}

bool TKesPrepMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblHistoryNotice && event->type() == QEvent::MouseButtonRelease) {
        ui::guarded(this, [this] { btnHistoryClick(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
