#include "prep/core/WorkTable.h"

#include "common/Paths.h"
#include "data/OpenTableWithRetry.h"

const char* const WorkTableFieldList =
    "ID,       C, 9,0;LNAME,    C,13,0;FNAME,    C,11,0;MNAME,    C, 1,0;BIRTHDATE,D, 8,0;"
    "TESTCODE, C, 4,0;TESTSCORE,C, 8,0;DATE,     D, 8,0;SSN,      C,11,0;CODE,     C, 4,0;"
    "CORRECT,  N, 3,0;SCORE,    N, 4,0;ATTEMPT,  N, 3,0;SS1,      N, 2,0;SS2,      N, 2,0;"
    "SS3,      N, 2,0;SS4,      N, 2,0;SS5,      N, 2,0;SS6,      N, 2,0;SS7,      N, 2,0;"
    "SS8,      N, 2,0;SS9,      N, 2,0;SS10,     N, 2,0;GRPNUMBER,C, 7,0;SITECODE, C, 2,0;";

bool OpenNewWorkTable(TAdsTable& table, const std::string& dataDir, Operator& op) {
    table.Close();
    table.DatabaseName = dataDir;
    table.TableType = ttAdsCDX;
    table.SetTableName(kWorkTableName);
    // The tags of an earlier run never survive into this one.
    kes::deleteFile(dataDir + kWorkTableName + ".cdx");
    TAdsTable::AdsCreateTable(dataDir + kWorkTableName + ".dbf", ttAdsCDX, OEM, 0,
                              WorkTableFieldList);
    table.Exclusive = true;
    if (OpenTableWithRetry(table, op)) return true;
    table.Exclusive = false;
    return false;
}

void CreateWorkTableTags(TAdsTable& table) {
    for (const char* tag : {"SSN", "LNAME", "TESTCODE", "DATE"})
        table.AdsCreateIndex61("", tag, tag, "", "", ADS_COMPOUND);
}

bool CreateWorkTable(TAdsTable& table, const std::string& dataDir, Operator& op) {
    if (!OpenNewWorkTable(table, dataDir, op)) return false;
    try {
        CreateWorkTableTags(table);
    } catch (...) {
        try {
            table.Close();
        } catch (...) {
            // the tag error is the one to report
        }
        table.Exclusive = false;
        throw;
    }
    return true;
}

bool OpenWorkTable(TAdsTable& workTable, const std::string& dataDir, Operator& op) {
    if (workTable.Active()) workTable.Close();
    workTable.DatabaseName = dataDir;
    workTable.TableType = ttAdsCDX;
    workTable.SetTableName(kWorkTableName);
    workTable.Exclusive = false;
    if (!OpenTableWithRetry(workTable, op)) return false;
    workTable.SetIndexName("SSN");
    workTable.First();
    return true;
}

std::vector<TBookmark> SelectAllInOrder(TAdsTable& table, const std::string& order) {
    if (!order.empty()) table.SetIndexName(order);
    std::vector<TBookmark> rows = table.VisibleBookmarks();
    table.First();
    return rows;
}
