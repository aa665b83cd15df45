// TSetPathtoORVAForm, "Set Path to ORVA": the data directory, the upload
// file's layout and contents, and the two code tables on pages of their own.
// The main window fills it from the program-wide state, shows it modally and
// takes the values over after OK; the dialog itself writes no settings. The
// code pages open the code tables of the data directory in effect when the
// dialog was created; every change to them is written at once.
#pragma once

#include "app/core/ProgramState.h"
#include "data/AdsTable.h"
#include "ui/WindowOperator.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class CodeGrid;
class DBNavigator;
enum class CodeTableKind;

namespace ui {
class RadioGroup;
}

class TSetPathtoORVAForm : public QDialog {
    Q_OBJECT
  public:
    // `program` is the main window's program-wide state: the period list the
    // code pages are built from, and the layout a choice of "File Format"
    // changes at once.
    TSetPathtoORVAForm(QWidget* owner, ProgramState& program);
    // Writes a pending row of KESPLACE, then KESTEST, and releases both.
    ~TSetPathtoORVAForm() override;

    // Event handlers.
    void FormCreate();
    void FormDestroy();
    void Button2Click();
    void OvcNotebook1PageChange(int index);
    void ComboBox1Change();
    void ComboBox2Change();
    void btnBuildPClick();
    void btnBuildTClick();
    void btnAllClick();
    void btnNoneClick();
    void rgFileFormatClick();
    void btnPrintClick();

    // Open (and create when missing) a code table at its first row.
    bool OpenPlacementCodes();
    bool OpenTestCodes();

    // Closes both code tables with their pending rows discarded, so that the
    // files can be put back after a Cancel.
    void DiscardAndCloseCodeTables();

    // While another process prepares from the data folder the code tables
    // are not the dialog's to change: their two pages cannot be chosen.
    void KeepCodeTablesClosed();

    // Controls, named as the dialog's design names them.
    QTabWidget* OvcNotebook1;
    QWidget* PagePath;
    QWidget* PageOptions;
    QWidget* PagePlacement;
    QWidget* PageTest;
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLineEdit* Edit2;
    QPushButton* Button2;
    ui::RadioGroup* rgFileFormat;
    QGroupBox* GroupBox2;
    QCheckBox* chkPlacement;
    QCheckBox* chkAssessment;
    QCheckBox* chkScores;
    QGroupBox* GroupBox3;
    QCheckBox* chkAttempt;
    QCheckBox* chkSubscores;
    QCheckBox* chkPandA;
    QCheckBox* chkSiteCode;
    QPushButton* btnPrint;
    QComboBox* ComboBox1;
    QPushButton* btnBuildP;
    CodeGrid* wwDBGrid1;
    QComboBox* ComboBox2;
    QPushButton* btnBuildT;
    CodeGrid* wwDBGrid2;
    DBNavigator* wwDBNavigator1;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    // The code tables behind DataSource1 (KESPLACE) and DataSource4 (KESTEST).
    TAdsTable AdsTable1;
    TAdsTable AdsTable4;

  private:
    void createControls();
    void refillPeriodChooser(QComboBox* chooser, QPushButton* build);
    void fitPeriodChooser(QComboBox* chooser, QPushButton* build);
    // The period number of the chooser's entry, 0 when no entry is selected.
    int chosenPeriod(const QComboBox* chooser) const;
    void rebuild(QComboBox* chooser, TAdsTable& table, CodeGrid* grid, CodeTableKind kind);
    CodeGrid* gridOfNavigator() const;

    ProgramState& program_;
    std::string dataDir_;
    ui::WindowOperator operator_{this};
};
