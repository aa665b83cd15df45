// THistoryForm: the window "History". It lists the preparations of the data
// folder's history, newest first, the ones that were not prepared marked with
// an error sign and those prepared with warnings with a warning sign, and
// shows every value of the chosen entry below the list. Opened from the main
// window's "History" button (Alt+H) or its status panel.
#pragma once

#include "app/core/PreparationHistory.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

class THistoryForm : public QDialog {
    Q_OBJECT
  public:
    // Reads the history of `dataDir` (ends in PathDelim).
    THistoryForm(QWidget* owner, const std::string& dataDir);

    // The entries shown, newest first.
    const std::vector<HistoryEntry>& Entries() const { return entries_; }

    // The grid's column titles, in order.
    static const std::vector<const char*>& ColumnTitles();

    // Controls.
    QLabel* lblHistory; // "&Preparations:", the grid's access key
    QTableWidget* grdHistory;
    QLabel* lblDetails; // "&Details:"
    QPlainTextEdit* memDetails;
    QLabel* lblSummary; // how many, or why none
    QPushButton* btnClose;

  private:
    void createControls();
    void fill();
    void showDetails(int row);

    std::string dataDir_;
    std::vector<HistoryEntry> entries_;
    std::string readError_;
};

// An entry's time ("2004-06-15 02:00:05") as the program shows times
// ("06/15/2004 02:00:05"); other text stays as it is.
std::string HistoryTimeText(const std::string& time);
// The dates of an entry as the program shows them: "All Dates" or
// "09/01/2005 - 09/30/2005".
std::string HistoryDatesText(const HistoryEntry& entry);
