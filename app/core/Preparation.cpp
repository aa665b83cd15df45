#include "app/core/Preparation.h"

#include "common/Sha256.h"
#include "os/Os.h"
#include "prep/core/WorkTable.h"
#include "settings/core/CodeTableBackup.h"

#include <stdexcept>
#include <utility>

namespace {

const char* const kLayoutNames[] = {"Fixed Format", "Pipe Delimited", "Comma Delimited",
                                    "Tab Delimited"};

// The reason of a run that ended without a file when the writer gave none.
constexpr const char* kNoDataReason = "No data in date range.";
constexpr const char* kGaveUpReason = "A table could not be opened and the run was given up";

std::string now() {
    return HistoryTime(kes::Clock::instance().now());
}

std::string isoDate(const kes::Date& date) {
    const std::string digits = date.toYyyymmdd();
    return digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
}

// Forwards everything to the front end's operator and keeps the last
// question about a table that did not open: when the operator gives up, it
// names the table and what went wrong, for the history.
class QuestionKeeper : public Operator {
  public:
    explicit QuestionKeeper(Operator& op) : op_(op) {}
    std::string lastQuestion;

    void ShowStatus(const std::string& text) override { op_.ShowStatus(text); }
    void SetProgressRange(int minimum, int maximum) override {
        op_.SetProgressRange(minimum, maximum);
    }
    void SetProgress(int position) override { op_.SetProgress(position); }
    void SetHourglass(bool on) override { op_.SetHourglass(on); }
    void ProcessPendingEvents() override { op_.ProcessPendingEvents(); }
    void ShowError(const std::string& text) override { op_.ShowError(text); }
    void ShowInformation(const std::string& text) override { op_.ShowInformation(text); }
    void ShowWarning(const std::string& text) override { op_.ShowWarning(text); }
    bool Confirm(const std::string& text) override { return op_.Confirm(text); }
    bool AskRetry(const std::string& text) override {
        lastQuestion = text;
        return op_.AskRetry(text);
    }
    void ShowCancelled(const std::string& text) override { op_.ShowCancelled(text); }
    std::unique_ptr<TExportProgress> CreateExportProgress() override {
        return op_.CreateExportProgress();
    }

    std::string gaveUpReason() const {
        return lastQuestion.empty() ? kGaveUpReason
                                    : kGaveUpReason + std::string(": ") + lastQuestion;
    }

  private:
    Operator& op_;
};

// Nothing is created before the folders are known to be the right ones: not
// even the lock file.
const PreparationPlan& checkedFolders(const PreparationPlan& plan) {
    const std::string missing = MissingFolderMessage(plan, false);
    if (!missing.empty()) throw std::runtime_error(missing);
    return plan;
}

// The lock of a preparation that may start. A refusal because another
// preparation holds the folder goes into the history before it goes on to the
// front end (the folder is the right one: a preparation runs there). Missing
// folders add nothing: nothing is created in a folder that may be the wrong one.
PreparationLock takeLock(const PreparationPlan& plan, PreparationFrontEnd frontEnd,
                         const std::string& started) {
    try {
        return PreparationLock(checkedFolders(plan).DataDir);
    } catch (const EPreparationBusy& e) {
        HistoryEntry entry = Preparation::EntryOf(plan, frontEnd, started);
        entry.Ended = now();
        entry.Rows = "0";
        entry.Outcome = HistoryOutcome::NotPrepared;
        entry.Reason = e.what();
        AppendHistoryEntry(plan.DataDir, entry);
        throw;
    }
}

} // namespace

Preparation::Preparation(PreparationPlan plan, PreparationFrontEnd frontEnd)
    : plan_(std::move(plan)), frontEnd_(frontEnd), started_(now()),
      lock_(takeLock(plan_, frontEnd_, started_)) {}

HistoryEntry Preparation::EntryOf(const PreparationPlan& plan, PreparationFrontEnd frontEnd,
                                  const std::string& started) {
    HistoryEntry entry;
    entry.Started = started;
    entry.FrontEnd = FrontEndName(frontEnd);
    entry.User = kes::os::userName();
    entry.Period = plan.Period;
    entry.Set = plan.SearchTemporary ? "Temporary" : "Master";
    if (!plan.Dates.AllDates) {
        entry.BeginDate = isoDate(plan.Dates.Begin);
        entry.EndDate = isoDate(plan.Dates.End);
    }
    const int layout = static_cast<int>(plan.Layout);
    entry.Layout = IsKnownLayout(plan.Layout) ? kLayoutNames[layout] : std::to_string(layout);
    const std::pair<bool, const char*> fields[] = {{plan.Fields.Attempted, "Attempted"},
                                                   {plan.Fields.Subscores, "Subscores"},
                                                   {plan.Fields.PandA, "Purpose and Accommodation"},
                                                   {plan.Fields.SiteCode, "Site Code"}};
    for (const auto& [on, name] : fields)
        if (on)
            entry.OptionalFields += (entry.OptionalFields.empty() ? "" : "; ") + std::string(name);
    // The selection window names its file at each Export; before that a
    // Find has none.
    if (frontEnd != PreparationFrontEnd::FindAndExport) entry.UploadFile = plan.OutputFile;
    return entry;
}

void Preparation::record(const std::string& started, HistoryOutcome outcome, size_t rows,
                         const std::string& uploadFile, const std::string& reason) {
    HistoryEntry entry = EntryOf(plan_, frontEnd_, started);
    if (!uploadFile.empty()) entry.UploadFile = uploadFile;
    entry.Outcome = outcome;
    entry.Rows = std::to_string(outcome == HistoryOutcome::NotPrepared ? 0 : rows);
    entry.Reason = reason;
    if (outcome != HistoryOutcome::NotPrepared) {
        kes::FileDigest digest;
        std::string error;
        if (kes::digestFile(uploadFile, digest, error)) {
            entry.Size = std::to_string(digest.size);
            entry.Sha256 = digest.sha256;
        } else {
            entry.Reason += (entry.Reason.empty() ? "" : "; ") + error;
        }
    }
    entry.Ended = now();
    historyProblem_ = AppendHistoryEntry(plan_.DataDir, entry);
}

std::string PreparedWithWarningsMessage(const std::vector<std::string>& warnings) {
    std::string text = kExportPreparedText;
    for (const std::string& warning : warnings)
        text += "\r\nWarning: " + warning;
    return text;
}

GatherReport Preparation::Gather(Operator& op) {
    QuestionKeeper keeper(op);
    warnings_.clear();
    try {
        // Code tables a settings dialog left half changed, when the program
        // stopped with it open, are put back before a code is looked up.
        const UnendedSession unended = PutBackUnendedSession(plan_.DataDir);
        if (!unended.problems.empty())
            throw std::runtime_error(UnendedSessionMessage(unended, plan_.DataDir));
        if (unended.putBack) op.ShowStatus(UnendedSessionMessage(unended, plan_.DataDir));
        GatherReport report = GatherRecords(plan_.Gathering(), keeper);
        warnings_ = report.account.warnings;
        if (report.result == GatherResult::Cancelled)
            record(started_, HistoryOutcome::NotPrepared, 0, "", keeper.gaveUpReason());
        return report;
    } catch (const std::exception& e) {
        record(started_, HistoryOutcome::NotPrepared, 0, "", e.what());
        throw;
    }
}

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "; ") + line;
    return text;
}

// The history's outcome and reason of what the writer did.
std::pair<HistoryOutcome, std::string> historyOutcome(ExportOutcome outcome,
                                                      const TExportWriter& writer,
                                                      const QuestionKeeper& keeper,
                                                      const std::vector<std::string>& warnings) {
    switch (outcome) {
    case ExportOutcome::Prepared:
        if (!warnings.empty()) return {HistoryOutcome::PreparedWithWarnings, joined(warnings)};
        return {HistoryOutcome::Prepared, ""};
    case ExportOutcome::NotPrepared:
        return {HistoryOutcome::NotPrepared,
                writer.LastFailure().empty() ? kExportNotPreparedText : writer.LastFailure()};
    case ExportOutcome::NoData:
        return {HistoryOutcome::NotPrepared, kNoDataReason};
    case ExportOutcome::Cancelled:
        break;
    }
    return {HistoryOutcome::NotPrepared, keeper.gaveUpReason()};
}

} // namespace

void Preparation::showOutcome(const TExportWriter& writer, ExportOutcome outcome,
                              Operator& op) const {
    if (outcome == ExportOutcome::Prepared && !warnings_.empty())
        op.ShowWarning(PreparedWithWarningsMessage(warnings_));
    else
        writer.ShowOutcome(outcome, op);
}

ExportOutcome Preparation::Export(TExportWriter& writer, TAdsTable& workTable,
                                  const std::vector<TBookmark>& rows, const std::string& uploadFile,
                                  Operator& op) {
    const std::string started = now();
    QuestionKeeper keeper(op);
    ExportOutcome outcome;
    try {
        outcome = writer.WriteExportFile(workTable, rows, plan_.Exporting(uploadFile), keeper);
    } catch (const std::exception& e) {
        record(started, HistoryOutcome::NotPrepared, 0, uploadFile, e.what());
        throw;
    }
    const auto [written, reason] = historyOutcome(outcome, writer, keeper, warnings_);
    record(started, written, rows.size(), uploadFile, reason);
    showOutcome(writer, outcome, op);
    return outcome;
}

ExportAllResult Preparation::ExportAll(Operator& op) {
    ExportAllResult result;
    QuestionKeeper keeper(op);
    TExportWriter writer;
    std::vector<TBookmark> all;
    try {
        TAdsTable work;
        if (!OpenWorkTable(work, plan_.DataDir, keeper)) {
            record(started_, HistoryOutcome::NotPrepared, 0, plan_.OutputFile,
                   keeper.gaveUpReason());
            result.Outcome = ExportOutcome::Cancelled;
            return result;
        }
        all = SelectAllInOrder(work, "SSN");
        result.Outcome = writer.WriteExportFile(work, all, plan_.Exporting(), keeper);
        work.Close();
    } catch (const std::exception& e) {
        record(started_, HistoryOutcome::NotPrepared, 0, plan_.OutputFile, e.what());
        throw;
    }
    if (result.Outcome == ExportOutcome::Prepared) {
        result.Rows = all.size();
        result.Warnings = warnings_;
    }
    result.Failure = writer.LastFailure();
    const auto [written, reason] = historyOutcome(result.Outcome, writer, keeper, warnings_);
    record(started_, written, all.size(), plan_.OutputFile, reason);
    showOutcome(writer, result.Outcome, op);
    return result;
}
