#include "app/core/Preparation.h"

#include "prep/core/WorkTable.h"

#include <stdexcept>
#include <utility>

namespace {

// Nothing is created before the folders are known to be the right ones: not
// even the lock file.
const PreparationPlan& checkedFolders(const PreparationPlan& plan) {
    const std::string missing = MissingFolderMessage(plan, false);
    if (!missing.empty()) throw std::runtime_error(missing);
    return plan;
}

} // namespace

Preparation::Preparation(PreparationPlan plan)
    : plan_(std::move(plan)), lock_(checkedFolders(plan_).DataDir) {}

GatherReport Preparation::Gather(Operator& op) {
    return GatherRecords(plan_.Gathering(), op);
}

ExportOutcome Preparation::Export(TExportWriter& writer, TAdsTable& workTable,
                                  const std::vector<TBookmark>& rows, const std::string& uploadFile,
                                  Operator& op) {
    return writer.BuildExportFile(workTable, rows, plan_.Exporting(uploadFile), op);
}

ExportAllResult Preparation::ExportAll(Operator& op) {
    ExportAllResult result;
    TAdsTable work;
    if (!OpenWorkTable(work, plan_.DataDir, op)) {
        result.Outcome = ExportOutcome::Cancelled;
        return result;
    }
    const std::vector<TBookmark> all = SelectAllInOrder(work, "SSN");
    TExportWriter writer;
    result.Outcome = Export(writer, work, all, plan_.OutputFile, op);
    work.Close();
    if (result.Outcome == ExportOutcome::Prepared) result.Rows = all.size();
    result.Failure = writer.LastFailure();
    return result;
}
