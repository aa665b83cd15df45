// Preparation: the one road of a preparation, whichever front end starts it
// (the main window's Find, the automatic window, kesprep-batch). It takes a
// plan, holds the data folder's lock from its start to its end, so that no
// other process (a scheduled kesprep-batch, a second copy of the program)
// rebuilds the work table between its gathering and its exports, gathers the
// plan's records into the work table and writes rows of it to upload files.
// The front ends only turn their controls or arguments into a plan and show
// what the preparation reports through their Operator. No Qt here.
#pragma once

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
};

class Preparation {
  public:
    // Checks that the plan's data directory and period folder exist
    // (std::runtime_error naming the folder; nothing is created), then takes
    // the data folder's lock (EPreparationBusy when another process holds it).
    explicit Preparation(PreparationPlan plan);
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

  private:
    PreparationPlan plan_;
    PreparationLock lock_;
};
