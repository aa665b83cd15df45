// The program-wide state: what the main window holds for the whole run and
// shares with the settings dialog it opens. The data directory, the record
// kinds, the optional fields and the layout come from the settings file at
// start-up and change through the settings dialog; the period list comes
// from the scan of the data directory. The main window owns it; a window that
// needs it is handed a reference (one thread, no locking). No Qt here.
#pragma once

#include "app/core/Choices.h"

#include <string>
#include <vector>

struct ProgramState {
    std::string ExeDir;  // the folder of the settings file; ends in PathDelim
    std::string DataDir; // ends in PathDelim (NormalizePath)
    int SelectedPeriodIndex = -1;
    std::vector<std::string> PeriodRows;
    std::vector<std::string> PeriodNumbers;
    std::vector<std::string> PeriodNames;
    RecordKinds Kinds;
    OptionalFields Fields;
    int FileFormat = 0; // 0 Fixed, 1 Pipe, 2 Comma, 3 Tab; any other is kept as stored
};
