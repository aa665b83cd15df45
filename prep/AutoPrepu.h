// TAutoPrepForm: the automatic preparation window. Armed, it checks the hour
// once a second and, at the first tick within the chosen hour, makes a
// preparation of the main window's choices (with today's date when "Current
// Date" is chosen) that gathers the records and writes all of them, in SSN
// order, to the file name it keeps in the settings file; then it returns to
// its inactive state. "Prepare Export File" does the same at once.
#pragma once

#include "app/core/Preparation.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolButton;

namespace ui {
class PreparationOperator;
class RadioGroup;
} // namespace ui

// The hour list of the time box; the position in the list is the hour of the day.
extern const char* const kAutoExportHours[24];

class TAutoPrepForm : public QDialog {
    Q_OBJECT
  public:
    // Takes its own copy of the main window's choices (its dates among them)
    // and the settings file it reads and writes.
    TAutoPrepForm(QWidget* owner, PlanChoices choices, std::string settingsFile);
    ~TAutoPrepForm() override;

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void FormDeactivate();
    void Edit2Change();
    void ComboBox1Change();
    void SpeedButton1Click();
    void btnActivateClick();
    void btnExportClick();
    // Every second while armed: the timed run at the first tick within the chosen hour.
    void Timer1Timer();
    // Every second: the clock labels.
    void Timer2Timer();

    void ActivateAutoExport();
    void DeactivateAutoExport();

    // The plan of a run: the main window's choices, today alone when
    // "Current Date" is chosen, and the file named in Edit2.
    PreparationPlan PlanOfRun() const;

    // One preparation of PlanOfRun: gathers, and writes every gathered row
    // to the file named in Edit2. True only when the upload file was written;
    // the export's own message has told why not otherwise. The history names
    // the run by `frontEnd` (the button, or the timed run).
    bool PrepareExportFile(PreparationFrontEnd frontEnd = PreparationFrontEnd::PrepareExportFile);

    // The gathering of the running preparation, reported on this window's
    // status panel and progress bar under the hourglass. Raises the table
    // layer's error; returns normally also when the operator gave up on an
    // open, after requesting the program's end (GatherCancelled then tells).
    void GatherRecords();
    bool GatherCancelled() const { return gatherCancelled_; }
    // What the last gathering did with the records it read.
    const GatherAccount& Account() const { return account_; }

    // The list position of the hour box: the hour whose text the box holds
    // exactly, -1 for none.
    int HourPosition() const;

    bool AutoActive = false;

    // Controls, named as the window's design names them.
    QLabel* lblDate;
    QLabel* lblTime;
    ui::RadioGroup* rgdate;
    QGroupBox* GroupBox1;
    QComboBox* ComboBox1;
    QPushButton* btnActivate;
    QLabel* Label1;
    QLineEdit* Edit2;
    QToolButton* SpeedButton1;
    QPushButton* btnExport;
    QPushButton* btnClose;
    QStatusBar* StatusBar1;
    QProgressBar* ProgressBar1;
    QTimer* Timer1;
    QTimer* Timer2;

    // The status panel's text.
    QString StatusText() const;

    // The save dialog's design values.
    static constexpr const char* kSaveTitle = "Save Kestal Export File";
    static constexpr const char* kSaveFilter = "Text files (*.txt)|*.txt|All files (*.*)|*.*";
    static constexpr const char* kSaveExtension = "asc";

    // Closes the window unless it is armed (Esc, the close box, Close).
    void reject() override;

  protected:
    bool event(QEvent* event) override;

  private:
    void createControls();
    void setStatusText(const QString& text);
    void applyEnablingRule(bool enable);
    void setInactiveControlsEnabled(bool enabled);

    PlanChoices choices_;
    std::string settingsFile_;
    std::unique_ptr<ui::PreparationOperator> statusPanel_;
    std::optional<Preparation> preparation_; // while one runs
    std::string saveFileName_ = "temp";
    bool settingsRead_ = false;
    bool gatherCancelled_ = false;
    GatherAccount account_;
};
