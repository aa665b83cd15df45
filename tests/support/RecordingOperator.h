// An Operator for tests: it records everything an operation shows and asks,
// and answers questions from a script, without any window or terminal.
#pragma once

#include "common/Operator.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class RecordingOperator : public Operator {
  public:
    std::vector<std::string> statuses;
    std::vector<bool> hourglass; // every change of the cursor, in order
    int rangeMinimum = -1, rangeMaximum = -1;
    std::vector<int> positions; // every progress position, in order
    int pendingEventRuns = 0;
    // Message boxes in order, as "error: text", "info: text", "warning: text"
    // or "confirm: text".
    std::vector<std::string> messages;
    std::vector<std::string> questions; // the retry questions
    std::vector<std::string> cancelNotes;

    // Answers to the retry questions in turn; once they run out, retryOtherwise.
    std::vector<bool> retryAnswers;
    bool retryOtherwise = false;
    bool confirmAnswer = false;
    // Runs when a status text is shown, with the text.
    std::function<void(const std::string&)> onStatus;
    // Runs when the progress bar moves, with its position.
    std::function<void(int)> onProgress;
    // Runs when the retry question is asked, before the answer is given.
    std::function<void()> onAsk;
    // Makes the export progress window; none without it.
    std::function<std::unique_ptr<TExportProgress>()> progressWindow;

    bool hourglassShown() const { return !hourglass.empty() && hourglass.back(); }
    int highestProgress() const {
        return positions.empty() ? -1 : *std::max_element(positions.begin(), positions.end());
    }
    int lastProgress() const { return positions.empty() ? -1 : positions.back(); }

    void ShowStatus(const std::string& text) override {
        statuses.push_back(text);
        ++pendingEventRuns;
        if (onStatus) onStatus(text);
    }
    void SetProgressRange(int minimum, int maximum) override {
        rangeMinimum = minimum;
        rangeMaximum = maximum;
    }
    void SetProgress(int position) override {
        positions.push_back(position);
        if (onProgress) onProgress(position);
    }
    void SetHourglass(bool on) override { hourglass.push_back(on); }
    void ProcessPendingEvents() override { ++pendingEventRuns; }
    void ShowError(const std::string& text) override { messages.push_back("error: " + text); }
    void ShowInformation(const std::string& text) override { messages.push_back("info: " + text); }
    void ShowWarning(const std::string& text) override { messages.push_back("warning: " + text); }
    bool Confirm(const std::string& text) override {
        messages.push_back("confirm: " + text);
        return confirmAnswer;
    }
    bool AskRetry(const std::string& text) override {
        questions.push_back(text);
        if (onAsk) onAsk();
        const size_t asked = questions.size() - 1;
        return asked < retryAnswers.size() ? retryAnswers[asked] : retryOtherwise;
    }
    void ShowCancelled(const std::string& text) override { cancelNotes.push_back(text); }
    std::unique_ptr<TExportProgress> CreateExportProgress() override {
        return progressWindow ? progressWindow() : nullptr;
    }
};

} // namespace testsupport
