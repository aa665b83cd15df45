// GatherRecords: rebuilds the work table KESTABLE from one testing period's
// placement, assessment and score tables, completing every row with the
// student's data, the ID, the site code and the translated test code and
// score, and dropping the rows the code tables exclude. No windows: it talks
// to the operator through the Operator it is given.
#pragma once

#include "common/Operator.h"
#include "data/AdsTable.h"

#include <map>
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
    // What the operator must read although the file was written: records
    // lying past a table's stated end, which were not read ("PLACTEMP.DBF
    // holds 2 records past the end its header states, which were not read").
    std::vector<std::string> warnings;
};

// The account as lines an operator reads: the rows kept, then each warning
// ("Warning: ...").
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

// Runs one gathering, showing its status texts, progress and hourglass to
// `op`, and gives its account. The caller has checked the folders and holds
// the data folder's PreparationLock (a Preparation does both). Table-layer
// errors propagate as EADSDatabaseError after every table has been closed.
GatherReport GatherRecords(const GatherOptions& options, Operator& op);
