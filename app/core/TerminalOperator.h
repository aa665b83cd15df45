// TerminalOperator: the Operator of kesprep-batch. Status texts and the
// outcome are lines on standard output, errors lines on standard error; on a
// terminal the progress is a bar redrawn in place and the upload file's
// progress is one line. Nobody is there to answer: a question is reported
// and answered Cancel, so a table that does not open is given up at the first
// question; what is reported then is the failure ("Unable to open Table: ..."),
// without the question and without the window's notice that the program ends.
#pragma once

#include "common/Operator.h"

#include <iosfwd>

class TerminalOperator : public Operator {
  public:
    // `progressBars`: draw bars that redraw in place (standard output is a
    // terminal); otherwise only whole lines are written.
    TerminalOperator(std::ostream& out, std::ostream& err, bool progressBars);

    void ShowStatus(const std::string& text) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgress(int position) override;
    void SetHourglass(bool) override {}
    void ProcessPendingEvents() override {}
    void ShowError(const std::string& text) override;
    void ShowInformation(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    bool AskRetry(const std::string& text) override;
    void ShowCancelled(const std::string& text) override;
    std::unique_ptr<TExportProgress> CreateExportProgress() override;

    // Clears a progress bar that is on screen, so that a line can follow.
    void EndProgressBar();

  private:
    void reportError(const std::string& text);

    std::ostream& out_;
    std::ostream& err_;
    bool progressBars_;
    int minimum_ = 0, maximum_ = 0, lastPercent_ = -1;
    bool barShown_ = false;
};
