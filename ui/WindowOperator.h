// WindowOperator: the Operator of the windows. Messages are modal message
// boxes (answerable by tests, see Modal.h); the hourglass is the program's
// mouse cursor; a status text goes to the status panel of the window that
// owns the operator and lets pending window events run; the progress goes to
// that window's progress bar; the export progress window is a TProgressWindow.
// A window without a status panel or progress bar simply gives none.
#pragma once

#include "common/Operator.h"

class QProgressBar;
class QStatusBar;
class QWidget;

namespace ui {

class WindowOperator : public Operator {
  public:
    // `owner` is the parent of the message boxes (null: the active window).
    explicit WindowOperator(QWidget* owner = nullptr, QStatusBar* statusPanel = nullptr,
                            QProgressBar* progressBar = nullptr);

    void ShowStatus(const std::string& text) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgress(int position) override;
    void SetHourglass(bool on) override;
    void ProcessPendingEvents() override;
    void ShowError(const std::string& text) override;
    void ShowInformation(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    bool AskRetry(const std::string& text) override;
    void ShowCancelled(const std::string& text) override;
    std::unique_ptr<TExportProgress> CreateExportProgress() override;

  private:
    QWidget* owner_;
    QStatusBar* statusPanel_;
    QProgressBar* progressBar_;
};

} // namespace ui
