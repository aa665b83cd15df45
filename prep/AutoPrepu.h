// TAutoPrepForm: the automatic preparation window. Armed, it checks the hour
// once a second and, at the first tick within the chosen hour, gathers the
// records, selects all of them in a selection window it never shows and
// writes the upload file to the name it keeps in the settings file; then it
// returns to its inactive state. "Prepare Export File" does the same at once.
// The main window's Find also creates one without showing it, to run its
// GatherRecords.
#pragma once

#include "prep/core/Gather.h"

#include <QDialog>

#include <memory>
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
class RadioGroup;
}

// The hour list of the time box; the position in the list is the hour of the day.
extern const char* const kAutoExportHours[24];

class TAutoPrepForm : public QDialog {
    Q_OBJECT
  public:
    // Takes its own copy of the main window's date filter.
    explicit TAutoPrepForm(QWidget* owner);
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

    // Sets the date filter, gathers, and writes every gathered row to the file
    // named in Edit2 through a selection window that is never shown. True only
    // when the upload file was written; the export's own message has told
    // why not otherwise.
    bool PrepareExportFile();

    // Rebuilds the work table from the program-wide choices and DateFilter,
    // reporting on this window's status panel and progress bar (or where
    // ReportProgressOn says) under the hourglass. Raises the table layer's
    // error; returns normally also when the operator gave up on an open, after
    // requesting the program's end (GatherCancelled then tells).
    void GatherRecords();
    bool GatherCancelled() const { return gatherCancelled_; }
    // What the last gathering did with the records it read.
    const GatherAccount& Account() const { return account_; }

    // Shows the gathering's status texts and progress on another window's
    // status panel and progress bar (the main window's, when this window is
    // not shown). Null pointers give this window's own back.
    void ReportProgressOn(QStatusBar* statusBar, QProgressBar* progressBar);

    // The list position of the hour box: the hour whose text the box holds
    // exactly, -1 for none.
    int HourPosition() const;

    bool AutoActive = false;
    std::string DateFilter;

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

  protected:
    bool event(QEvent* event) override;

  private:
    void createControls();
    void setStatusText(const QString& text);
    void applyEnablingRule(bool enable);
    void setInactiveControlsEnabled(bool enabled);

    class StatusPanel;
    std::unique_ptr<StatusPanel> statusPanel_;
    std::string saveFileName_ = "temp";
    bool gatherCancelled_ = false;
    GatherAccount account_;
};
