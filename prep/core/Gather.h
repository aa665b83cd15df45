// GatherRecords: rebuilds the work table KESTABLE from one testing period's
// placement, assessment and score tables, completing every row with the
// student's data, the ID, the site code and the translated test code and
// score, and dropping the rows the code tables exclude. No windows: it talks
// to the operator through the Operator it is given.
#pragma once

#include "common/Operator.h"
#include "data/AdsTable.h"

#include <string>

struct GatherOptions {
    std::string DataDir;   // ends in PathDelim
    std::string PeriodDir; // "VIRNTP" + n + PathDelim
    bool SearchTemporary = true;
    bool IncludePlacement = true;
    bool IncludeAssessment = true;
    bool IncludeScores = true;
    bool IncludeSiteCode = false;
    std::string DateFilter; // a date-range expression, or empty for all dates
};

enum class GatherResult {
    Done,      // the work table is built and closed
    Cancelled, // the operator gave up on an open: the program is to end
};

// The work table's field list, exactly as the table is created.
extern const char* const WorkTableFieldList;

// Creates the empty work table KESTABLE in `dataDir` (a stale KESTABLE.cdx is
// removed first), opens it exclusively into `table` and adds its four tags.
// False when the operator gave up on the open.
bool CreateWorkTable(TAdsTable& table, const std::string& dataDir, Operator& op);

// Empty when the data folder and the period folder (relative to it; may be
// empty) are usable; otherwise the reason: no data folder set, a path cut at
// 255 characters, a folder that does not exist.
std::string DataFolderProblem(const std::string& dataDir, const std::string& periodDir);

// Runs one gathering, showing its status texts, progress and hourglass to
// `op`. The data folder and the period folder are checked first
// (std::runtime_error with DataFolderProblem's text; nothing is created), then
// the data folder's PreparationLock is held for the run (EPreparationBusy
// when another process holds it).
// Table-layer errors propagate as EADSDatabaseError after every table has
// been closed.
GatherResult GatherRecords(const GatherOptions& options, Operator& op);
