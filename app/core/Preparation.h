// Preparation: the one road of a preparation, whichever front end starts it
// (the main window's Find, the automatic window, kesprep-batch). It takes a
// plan, holds the data folder's lock from its start to its end, so that no
// other process (a scheduled kesprep-batch, a second copy of the program)
// rebuilds the work table between its gathering and its exports, gathers the
// plan's records into the work table and writes rows of it to upload files.
// The front ends only turn their controls or arguments into a plan and show
// what the preparation reports through their Operator.
//
// Every preparation adds one entry to the data folder's history (see
// PreparationHistory.h), written here while the lock is held and before the
// outcome message is shown, so that a message nobody answers at night does
// not keep the entry back:
//  - an unattended run (ExportAll after Gather): one entry from the start of
//    the preparation to the end of its upload file;
//  - the selection window: one entry for each Export (Export), from the
//    press to the end of that file; a Find closed without an Export adds none;
//  - a gathering that fails or is given up: one entry, not prepared;
//  - a preparation refused at its start because another process holds the
//    data folder: one entry, not prepared, appended without the lock (the
//    other holds it); one refused for a missing folder adds none.
// No Qt here.
#pragma once

#include "app/core/PreparationHistory.h"
#include "app/core/PreparationPlan.h"
#include "common/Operator.h"
#include "common/PreparationLock.h"
#include "data/AdsTable.h"
#include "export/core/ExportWriter.h"
#include "prep/core/Gather.h"

#include <cstddef>
#include <string>
#include <vector>

// What an unattended export of every record did.
struct ExportAllResult {
    ExportOutcome Outcome = ExportOutcome::NotPrepared;
    size_t Rows = 0;     // records written to the upload file (when prepared)
    std::string Failure; // why the file was not prepared, when the writer knows
    // What the operator must read about a file that was prepared (the
    // gathering's warnings); empty when there is nothing.
    std::vector<std::string> Warnings;
};

// The outcome message of a file prepared with warnings: the message of a
// prepared file, then each warning on a line of its own.
std::string PreparedWithWarningsMessage(const std::vector<std::string>& warnings);

class Preparation {
  public:
    // Checks that the plan's data directory and period folder exist
    // (std::runtime_error naming the folder; nothing is created), then takes
    // the data folder's lock (EPreparationBusy when another process holds it).
    // `frontEnd` names who runs it in the history.
    Preparation(PreparationPlan plan, PreparationFrontEnd frontEnd);
    Preparation(const Preparation&) = delete;
    Preparation& operator=(const Preparation&) = delete;

    const PreparationPlan& Plan() const { return plan_; }

    // Rebuilds the work table from the plan's period, tables, dates and
    // record kinds (see GatherRecords).
    GatherReport Gather(Operator& op);

    // Writes `rows` (positions in the open work table `workTable`, in this
    // order) to `uploadFile` in the plan's layout with its optional fields,
    // through `writer` (see TExportWriter::BuildExportFile).
    ExportOutcome Export(TExportWriter& writer, TAdsTable& workTable,
                         const std::vector<TBookmark>& rows, const std::string& uploadFile,
                         Operator& op);

    // The unattended export: every record of the work table, in SSN order, to
    // the plan's upload file. Cancelled when the operator gave up on a table.
    ExportAllResult ExportAll(Operator& op);

    // The warnings of the gathering, which every upload file prepared from
    // its work table carries (its history entry says "Prepared with
    // warnings" and the outcome message shows them).
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // Why the last history entry could not be written, "" when it was.
    const std::string& HistoryProblem() const { return historyProblem_; }

    // The history entry of a preparation of `plan` by `frontEnd` that started
    // at `started`, with everything the plan tells; the caller adds the end,
    // the outcome and the file's figures.
    static HistoryEntry EntryOf(const PreparationPlan& plan, PreparationFrontEnd frontEnd,
                                const std::string& started);

  private:
    // Adds the entry of what ended now. `uploadFile` is the file written (its
    // size and checksum are read back when prepared); "" for the plan's.
    void record(const std::string& started, HistoryOutcome outcome, size_t rows,
                const std::string& uploadFile, const std::string& reason);

    // The writer's outcome message, or the one with the warnings.
    void showOutcome(const TExportWriter& writer, ExportOutcome outcome, Operator& op) const;

    PreparationPlan plan_;
    PreparationFrontEnd frontEnd_;
    std::string started_; // when the preparation began (HistoryTime)
    PreparationLock lock_;
    std::string historyProblem_;
    std::vector<std::string> warnings_;
};
