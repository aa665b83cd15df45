// The two code translation tables, KESPLACE (placement codes) and KESTEST
// (test and score codes): how they are opened and created when missing,
// filled from a testing period's LEVELS or TEST table, rebuilt from a period
// with the operator's choices carried over, and ticked or unticked as a
// whole. The settings dialog calls these; they talk to the operator only
// through the Operator they are given. No Qt here.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

class Operator;
class PreparationLock;
class TAdsTable;

enum class CodeTableKind { Placement, TestScore };

// What distinguishes the two tables.
struct CodeTableDesign {
    const char* tableName;    // "KESPLACE"
    const char* fieldList;    // for table creation
    const char* textField;    // "MESSAGE" / "TEST"
    int textWidth;            // 110 / 22
    const char* sourceTable;  // "LEVELS" / "TEST" in the period's folder
    const char* confirmation; // asked before a table with rows is rebuilt
};
const CodeTableDesign& CodeTableDesignOf(CodeTableKind kind);

// The one index tag of both tables, on the field of the same name.
inline constexpr const char* kCodeTag = "CODE";
// Where a rebuild keeps the table it replaced (KESTEMP.dbf and .cdx).
inline constexpr const char* kPreviousCodeTable = "KESTEMP";

// MESSAGE of a LEVELS record: Placement, one blank, Comment, cut to 110
// characters.
std::string PlacementMessage(std::string_view placement, std::string_view comment);
// TEST of a TEST record: Test, then one blank and Form unless the code begins
// with a capital S, cut to 22 characters.
std::string TestScoreName(std::string_view code, std::string_view test, std::string_view form);

// The period number a period-list entry begins with ("3. Fall 2006" gives 3);
// 0 when it begins with no number.
int PeriodNumberOfEntry(std::string_view entry);

// The data folder's preparation lock, held while the code tables are
// rewritten: a preparation looks codes up in them from the start of its
// gathering to its end and must find them as they were or as they became,
// never half rewritten. Every operation below that writes a code table holds
// it for its run; within this process the lock is shared, so an operation
// inside a held session does not wait for itself. Throws EPreparationBusy
// (saying that the code tables cannot be changed now) when another process
// prepares from the folder, std::runtime_error when the lock file cannot be
// made; nullptr when the data folder does not exist (no table there to guard).
std::unique_ptr<PreparationLock> HoldCodeTables(const std::string& dataDir);

// Opens the code table of `dataDir` in `table` (CDX, shared), creating it
// first when its .dbf is missing: a .cdx lying there without its table is
// deleted, the empty table created with its "CODE" tag. The tag is the active
// order whenever the .cdx exists; the table is left at its first row. A
// pending edit of `table` is posted first. False when the operator gave up on
// an open. Creating the table holds the code tables (EPreparationBusy).
bool OpenCodeTable(TAdsTable& table, CodeTableKind kind, const std::string& dataDir, Operator& op);

// Appends one row per record of the period's LEVELS (TEST) table, in the
// source's natural order: CODE and NEWCODE the source's code, INCLUDE false,
// the text as above. False when the operator gave up on the source's open.
// Holds the code tables of the table's folder (EPreparationBusy).
bool FillCodeTable(TAdsTable& table, CodeTableKind kind, const std::string& dataDir, int period,
                   Operator& op);

// The rebuild could not set the previous table aside; nothing was changed.
class CodeTableError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class RebuildResult {
    Filled,   // the table was empty and has been filled; nothing was asked
    Rebuilt,  // the table was replaced and the operator's choices carried over
    Declined, // the operator did not confirm; nothing changed
    GaveUp,   // the operator gave up on an open; the program is to end
};

// Fills an empty code table from the period, or, once the operator confirms,
// rebuilds one with rows: the old files become KESTEMP, a new table is
// created and filled, and every new row whose code the old table held takes
// NEWCODE and INCLUDE of the first such old row in code order. When the old
// files cannot be set aside, the rebuild stops with CodeTableError and the
// table the operator had stays as it was (and open). The question before a
// rebuild is the operator's Yes/Cancel confirmation. The code tables are held
// from before the question to the end (EPreparationBusy, nothing asked or
// changed).
RebuildResult RebuildCodeTable(TAdsTable& table, CodeTableKind kind, const std::string& dataDir,
                               int period, Operator& op);

// Sets INCLUDE on every row (Select All, UnSelect) and returns to the row
// that was current. Bound views hear of it once, at the end. Holds the code
// tables of the table's folder (EPreparationBusy, no row changed).
void SetIncludeOnEveryRow(TAdsTable& table, bool include);

// Removes the current row for good: a row only marked deleted would stay in
// view and would still translate its code in the gathering. The table is
// packed (opened exclusively for a moment) and left on the row that took the
// deleted row's place in the active order. False when the operator gave up on
// an open. Holds the code tables (EPreparationBusy, the row stays).
bool DeleteCodeRow(TAdsTable& table, CodeTableKind kind, const std::string& dataDir, Operator& op);
