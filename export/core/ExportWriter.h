// BuildExportFile: turns the selected rows of the work table KESTABLE into the
// upload file. The rows are copied, already rendered as text, into the
// staging table KESTALEX in the data directory, a slice at a time, and
// TCSVExport writes each slice in the chosen layout as it is made: neither
// the staging table nor the file is held whole. The upload file is written under a temporary name
// and renamed over the target only when complete, so a failure never leaves a
// half-written upload file in place of the previous one.
//
// No windows: the outcome message, the progress bar, the hourglass and the
// progress window go through the Operator the caller gives.
#pragma once

#include "common/Operator.h"
#include "data/AdsTable.h"
#include "export/core/wccsvexp.h"

#include <string>
#include <vector>

// The three outcome messages, exactly as the operator sees them.
inline constexpr const char* kExportPreparedText = "Export File has been successfully prepared.";
inline constexpr const char* kExportNotPreparedText = "Export File has been not prepared.";
inline constexpr const char* kExportNoDataText =
    "No data in date range.  Export File was not prepared.";

struct ExportOptions {
    std::string DataDir; // ends in PathDelim
    int FileFormat = 0;  // 0 Fixed, 1 Pipe, 2 Comma, 3 Tab; any other is not written
    bool IncludeAttempted = false;
    bool IncludeSubscores = false;
    bool IncludePandA = false;
    bool IncludeSiteCode = false;
    std::string UploadFile;   // the file to write
    std::string SettingsFile; // the settings file, which the upload file may not replace
};

enum class ExportOutcome {
    Prepared,    // "Export File has been successfully prepared."
    NotPrepared, // "Export File has been not prepared."
    NoData,      // "No data in date range.  Export File was not prepared."
    Cancelled,   // the operator gave up on opening the staging table: the program is to end
};

// The message of an upload file that was not prepared: the fixed text and,
// on a line of its own, why ("Unable to create ...", "Unknown file layout
// ..."), when the writer knows.
std::string NotPreparedMessage(const std::string& reason);

// The staging table's field list for the optional fields that are on.
std::string StagingFieldList(const ExportOptions& options);

// The staging table and the export component of one selection window. The
// component starts with the window's design values (ShowProgress on, the rest
// at the component's defaults) and keeps its layout between runs.
class TExportWriter {
  public:
    TExportWriter();

    TAdsTable AdsTable6;   // the staging table
    TCSVExport CSVExport1; // writes it

    // Runs one export of `selected` (positions in `workTable`, in this order).
    // `op` gets the progress bar, the hourglass, the export component's
    // progress window and the outcome message (information box when prepared,
    // error box otherwise; "not prepared" names the reason, NotPreparedMessage).
    // Shows exactly one outcome message, except when the
    // operator gives up on
    // the staging table's open (Cancelled) or a table-layer error ends the run
    // (the EADSDatabaseError propagates after the staging table is closed and
    // the cursor restored). The caller holds the data folder's
    // PreparationLock (a Preparation does).
    ExportOutcome BuildExportFile(TAdsTable& workTable, const std::vector<TBookmark>& selected,
                                  const ExportOptions& options, Operator& op);

    // BuildExportFile in its two halves, for a caller that has something to
    // do between the file and the message: the run without the outcome
    // message, and the message of an outcome (nothing for Cancelled).
    ExportOutcome WriteExportFile(TAdsTable& workTable, const std::vector<TBookmark>& selected,
                                  const ExportOptions& options, Operator& op);
    void ShowOutcome(ExportOutcome outcome, Operator& op) const;

    // Why the last run was not prepared (a write error's text), empty otherwise.
    const std::string& LastFailure() const { return lastFailure_; }

  private:
    std::string lastFailure_;
};
