// OpenTableWithRetry: every table the program opens goes through here. A
// table that does not open is tried again at once, eleven more times without
// a word; then the operator is asked whether to go on trying. When the
// operator gives up, the program is to end and the caller does no further
// work with the table.
#pragma once

#include <cstdint>

class Operator;
class TAdsTable;

// Opens the table (closing it first), retrying silently and asking the
// operator after every twelfth failed attempt; false when the operator gave
// up (after the notice "Cancelled.  The program will be terminated."). Only
// the table layer's errors of a file held by another program or missing for
// the moment are retried (IsPassingOpenError); any other error, damage
// included, goes to the caller at once.
bool OpenTableWithRetry(TAdsTable& table, Operator& op);

// How many opens OpenTableWithRetry has attempted in this process.
uint64_t TableOpenAttempts();
