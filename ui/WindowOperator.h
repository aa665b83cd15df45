// WindowOperator: the Operator of the windows. Messages are modal message
// boxes (answerable by tests, see Modal.h); the hourglass is the program's
// mouse cursor; a status text goes to the status panel of the window that
// owns the operator and lets pending window events run; the progress goes to
// that window's progress bar; the export progress window is the one the window
// asks for (none unless it does). A window without a status panel or progress
// bar simply gives none.
#pragma once

#include "common/Operator.h"

#include <QElapsedTimer>

#include <functional>

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
    void ShowWarning(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    bool AskRetry(const std::string& text) override;
    void ShowCancelled(const std::string& text) override;
    std::unique_ptr<TExportProgress> CreateExportProgress() override;

    // What CreateExportProgress makes: the upload file's progress window of the
    // window that exports.
    using ExportProgressFactory = std::function<std::unique_ptr<TExportProgress>()>;
    void SetExportProgress(ExportProgressFactory factory) { exportProgress_ = std::move(factory); }

  protected:
    QStatusBar* statusPanel() const { return statusPanel_; }
    QProgressBar* progressBar() const { return progressBar_; }

  private:
    QWidget* owner_;
    QStatusBar* statusPanel_;
    QProgressBar* progressBar_;
    ExportProgressFactory exportProgress_;
};

// The operator of a long preparation shown on a window's status panel and
// progress bar. The windows repaint at each status text and now and then
// while the records are processed; input waits until the preparation is
// over, so that no button starts a second one in the middle of the first.
class PreparationOperator : public WindowOperator {
  public:
    PreparationOperator(QWidget* owner, QStatusBar* statusPanel, QProgressBar* progressBar);

    void ShowStatus(const std::string& text) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgress(int position) override;

  private:
    static constexpr int kRepaintInterval = 100; // ms
    QElapsedTimer repaintClock_;
};

} // namespace ui
