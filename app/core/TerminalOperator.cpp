#include "app/core/TerminalOperator.h"

#include <algorithm>
#include <ostream>

namespace {

constexpr int kBarWidth = 40;
constexpr size_t kBarLineWidth = 50;
constexpr size_t kExportLineWidth = 70;

// A message box's text as one line: its line breaks become blanks.
std::string oneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        line += text[i] == '\n' ? ' ' : text[i];
    }
    return line;
}

// The upload file's progress as one line that redraws in place.
class TerminalExportProgress : public TExportProgress {
  public:
    explicit TerminalExportProgress(std::ostream& out) : out_(out) {}
    ~TerminalExportProgress() override {
        out_ << '\r' << std::string(kExportLineWidth, ' ') << '\r' << std::flush;
    }
    void Initialize(int, int, const std::string&, int64_t totalRecords, int64_t) override {
        total_ = totalRecords;
    }
    void Show() override { draw(0); }
    void UpdateProgress(int64_t records, int64_t) override { draw(records); }

  private:
    void draw(int64_t records) {
        const int64_t percent = total_ > 0 ? records * 100 / total_ : 0;
        out_ << "\rWriting: " << records << " of " << total_ << " records " << percent << '%'
             << std::flush;
    }
    std::ostream& out_;
    int64_t total_ = 0;
};

} // namespace

TerminalOperator::TerminalOperator(std::ostream& out, std::ostream& err, bool progressBars)
    : out_(out), err_(err), progressBars_(progressBars) {}

void TerminalOperator::ShowStatus(const std::string& text) {
    EndProgressBar();
    if (!text.empty()) out_ << text << std::endl;
}

void TerminalOperator::SetProgressRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    lastPercent_ = -1;
}

void TerminalOperator::SetProgress(int position) {
    if (!progressBars_ || maximum_ <= minimum_) return;
    const int64_t span = static_cast<int64_t>(maximum_) - minimum_;
    const int percent = static_cast<int>(
        std::clamp<int64_t>((static_cast<int64_t>(position) - minimum_) * 100 / span, 0, 100));
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    const int filled = percent * kBarWidth / 100;
    out_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kBarWidth - filled), ' ') << "] " << percent << '%'
         << std::flush;
    barShown_ = true;
}

void TerminalOperator::EndProgressBar() {
    if (barShown_) out_ << '\r' << std::string(kBarLineWidth, ' ') << '\r' << std::flush;
    barShown_ = false;
    lastPercent_ = -1;
}

void TerminalOperator::reportError(const std::string& text) {
    EndProgressBar();
    out_ << std::flush;
    err_ << oneLine(text) << std::endl;
}

void TerminalOperator::ShowError(const std::string& text) {
    reportError(text);
}

void TerminalOperator::ShowInformation(const std::string& text) {
    EndProgressBar();
    out_ << oneLine(text) << std::endl;
}

void TerminalOperator::ShowWarning(const std::string& text) {
    // On the error output too: a scheduler's mail of it is what an office reads.
    reportError(text);
}

bool TerminalOperator::Confirm(const std::string& text) {
    reportError(text + " (no one to answer: Cancel)");
    return false;
}

bool TerminalOperator::AskRetry(const std::string& text) {
    // The first line says what failed; the second asks whether to go on.
    reportError(text.substr(0, text.find("\r\n")));
    return false;
}

void TerminalOperator::ShowCancelled(const std::string&) {
    // The failure is reported already; the exit status says the rest.
}

std::unique_ptr<TExportProgress> TerminalOperator::CreateExportProgress() {
    if (!progressBars_) return nullptr;
    EndProgressBar();
    return std::make_unique<TerminalExportProgress>(out_);
}
