#include "app/core/PeriodList.h"

#include "common/Paths.h"
#include "data/AdsTable.h"
#include "data/OpenTableWithRetry.h"

#include <algorithm>

std::string PeriodScanMessage(PeriodScanOutcome outcome) {
    switch (outcome) {
    case PeriodScanOutcome::PathNotSet:
        return "Path to ORVA is not set.";
    case PeriodScanOutcome::NotAllInitialized:
        return "Not all ORVA Testing Periods have been initialized.  Contact VIRN.";
    case PeriodScanOutcome::Complete:
    case PeriodScanOutcome::Cancelled:
        break;
    }
    return {};
}

std::string PeriodFolderOfRow(int row) {
    return "VIRNTP" + std::to_string(row + 1) + PathDelim;
}

namespace {

// Reads TPName of the first record of the period table in `folder`; the
// table is closed on every path out.
bool readPeriodName(TAdsTable& table, Operator& op, const std::string& folder, std::string& name) {
    table.Close();
    table.DatabaseName = folder;
    table.TableType = ttAdsNTX;
    table.SetTableName("TP");
    if (!OpenTableWithRetry(table, op)) return false;
    try {
        name = table.FieldByName("TPName").AsString();
    } catch (...) {
        table.Close();
        throw;
    }
    table.Close();
    return true;
}

} // namespace

PeriodScanOutcome ScanTestingPeriods(ProgramState& state, TAdsTable& table, Operator& op) {
    state.PeriodRows.clear();
    state.PeriodNumbers.clear();
    state.PeriodNames.clear();
    for (int n = 1; n <= kMaxTestingPeriods; ++n) {
        const std::string number = std::to_string(n);
        const std::string folder = state.DataDir + "VIRNTP" + number + PathDelim;
        if (kes::fileExists(folder + "TP.DBF")) {
            std::string name;
            if (!readPeriodName(table, op, folder, name)) return PeriodScanOutcome::Cancelled;
            state.PeriodRows.push_back(number + ".  \t" + name);
            state.PeriodNumbers.push_back(number);
            state.PeriodNames.push_back(number + ". " + name);
        } else if (n == 1) {
            return PeriodScanOutcome::PathNotSet;
        } else if (n < 10) {
            return PeriodScanOutcome::NotAllInitialized;
        } else {
            state.PeriodRows.push_back(number + ".  Testing Period " + number);
        }
    }
    return PeriodScanOutcome::Complete;
}

int PeriodListPosition(const ProgramState& state, int row) {
    if (row < 0 || row >= static_cast<int>(state.PeriodRows.size())) return -1;
    const std::string number = std::to_string(row + 1);
    const auto& numbers = state.PeriodNumbers;
    auto found = std::find(numbers.begin(), numbers.end(), number);
    return found == numbers.end() ? -1 : static_cast<int>(found - numbers.begin());
}

int RowOfPeriodNumber(const ProgramState& state, const std::string& number) {
    if (state.PeriodRows.empty()) return -1;
    const auto& numbers = state.PeriodNumbers;
    auto found = std::find(numbers.begin(), numbers.end(), number);
    if (found == numbers.end()) return -1;
    // PeriodNumbers holds the decimal numbers the scan wrote, 1 to 11.
    const int row = std::stoi(*found) - 1;
    if (row < 0 || row >= static_cast<int>(state.PeriodRows.size())) return -1;
    return row;
}
