// TKesPrepMainForm: the program's main window. The operator picks a testing
// period, chooses the temporary or the master tables and all dates or a date
// range, and starts Find, Auto Prepare or Settings. On its first activation
// it hands over to a running copy if there is one, loads the settings file,
// lists the testing periods and reselects the saved one; when it is destroyed
// it saves the period, the Search choice and the dates.
#pragma once

#include "app/core/PreparationPlan.h"
#include "app/core/ProgramState.h"
#include "data/AdsTable.h"
#include "ui/WindowOperator.h"

#include <QWidget>

#include <optional>
#include <string>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class TGLRunOnce;

namespace ui {
class DateEdit;
class RadioGroup;
class VirtualListBox;
} // namespace ui

class TKesPrepMainForm : public QWidget {
    Q_OBJECT
  public:
    // `settingsDir` replaces the executable's directory as ExeDir (where
    // KesPrep.ini lies) when it is not empty; the program passes nothing.
    explicit TKesPrepMainForm(QWidget* parent = nullptr, const std::string& settingsDir = {});
    ~TKesPrepMainForm() override;

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void FormDestroy();
    std::string ListBox2GetItem(int index) const;
    void ListBox2Click();
    void rbAllDatesClick();
    void btnTodayClick();
    void btnFindClick();
    void btnAutoClick();
    // Opens the window "History" on the data folder's preparation history;
    // the operator has then seen it, and the status panel's notice goes.
    void btnHistoryClick();

    // The status panel's notice of a failed timed or kesprep-batch run that
    // ended after the history was last seen (MissedFailure): the run, its
    // time and its reason, until the history is opened. Read from the data
    // folder when the window opens and when the data folder changes.
    void ShowMissedFailure();
    // The notice's whole text, "" when none is shown.
    QString HistoryNoticeText() const { return historyHeadline_ + historyReason_; }

    // The first part of Find and Auto Prepare: the choices of a preparation
    // from the window's controls (period, Search choice, dates) and from what
    // the window holds (data directory, record kinds, optional fields,
    // layout). Nothing when a date message was shown.
    std::optional<PlanChoices> PrepareSearch();
    void btnSettingsClick();

    // Lists the testing periods of DataDir and restores the saved one.
    void BuildPeriodList();

    // True once the activation step has run (it runs once per run).
    bool Activated() const { return activated_; }

    // Controls, named as the window's design names them.
    QLabel* Label4;
    QLabel* Label2;
    ui::VirtualListBox* ListBox2;
    QPushButton* btnFind;
    QPushButton* btnSettings;
    QPushButton* CloselBtn;
    QGroupBox* GroupBox1;
    QRadioButton* rbAllDates;
    QRadioButton* rbSelectedDates;
    QPushButton* btnToday;
    QLabel* lblBegDate;
    ui::DateEdit* edtBegDate;
    QLabel* lblEndDate;
    ui::DateEdit* edtEndDate;
    ui::RadioGroup* rgSearch;
    QStatusBar* StatusBar1;
    QProgressBar* ProgressBar1;
    QPushButton* btnAuto;
    QPushButton* btnHistory;
    QLabel* lblHistoryNotice; // in StatusBar1; a click opens the history

    // Components without a visible face.
    TGLRunOnce* GLRunOnce1;
    TAdsSettings AdsSettings1;
    TAdsTable AdsTable2; // the period table

    // "Testing Periods"/"ORVA From" as read at start-up.
    std::string SavedPeriod;

    // The program-wide state: the data directory, the period list, the
    // record kinds, optional fields and layout, for the whole run.
    ProgramState& Program() { return program_; }
    const ProgramState& Program() const { return program_; }
    // KesPrep.ini in the program's folder.
    std::string SettingsFile() const;

    // How the main window's own operations talk to the operator: message
    // boxes over this window. Its status panel and progress bar stay unused.
    Operator& MainOperator() { return operator_; }

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createControls();
    void firstActivation();
    // The notice: which run failed and when, then why ("" and "": none).
    void setHistoryNotice(const QString& headline, const QString& reason);

    ui::WindowOperator operator_{this};
    ProgramState program_;
    std::string settingsDir_;
    bool activationQueued_ = false;
    bool activated_ = false;
    QString historyHeadline_;
    QString historyReason_;
};
