// The work table KESTABLE: its creation in two steps (a fresh empty table
// opened exclusively, then its four tags), so that the gathering can show the
// hourglass between them; its shared open for the selection and the export;
// and Select All over it.
#pragma once

#include "data/AdsTable.h"

#include <string>
#include <vector>

class Operator;

// The work table's field list, exactly as the table is created.
extern const char* const WorkTableFieldList;

// The file name of the work table, without extension.
inline constexpr const char* kWorkTableName = "KESTABLE";

// Points `table` at KESTABLE in `dataDir`, deletes a stale KESTABLE.cdx,
// creates an empty KESTABLE.dbf in its place and opens it exclusively with
// OpenTableWithRetry. False when the operator gave up on the open (the table
// is then closed and not exclusive).
bool OpenNewWorkTable(TAdsTable& table, const std::string& dataDir, Operator& op);

// Adds the tags SSN, LNAME, TESTCODE and DATE, in this order, to the open
// work table's structural index.
void CreateWorkTableTags(TAdsTable& table);

// Creates the empty work table KESTABLE in `dataDir` (a stale KESTABLE.cdx is
// removed first), opens it exclusively into `table` and adds its four tags.
// False when the operator gave up on the open.
bool CreateWorkTable(TAdsTable& table, const std::string& dataDir, Operator& op);

// Opens the work table as the selection window does: shared, through
// OpenTableWithRetry, in SSN order, on its first record. False when the
// operator gave up.
bool OpenWorkTable(TAdsTable& workTable, const std::string& dataDir, Operator& op);

// Select All: every row of the table in the given order ("SSN", the selection
// window's order at start; "" keeps the current order). Leaves the table on
// its first row.
std::vector<TBookmark> SelectAllInOrder(TAdsTable& table, const std::string& order = "SSN");
