// Operator: the one way the program's operations talk to the person at the
// machine. A long operation shows a status text, a progress bar and the
// hourglass; it asks and tells through message boxes of three kinds; opening
// a table asks whether to try again; the upload file's writer shows a
// progress window. The windows, the command-line program and the tests each
// implement this once, and every operation gets the one to use as an argument.
// No Qt here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Modes and bases of a progress window.
inline constexpr int pmImport = 0;
inline constexpr int pmExport = 1;
inline constexpr int pbRecords = 0;
inline constexpr int pbBytes = 1;

// The progress window of a file transfer: created at the start of the
// transfer, initialised, shown, updated every so many records, then released.
class TExportProgress {
  public:
    virtual ~TExportProgress() = default;
    virtual void Initialize(int mode, int basis, const std::string& fileName, int64_t totalRecords,
                            int64_t totalBytes) = 0;
    // Shows the window without making it modal.
    virtual void Show() = 0;
    // Shows the amounts done and repaints at once (no event loop runs meanwhile).
    virtual void UpdateProgress(int64_t recordsDone, int64_t bytesDone) = 0;
};

class Operator {
  public:
    virtual ~Operator() = default;

    // A status text ("" clears it). Pending window events run after it, so
    // the windows repaint in the middle of a long operation.
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void SetProgressRange(int minimum, int maximum) = 0;
    virtual void SetProgress(int position) = 0;
    // The hourglass mouse cursor (true) or the normal one.
    virtual void SetHourglass(bool on) = 0;
    // Lets pending window events run once (the windows repaint).
    virtual void ProcessPendingEvents() = 0;

    // An error box with an OK button.
    virtual void ShowError(const std::string& text) = 0;
    // An information box with an OK button.
    virtual void ShowInformation(const std::string& text) = 0;
    // A warning box with an OK button: done, but with something the operator
    // must read.
    virtual void ShowWarning(const std::string& text) = 0;
    // A confirmation box with Yes and Cancel; true for Yes.
    virtual bool Confirm(const std::string& text) = 0;

    // The question after a table failed to open again and again: an error box
    // with OK and Cancel; true for OK (try again).
    virtual bool AskRetry(const std::string& text) = 0;
    // The notice that the operator gave up and the program ends (an error
    // box with OK).
    virtual void ShowCancelled(const std::string& text) = 0;

    // A progress window for the upload file's writer; null when there is
    // none to show.
    virtual std::unique_ptr<TExportProgress> CreateExportProgress() = 0;
};

// An operator nobody watches: it shows nothing, answers Cancel to every
// question (so a table that does not open is given up at the first question)
// and has no progress window. For benchmarks and tools without a screen.
class SilentOperator : public Operator {
  public:
    void ShowStatus(const std::string&) override {}
    void SetProgressRange(int, int) override {}
    void SetProgress(int) override {}
    void SetHourglass(bool) override {}
    void ProcessPendingEvents() override {}
    void ShowError(const std::string&) override {}
    void ShowInformation(const std::string&) override {}
    void ShowWarning(const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
    bool AskRetry(const std::string&) override { return false; }
    void ShowCancelled(const std::string&) override {}
    std::unique_ptr<TExportProgress> CreateExportProgress() override { return nullptr; }
};
