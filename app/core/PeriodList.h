// The list of testing periods: the scan of the period folders VIRNTP1 to
// VIRNTP11 under the data directory, and how a row of the list maps to a
// period. No Qt here; the main window shows the list and the messages.
//
// Rows and periods. The scan appends exactly one row for each n = 1, 2, ...
// until it stops, so row r always stands for period r + 1 and its folder is
// VIRNTP<r + 1>. PeriodNumbers and PeriodNames hold the periods that were
// found, in scan order; a placeholder row (10 or 11 without a period table)
// has no entry there. Periods 1 to 9 have no gaps, so for them the row and
// the list position agree. Past 9 they need not: with period 10 missing and
// 11 found, row 9 is the placeholder for 10 while position 9 of the lists
// describes period 11, and row 10 has no position of its own at that index.
// Therefore the program never indexes the lists by row. It goes through
// PeriodListPosition and RowOfPeriodNumber, which match the period number:
//  - saving: a row's number is saved only when the row is a found period;
//    a placeholder row saves nothing (the stored value stays as it was);
//  - restoring: the saved number selects the row of that period (row 10 for
//    period 11 in the case above), never the placeholder that happens to
//    share its list position;
//  - the settings dialog preselects its period choosers with
//    PeriodListPosition of the selected row (-1 for a placeholder).
#pragma once

#include "app/core/ProgramState.h"

#include <string>

class Operator;
class TAdsTable;

inline constexpr int kMaxTestingPeriods = 11;

enum class PeriodScanOutcome {
    Complete,          // every folder looked at (with placeholders for 10, 11)
    PathNotSet,        // no period table in VIRNTP1
    NotAllInitialized, // a gap below period 10
    Cancelled,         // a period table did not open and the operator gave up
};

// The message the operator gets for an outcome; empty when there is none to
// show (a cancelled scan has already told the operator).
std::string PeriodScanMessage(PeriodScanOutcome outcome);

// Empties PeriodRows, PeriodNumbers and PeriodNames of `state` and fills them
// from the folders under state.DataDir. Each period table TP is opened in
// `table` (NTX, through OpenTableWithRetry with `op`), its first record's
// TPName read, and the table closed again, also when reading fails; a table
// error while reading propagates after the close and leaves the rows found so
// far in place.
PeriodScanOutcome ScanTestingPeriods(ProgramState& state, TAdsTable& table, Operator& op);

// The folder of the period shown in a row: "VIRNTP" + (row + 1) + PathDelim.
std::string PeriodFolderOfRow(int row);

// Position in PeriodNumbers / PeriodNames of the period shown in `row`;
// -1 for no row, a row out of range or a placeholder.
int PeriodListPosition(const ProgramState& state, int row);

// The row that shows the found period with this number text (exact match, as
// stored in PeriodNumbers); -1 when the list is empty or no such period was found.
int RowOfPeriodNumber(const ProgramState& state, const std::string& number);
