// TListKestalScoresForm: the window "Select Records". The operator reviews the
// rows that the main window's Find gathered into the work table KESTABLE,
// selects the ones to send, names the upload file and runs the export, as
// often as he likes, each time through the preparation that gathered them.
#pragma once

#include "app/core/Preparation.h"
#include "data/AdsTable.h"
#include "export/core/ExportWriter.h"
#include "export/core/SelectedRows.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QItemSelection;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QToolButton;
class TKestalScoresGrid;
class TKestalScoresModel;
namespace ui {
class WindowOperator;
}

class TListKestalScoresForm : public QDialog {
    Q_OBJECT
  public:
    // Runs FormCreate: the file name from the plan's settings file, the work
    // table of the plan's data directory opened shared in SSN order. The
    // preparation outlives the window; every export goes through it.
    TListKestalScoresForm(QWidget* owner, Preparation& preparation);
    ~TListKestalScoresForm() override;

    int SelectedCount = 0;
    int TotalCount = 0;

    // The navigator bar's moves.
    enum NavigateButton { nbFirst, nbPriorPage, nbPrior, nbNext, nbNextPage, nbLast };

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void FormDestroy();
    void btnAllClick();
    void btnNoneClick();
    void wwDBGrid1MultiSelectRecord(const QItemSelection& selected,
                                    const QItemSelection& deselected);
    void Edit1Change();
    void SpeedButton1Click();
    void btnExportClick();
    void RadioButton1Click(QRadioButton* sender);
    bool wwDBGrid1KeyDown(QKeyEvent* event);
    void wwIncrementalSearch1Change();
    void wwDBNavigator2Click(NavigateButton button);

    // Writes the selected rows, in the order they were selected, to the file
    // named in Edit1; the outcome is shown in a message box and returned.
    // Cancelled when the work table is not open or the operator gave up on
    // the staging table.
    ExportOutcome BuildExportFile();

    // The rows selected, in their order.
    const std::vector<TBookmark>& SelectedRowsList() const { return selected_.List(); }
    // False when the operator gave up on opening the work table.
    bool TableOpen() const { return AdsTable1.Active(); }
    // The grid's current row (-1: none).
    int CurrentRow() const;
    // The status panel's selection text.
    QString StatusText() const;

    // Where the gathering's records went (its account as text): the status
    // panel's tooltip, and a "Details" message that Ctrl+D opens. Without it
    // the window shows neither.
    void ShowGatherAccount(const std::string& text);
    void DetailsClick();
    const std::string& GatherAccount() const { return gatherAccount_; }

    // Controls, named as the window's design names them.
    QWidget* wwDBNavigator2;
    QToolButton* NavigatorButtons[6];
    QToolButton* btnAll;
    QToolButton* btnNone;
    QLabel* Label1; // "Searc&h:"
    QLineEdit* wwIncrementalSearch1;
    QLabel* Label2; // "Order By:"
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    QRadioButton* RadioButton4;
    TKestalScoresGrid* wwDBGrid1;
    QLabel* Label3; // "File Name;"
    QLineEdit* Edit1;
    QToolButton* SpeedButton1;
    QPushButton* btnExport;
    QPushButton* btnCancel;
    QStatusBar* StatusBar1;
    QLabel* StatusPanel;
    QProgressBar* ProgressBar1;

    // Components without a visible face.
    TAdsTable AdsTable1;   // the work table
    TExportWriter Export1; // the staging table AdsTable6 and CSVExport1
    std::string SaveDialog1FileName;

  protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

  private:
    void createControls();
    void fitToFont();
    void refresh();
    void moveToRow(int row);
    void showSelection();
    void currentRowChanged(int row);

    Preparation& preparation_;
    std::unique_ptr<ui::WindowOperator> operator_;
    TKestalScoresModel* model_;
    SelectedRows selected_;
    std::string searchField_ = "SSN";
    bool syncingSelection_ = false;
    bool created_ = false;
    std::string gatherAccount_;
    bool detailsShortcut_ = false;
};
