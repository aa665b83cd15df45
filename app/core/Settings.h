// The settings groups of the main window in KesPrep.ini: what it loads when it
// is first activated and what it saves when it is destroyed. Each group opens
// the file afresh, reads or writes its keys in a fixed order and is done; no
// value is cached between groups. No Qt here.
#pragma once

#include "app/core/ProgramState.h"
#include "common/Date.h"

#include <optional>
#include <string>

namespace settings_keys {
inline constexpr const char* Directories = "Directories";
inline constexpr const char* TestingPeriods = "Testing Periods";
inline constexpr const char* OrvaExport = "ORVA Export";
inline constexpr const char* OrvaPath = "ORVA Path";
inline constexpr const char* OrvaFrom = "ORVA From";
inline constexpr const char* Search = "Search";
inline constexpr const char* SelectedDates = "Selected Dates";
inline constexpr const char* BeginDate = "Begin Date";
inline constexpr const char* EndDate = "End Date";
inline constexpr const char* IncludePlacement = "Include Placement Records";
inline constexpr const char* IncludeAssessment = "Include Assessment Records";
inline constexpr const char* IncludeScores = "Include Score Records";
inline constexpr const char* IncludePandA = "Include Purpose and Accommodation";
inline constexpr const char* IncludeAttempted = "Include Attempted";
inline constexpr const char* IncludeSubscores = "Include Subscores";
inline constexpr const char* IncludeSiteCode = "Include Site Code";
inline constexpr const char* FileFormat = "File Format";
inline constexpr const char* OrvaAutoExport = "ORVA Auto Export";
inline constexpr const char* Filename = "Filename";
inline constexpr const char* Time = "Time";
inline constexpr const char* Date = "Date";
} // namespace settings_keys

class TIniFile;

// What the main window loads at start-up.
struct StartupSettings {
    std::string DataDir;     // NormalizePath of "ORVA Path"
    std::string SavedPeriod; // "ORVA From"
    int SearchItem = 0;      // the Search choice: 0, 1, or -1 for none
    bool SelectedDates = false;
    bool IncludePlacement = true;
    bool IncludeAssessment = true;
    bool IncludeScores = true;
    bool IncludePandA = false;
    bool IncludeAttempted = false;
    bool IncludeSubscores = false;
    bool IncludeSiteCode = false;
    int FileFormat = 0;
    // Read only when SelectedDates is true: the dates for the two pickers,
    // both today's date when either of them does not convert. Otherwise day
    // zero (the pickers stay empty).
    kes::Date BeginDate;
    kes::Date EndDate;
};

// The Search choice for a stored value: above 1 is "Master" (1), below 0 is
// no item (-1).
int SearchItemFromSetting(int stored);

// "Begin Date" and "End Date" of "ORVA Export" as the main window loads them:
// each read with today's date as its default; when either does not convert,
// both are today.
void ReadRangeDates(const TIniFile& ini, kes::Date& begin, kes::Date& end);

// Reads the start-up group from the settings file in `exeDir`.
StartupSettings LoadStartupSettings(const std::string& exeDir);
// Takes the program-wide part of the start-up group over (data directory,
// inclusion switches, file layout).
void ApplyStartupSettings(const StartupSettings& loaded, ProgramState& state);

// What the main window saves when it is destroyed.
struct ClosingSettings {
    // "ORVA From"; not written when empty (no period row selected).
    std::optional<std::string> PeriodNumber;
    int SearchItem = 0;
    bool SelectedDates = false;
    kes::Date BeginDate; // day zero is written as 12/30/1899
    kes::Date EndDate;
};

// Writes the closing group to the settings file in `exeDir`. A write that
// fails raises "Unable to write to <path>"; the keys before it keep their
// new values.
void SaveClosingSettings(const std::string& exeDir, const ClosingSettings& values);

// Writes what the settings dialog's OK stores, from the program-wide state:
// both "ORVA Path" keys (DataDir), then the record kinds, the file layout and
// the optional fields. Every key is written on every confirmation. A write
// that fails raises "Unable to write to <path>"; the keys before it keep
// their new values.
void SaveDialogSettings(const std::string& exeDir, const ProgramState& state);
