// The settings file KesPrep.ini: its keys, the one reader of everything it
// holds, and the groups of values the windows write back. Each call opens the
// file afresh and is done; no value is cached between calls. No Qt here.
#pragma once

#include "app/core/Choices.h"
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
inline constexpr const char* History = "History";
inline constexpr const char* LastSeen = "Last Seen";
} // namespace settings_keys

// Everything the settings file holds, each key with its default.
struct SettingsValues {
    std::string DataDir;     // "Directories"/"ORVA Path" through NormalizePath
    std::string SavedPeriod; // "Testing Periods"/"ORVA From", as stored
    // "ORVA Export"
    int SearchItem = 0; // the Search choice: 0, 1, or -1 for none
    bool SelectedDates = false;
    // "Begin Date" and "End Date", each read with today's date as its
    // default; when either does not convert, both are today.
    kes::Date BeginDate, EndDate;
    RecordKinds Kinds;
    OptionalFields Fields;
    int FileFormat = 0;
    // The "File Format" text when the key holds something that is no number
    // (or a number too long for one): the windows take Fixed Format for it, an
    // unattended run refuses it as it refuses an unknown layout.
    std::string FileFormatUnreadable;
    std::string ExportFileName; // the selection window's file name
    // "ORVA Auto Export"
    std::string AutoFileName;
    int AutoTime = -1; // the hour's list position, as stored
    int AutoDate = 0;  // the date choice: 0 "Current Date", else the main window's
    // "History"/"Last Seen": when the newest entry of the preparation history
    // that the operator has seen ended ("yyyy-mm-dd hh:mm:ss"), "" for never.
    std::string HistoryLastSeen;
};

// The Search choice for a stored value: above 1 is "Master" (1), below 0 is
// no item (-1).
int SearchItemFromSetting(int stored);

// Reads the whole settings file (a missing file gives every default).
SettingsValues ReadSettings(const std::string& settingsFile);

// Every write below fails with "Unable to write to <path>"; the keys written
// before it keep their new values.

// What the main window saves when it is destroyed.
struct ClosingSettings {
    // "ORVA From"; not written when empty (no period row selected).
    std::optional<std::string> PeriodNumber;
    int SearchItem = 0;
    bool SelectedDates = false;
    kes::Date BeginDate; // day zero is written as 12/30/1899
    kes::Date EndDate;
};
void SaveClosingSettings(const std::string& settingsFile, const ClosingSettings& values);

// What the settings dialog's OK stores: both "ORVA Path" keys, then the
// record kinds, the file layout and the optional fields. Every key is written
// on every confirmation.
void SaveDialogSettings(const std::string& settingsFile, const std::string& dataDir,
                        const RecordKinds& kinds, int fileFormat, const OptionalFields& fields);

// The automatic window's three values, written when it stops being active.
void SaveAutoExportSettings(const std::string& settingsFile, const std::string& fileName, int time,
                            int date);

// The selection window's file name, written when it closes.
void SaveExportFileName(const std::string& settingsFile, const std::string& fileName);

// "History"/"Last Seen", written when the operator has opened the history.
void SaveHistoryLastSeen(const std::string& settingsFile, const std::string& ended);
