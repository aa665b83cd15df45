// PreparationPlan: everything one preparation needs, in one value. Every
// front end makes one: kesprep-batch from its command line and the settings
// file, the main window's Find and the automatic window from their controls
// and the values the main window holds. The plan alone yields the options of
// the gathering and of the upload file's writer. No Qt here.
#pragma once

#include "app/core/Choices.h"
#include "app/core/ProgramState.h"
#include "export/core/ExportWriter.h"
#include "prep/core/Gather.h"

#include <optional>
#include <stdexcept>
#include <string>

struct PreparationPlan {
    std::string DataDir; // ends in PathDelim
    std::string Period;  // the period's number as decimal text ("1")
    bool SearchTemporary = true;
    DateSelection Dates;
    RecordKinds Kinds;
    OptionalFields Fields;
    UploadLayout Layout = UploadLayout::Fixed;
    std::string OutputFile;   // the upload file of an unattended run
    std::string SettingsFile; // the settings file read, which the upload file may not replace

    // "VIRNTP" + Period + PathDelim, and that folder under DataDir.
    std::string PeriodDir() const;
    std::string PeriodFolder() const;

    GatherOptions Gathering() const;
    // The writer's options for an upload file (OutputFile unless another is named).
    ExportOptions Exporting(const std::optional<std::string>& uploadFile = std::nullopt) const;
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

// The choices the main window holds for the whole run: its data directory,
// record kinds, optional fields and layout.
PlanChoices ChoicesOf(const ProgramState& state);

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

// Which values a plan must have before anything is gathered.
enum class PlanUse {
    // kesprep-batch: a layout and an upload file it can write, or nothing runs.
    Unattended,
    // The windows: the writer checks the layout and the upload file when it
    // runs, and says "Export File has been not prepared." and why.
    Windows,
};

// The plan of one preparation. Each choice left out is read from the
// settings file `settingsFile` (a missing file gives every default):
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
// its path was cut at 255 characters, there is no period, the period is not a
// number, or the dates are refused (the date message itself); for an
// unattended run also when "File Format" is not one of the four layouts, there
// is no upload file, or it would replace a file the run reads or writes or lie
// in a testing-period folder (UploadPathProblem).
PreparationPlan MakePreparationPlan(const std::string& settingsFile, const PlanChoices& choices,
                                    PlanUse use = PlanUse::Unattended);

// Why the plan's folders cannot be gathered: the data directory does not
// exist or the period's folder does not (both found without regard to letter
// case), or, when `tablesToo`, the period folder lacks one of the tables the
// gathering opens (the record tables of the kinds included, and the
// students); "" when everything is there. The message names the folder.
std::string MissingFolderMessage(const PreparationPlan& plan, bool tablesToo = true);
