#include "data/OpenTableWithRetry.h"

#include "common/Operator.h"
#include "data/AdsTable.h"

#include <atomic>
#include <string>

namespace {

std::atomic<uint64_t> gOpenAttempts{0};

// Failed attempts that pass without a word before the operator is asked.
constexpr int kSilentRetries = 11;

} // namespace

bool OpenTableWithRetry(TAdsTable& table, Operator& op) {
    int failures = 0;
    bool hourglass = false;
    while (true) {
        try {
            table.Close();
            ++gOpenAttempts;
            table.Open();
            if (hourglass) op.SetHourglass(false);
            return true;
        } catch (const EADSDatabaseError& e) {
            // A table another program holds is tried again; a damaged one,
            // one of the wrong kind or one we may not read stays so, and its
            // own error says which file and what is wrong with it.
            if (!IsPassingOpenError(e.Number())) {
                if (hourglass) op.SetHourglass(false);
                throw;
            }
        } catch (...) {
            // any other error goes to the caller, with the cursor as it was
            if (hourglass) op.SetHourglass(false);
            throw;
        }
        if (!hourglass) {
            op.SetHourglass(true);
            hourglass = true;
        }
        const char* suffix = table.TableType == ttAdsADT ? ".ADT." : ".CDX.";
        if (failures < kSilentRetries) {
            ++failures;
            continue;
        }
        failures = 0;
        op.SetHourglass(false);
        hourglass = false;
        if (op.AskRetry("Unable to open Table: " + table.DatabaseName + table.TableName() + suffix +
                        "\r\nOK to retry?"))
            continue;
        op.ShowCancelled("Cancelled.  The program will be terminated.");
        return false;
    }
}

uint64_t TableOpenAttempts() {
    return gOpenAttempts.load();
}
