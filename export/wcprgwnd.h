// TProgressWindow: a small always-on-top tool window without buttons that shows
// how far a file transfer has come: the file, the records and kilobytes done,
// the rate, the time remaining and a percentage with a bar. It repaints itself
// inside the caller's loop; no event loop needs to run. The texts come from
// ProgressTexts, which holds all of the window's logic.
#pragma once

#include "common/Operator.h"
#include "export/core/ProgressText.h"

#include <QDialog>

class QLabel;
class QProgressBar;

class TProgressWindow : public QDialog, public TExportProgress {
    Q_OBJECT
  public:
    explicit TProgressWindow(QWidget* owner = nullptr);

    void Initialize(int mode, int basis, const std::string& fileName, int64_t totalRecords,
                    int64_t totalBytes) override;
    void Show() override;
    void UpdateProgress(int64_t recordsDone, int64_t bytesDone) override;

    // The time-remaining text at this moment.
    std::string RemainingText() const;

    int ProgressMode() const { return texts_.Mode; }
    int ProgressBasis() const { return texts_.Basis; }

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* lbFile;
    QLabel* lbRecords;
    QLabel* lbBytes;
    QLabel* lbTime;
    QProgressBar* ProgressBar;
    QLabel* lbPercentage;

  private:
    void showTexts();
    ProgressTexts texts_;
};

// A new progress window for an operator to hand the export component (not a
// child of any window: the component alone owns and releases it).
std::unique_ptr<TExportProgress> NewProgressWindow();
