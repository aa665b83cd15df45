// The program-wide state: the data directory, the chosen testing period, the
// date filter, the record and field inclusion switches and the file layout.
// It lives for the whole run and is owned by the main window's unit; the
// windows read and write it directly (one thread, no locking). No Qt here.
#pragma once

#include <string>
#include <vector>

struct ProgramState {
    std::string ExeDir;    // ends in PathDelim
    std::string DataDir;   // ends in PathDelim (NormalizePath)
    std::string PeriodDir; // "VIRNTP" + n + PathDelim
    int SelectedPeriodIndex = -1;
    std::vector<std::string> PeriodRows;
    std::vector<std::string> PeriodNumbers;
    std::vector<std::string> PeriodNames;
    std::string DateRangeFilter; // empty: all dates
    bool SearchTemporary = false;
    int FileFormat = 0; // 0 Fixed, 1 Pipe, 2 Comma, 3 Tab
    bool IncludePlacement = false;
    bool IncludeAssessment = false;
    bool IncludeScores = false;
    bool IncludePandA = false;
    bool IncludeAttempted = false;
    bool IncludeSubscores = false;
    bool IncludeSiteCode = false;
};

// The one instance for the whole run.
ProgramState& Program();

// The date-range filter of the program for two dates written "yyyymmdd":
// (DTOS(Date) >= "B") .and. (DTOS(Date) <= "E")
std::string DateRangeExpression(const std::string& begin, const std::string& end);
