// The work table KESTABLE: its creation in two steps (a fresh empty table
// opened exclusively, then its four tags), so that the gathering can show the
// hourglass between them.
#pragma once

#include "data/AdsTable.h"

class Operator;

#include <string>

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
