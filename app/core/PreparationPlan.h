// PreparationPlan: everything one preparation needs, in one value. It comes
// from the settings file and the choices made for this run (on the command
// line, or in the main window and the automatic window), and yields the
// options of the gathering and of the upload file's writer. The date rules
// and the messages that refuse a date range live here, and nowhere else:
//  - a date of the settings file that does not convert makes both dates today;
//  - a range with an empty date (day zero, written 18991230) at either end
//    was never entered: "The selected dates must be entered.";
//  - a begin date after the end date: "The Begin Date cannot be later than
//    the End Date."; equal dates select that one day.
// No Qt here.
#pragma once

#include "app/core/ProgramState.h"
#include "common/Date.h"
#include "export/core/ExportWriter.h"
#include "prep/core/Gather.h"

#include <optional>
#include <stdexcept>
#include <string>

// The layout of the upload file, numbered as "File Format" stores it. A
// stored number outside 0 to 3 is kept as read: the writer then leaves its
// layout as it stands.
enum class UploadLayout : int { Fixed = 0, Pipe = 1, Comma = 2, Tab = 3 };

bool IsKnownLayout(UploadLayout layout);

inline constexpr const char* kDatesNotEnteredText = "The selected dates must be entered.";
inline constexpr const char* kBeginAfterEndText =
    "The Begin Date cannot be later than the End Date.";

// All dates, or the days from Begin to End, both included.
struct DateSelection {
    bool AllDates = true;
    kes::Date Begin, End;

    static DateSelection All();
    static DateSelection Between(kes::Date begin, kes::Date end);
    // Today alone, by the program clock.
    static DateSelection Today();
};

// The message that refuses a range (see above), or "" when it may be used.
// All dates are never refused.
std::string DateSelectionMessage(const DateSelection& dates);

// The gathering's date filter: "" for all dates, otherwise
// (DTOS(Date) >= "B") .and. (DTOS(Date) <= "E") with the two dates as yyyymmdd.
std::string DateFilterOf(const DateSelection& dates);

struct RecordKinds {
    bool Placement = true;
    bool Assessment = true;
    bool Scores = true;
};

struct OptionalFields {
    bool Attempted = false;
    bool Subscores = false;
    bool PandA = false;
    bool SiteCode = false;
};

struct PreparationPlan {
    std::string DataDir; // ends in PathDelim
    std::string Period;  // the period's number as decimal text ("1")
    bool SearchTemporary = true;
    DateSelection Dates;
    RecordKinds Kinds;
    OptionalFields Fields;
    UploadLayout Layout = UploadLayout::Fixed;
    std::string OutputFile;   // the upload file
    std::string SettingsFile; // the settings file read, which the upload file may not replace

    // "VIRNTP" + Period + PathDelim, and that folder under DataDir.
    std::string PeriodDir() const;
    std::string PeriodFolder() const;

    GatherOptions Gathering() const;
    // An unattended export of every record to OutputFile.
    ExportOptions Exporting() const;
};

// The choices made for one run; each one left out comes from the settings file.
struct PlanChoices {
    std::optional<std::string> DataDir;
    std::optional<std::string> Period;
    std::optional<bool> SearchTemporary;
    std::optional<DateSelection> Dates;
    std::optional<RecordKinds> Kinds;
    std::optional<OptionalFields> Fields;
    std::optional<UploadLayout> Layout;
    std::optional<std::string> OutputFile;
};

// What a refused plan is about.
enum class PlanItem { DataDir, Period, Dates, Layout, OutputFile };

// A plan that cannot run. what() is the message for the operator; Settings
// names the keys of the settings file the value came from, and is empty when
// it was one of the choices.
class PlanError : public std::runtime_error {
  public:
    PlanError(PlanItem item, const std::string& message, std::string settings = {});
    PlanItem Item;
    std::string Settings;
};

// The plan of an unattended preparation. Each choice left out is read from
// the settings file `settingsFile` (a missing file gives every default):
//  - data directory: "Directories"/"ORVA Path" through NormalizePath;
//  - period: "Testing Periods"/"ORVA From" (the one selected at the last end
//    of the program);
//  - tables: "ORVA Export"/"Search", 0 the temporary set, any other the master
//  set;
//  - dates: as the automatic window's date choice "ORVA Auto Export"/"Date":
//    0 ("Current Date") today; otherwise the main window's choice, all dates
//    unless "ORVA Export"/"Selected Dates", then "Begin Date" to "End Date";
//  - record kinds, optional fields and "File Format" from "ORVA Export";
//  - upload file: "ORVA Auto Export"/"Filename".
// Throws PlanError when there is no data directory (an empty "ORVA Path") or
// its path was cut at 255 characters, there is no period or no upload file,
// the period is not a number, the dates are refused, "File Format" is not one
// of the four layouts, or the upload file would replace a file the run reads
// or writes or lie in a testing-period folder (UploadPathProblem).
PreparationPlan MakePreparationPlan(const std::string& settingsFile, const PlanChoices& choices);

// Why the plan's folders cannot be gathered: the data directory does not
// exist, or the period's folder does not, or it lacks one of the tables the
// gathering opens (the record tables of the kinds included, and the students);
// "" when everything is there. The message names the folder.
std::string MissingFolderMessage(const PreparationPlan& plan);

// ---------------------------------------------------------------- windows

// What the main window's Find and Auto Prepare start from.
struct SearchChoices {
    int PeriodRow = -1;         // selected row of the period list
    int SearchItem = 0;         // 0 "Temporary", 1 "Master", -1 none
    bool SelectedDates = false; // "Selected Dates" rather than "All Dates"
    kes::Date BeginDate;        // the two pickers; day zero when empty
    kes::Date EndDate;
};

// The first part of Find and Auto Prepare. PeriodDir is set from the row at
// once. With "Selected Dates" the range is checked: when it is refused, the
// message is returned and DateRangeFilter and SearchTemporary keep their
// values. Otherwise DateRangeFilter (empty for all dates) and
// SearchTemporary (true only for item 0) are set and "" is returned.
std::string ApplySearchChoices(ProgramState& state, const SearchChoices& choices);

// The date filter of an automatic run: item 0 of the window's date choice
// ("Current Date") gives today alone; any other item, or none, gives the main
// window's DateRangeFilter.
std::string AutomaticDateFilter(int dateItem, const std::string& dateRangeFilter);

// The gathering's options from the program-wide state and a date filter.
GatherOptions GatherOptionsFor(const ProgramState& state, const std::string& dateFilter);
// The writer's options from the program-wide state (not yet in AutoMode),
// with the settings file beside the program as the file the upload file may
// not replace.
ExportOptions ExportOptionsFor(const ProgramState& state);
