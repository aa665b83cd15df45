// GatherRecords: rebuilds the work table KESTABLE from one testing period's
// placement, assessment and score tables, completing every row with the
// student's data, the ID, the site code and the translated test code and
// score, and dropping the rows the code tables exclude. No windows: it talks
// to the operator through the Operator it is given.
#pragma once

#include "common/Operator.h"
#include "common/PreparationLock.h"
#include "data/AdsTable.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

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

// What one record table gave the work table. Deleted records are not counted.
struct RecordTableAccount {
    std::string table;    // the table read ("PlacTemp", "Assess", ...); empty when not read
    int read = 0;         // records in the table
    int outsideDates = 0; // left out by the date range (an empty test date is outside)
    int setAside = 0;     // master set, within the dates: duplicates, or retests marked "N"
    int copied = 0;       // copied into the work table
};

// The account of one gathering: where every record read went. It answers an
// office's question after an upload, "why is this student missing?".
struct GatherAccount {
    RecordTableAccount placement, assessment, scores;
    // Records per testing code, in code order. A code missing from its code
    // table keeps its row with the test code and score left blank; a row of
    // the code table that is not included, or whose new code is blank, drops
    // the record.
    std::map<std::string, int> notInCodeTable;
    std::map<std::string, int> notIncluded;
    std::map<std::string, int> blankNewCode;
    int studentNotFound = 0; // rows kept whose student was not found: their names stay blank
    int kept = 0;            // rows in the work table
};

// The account as lines an operator reads, the last one the rows kept.
std::vector<std::string> GatherAccountLines(const GatherAccount& account);
// The same lines joined by line feeds.
std::string GatherAccountText(const GatherAccount& account);

struct GatherReport {
    GatherResult result = GatherResult::Done;
    GatherAccount account; // complete when result is Done
};
inline bool operator==(const GatherReport& report, GatherResult result) {
    return report.result == result;
}

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

// The data folder's preparation lock for a whole preparation: held from the
// start of its gathering to the end of its last export, so that no other
// process (a scheduled kesprep-batch) rebuilds the work table between the
// two. The folders are checked first, as GatherRecords checks them
// (std::runtime_error with DataFolderProblem's text; nothing is created);
// EPreparationBusy when another process holds the lock. The gathering and the
// exports inside take the same lock again without waiting.
std::unique_ptr<PreparationLock> HoldPreparation(const std::string& dataDir,
                                                 const std::string& periodDir);

// Runs one gathering, showing its status texts, progress and hourglass to
// `op`, and gives its account. The data folder and the period folder are checked first
// (std::runtime_error with DataFolderProblem's text; nothing is created), then
// the data folder's PreparationLock is held for the run (EPreparationBusy
// when another process holds it).
// Table-layer errors propagate as EADSDatabaseError after every table has
// been closed.
GatherReport GatherRecords(const GatherOptions& options, Operator& op);
