#include "app/core/PreparationPlan.h"

#include "app/core/IniFile.h"
#include "app/core/PeriodList.h"
#include "app/core/Settings.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "export/core/UploadPath.h"
#include "os/Os.h"

#include <vector>

namespace keys = settings_keys;

namespace {

// The eight-digit form of day zero: a range with it at either end was never
// entered.
constexpr const char* kEmptyDateDigits = "18991230";

const std::string kRangeSettings = std::string("\"") + keys::OrvaExport + "\" / \"" +
                                   keys::BeginDate + "\" and \"" + keys::EndDate + "\"";

std::string quotedKey(const char* section, const char* key) {
    return std::string("\"") + section + "\" / \"" + key + "\"";
}

// A period number as decimal text without leading zeros, or nullopt when the
// text is not a positive number.
std::optional<std::string> periodNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    const long number = std::stol(std::string(text));
    if (number <= 0) return std::nullopt;
    return std::to_string(number);
}

DateSelection datesFromSettings(const TIniFile& ini) {
    if (ini.ReadInteger(keys::OrvaAutoExport, keys::Date, 0) == 0) return DateSelection::Today();
    if (!ini.ReadBool(keys::OrvaExport, keys::SelectedDates, false)) return DateSelection::All();
    kes::Date begin, end;
    ReadRangeDates(ini, begin, end);
    return DateSelection::Between(begin, end);
}

bool isFolder(const std::string& path) {
    const std::string found = kes::resolveCaseInsensitive(path);
    return !found.empty() && kes::os::fileKind(found) == kes::os::FileKind::Directory;
}

} // namespace

bool IsKnownLayout(UploadLayout layout) {
    const int n = static_cast<int>(layout);
    return n >= 0 && n <= 3;
}

DateSelection DateSelection::All() {
    return DateSelection{};
}

DateSelection DateSelection::Between(kes::Date begin, kes::Date end) {
    DateSelection d;
    d.AllDates = false;
    d.Begin = begin;
    d.End = end;
    return d;
}

DateSelection DateSelection::Today() {
    const kes::Date today = kes::Date::today();
    return Between(today, today);
}

std::string DateSelectionMessage(const DateSelection& dates) {
    if (dates.AllDates) return {};
    const std::string begin = dates.Begin.toYyyymmdd(), end = dates.End.toYyyymmdd();
    if (begin == kEmptyDateDigits || end == kEmptyDateDigits) return kDatesNotEnteredText;
    // The eight-digit form compares as the dates do.
    if (begin > end) return kBeginAfterEndText;
    return {};
}

std::string DateFilterOf(const DateSelection& dates) {
    if (dates.AllDates) return {};
    return DateRangeExpression(dates.Begin.toYyyymmdd(), dates.End.toYyyymmdd());
}

std::string PreparationPlan::PeriodDir() const {
    return "VIRNTP" + Period + PathDelim;
}

std::string PreparationPlan::PeriodFolder() const {
    return DataDir + PeriodDir();
}

GatherOptions PreparationPlan::Gathering() const {
    GatherOptions o;
    o.DataDir = DataDir;
    o.PeriodDir = PeriodDir();
    o.SearchTemporary = SearchTemporary;
    o.IncludePlacement = Kinds.Placement;
    o.IncludeAssessment = Kinds.Assessment;
    o.IncludeScores = Kinds.Scores;
    o.IncludeSiteCode = Fields.SiteCode;
    o.DateFilter = DateFilterOf(Dates);
    return o;
}

ExportOptions PreparationPlan::Exporting() const {
    ExportOptions o;
    o.DataDir = DataDir;
    o.FileFormat = static_cast<int>(Layout);
    o.IncludeAttempted = Fields.Attempted;
    o.IncludeSubscores = Fields.Subscores;
    o.IncludePandA = Fields.PandA;
    o.IncludeSiteCode = Fields.SiteCode;
    o.AutoMode = true;
    o.AutoFileName = OutputFile;
    o.SettingsFile = SettingsFile;
    return o;
}

PlanError::PlanError(PlanItem item, const std::string& message, std::string settings)
    : std::runtime_error(message), Item(item), Settings(std::move(settings)) {}

PreparationPlan MakePreparationPlan(const std::string& settingsFile, const PlanChoices& choices) {
    const TIniFile ini(settingsFile);
    PreparationPlan plan;

    if (choices.DataDir) {
        if (choices.DataDir->empty()) throw PlanError(PlanItem::DataDir, "no data directory given");
        plan.DataDir = NormalizePath(*choices.DataDir);
    } else {
        plan.DataDir =
            NormalizePath(ini.ReadString(keys::Directories, keys::OrvaPath, kes::defaultDataDir()));
    }
    const std::string dataSettings =
        choices.DataDir ? std::string() : quotedKey(keys::Directories, keys::OrvaPath);
    // An empty path normalises to the separator alone: no folder, and never
    // the root folder.
    if (plan.DataDir == std::string(1, PathDelim))
        throw PlanError(PlanItem::DataDir, "no data directory set", dataSettings);
    // A path that NormalizePath had to cut names another folder.
    if (plan.DataDir.back() != PathDelim)
        throw PlanError(PlanItem::DataDir, "the data directory path is longer than 254 characters",
                        dataSettings);

    const std::string periodSettings = quotedKey(keys::TestingPeriods, keys::OrvaFrom);
    const std::string period(kes::trimBlanksAndControls(
        choices.Period ? *choices.Period
                       : ini.ReadString(keys::TestingPeriods, keys::OrvaFrom, "")));
    const std::string periodSource = choices.Period ? std::string() : periodSettings;
    if (period.empty()) throw PlanError(PlanItem::Period, "no testing period chosen", periodSource);
    const auto number = periodNumber(period);
    if (!number)
        throw PlanError(PlanItem::Period, "\"" + period + "\" is not a testing period number",
                        periodSource);
    plan.Period = *number;

    plan.SearchTemporary =
        choices.SearchTemporary
            ? *choices.SearchTemporary
            : SearchItemFromSetting(ini.ReadInteger(keys::OrvaExport, keys::Search, 0)) == 0;

    plan.Dates = choices.Dates ? *choices.Dates : datesFromSettings(ini);
    const std::string refused = DateSelectionMessage(plan.Dates);
    if (!refused.empty())
        throw PlanError(PlanItem::Dates, refused, choices.Dates ? std::string() : kRangeSettings);

    if (choices.Kinds) {
        plan.Kinds = *choices.Kinds;
    } else {
        plan.Kinds.Placement = ini.ReadBool(keys::OrvaExport, keys::IncludePlacement, true);
        plan.Kinds.Assessment = ini.ReadBool(keys::OrvaExport, keys::IncludeAssessment, true);
        plan.Kinds.Scores = ini.ReadBool(keys::OrvaExport, keys::IncludeScores, true);
    }
    if (choices.Fields) {
        plan.Fields = *choices.Fields;
    } else {
        plan.Fields.Attempted = ini.ReadBool(keys::OrvaExport, keys::IncludeAttempted, false);
        plan.Fields.Subscores = ini.ReadBool(keys::OrvaExport, keys::IncludeSubscores, false);
        plan.Fields.PandA = ini.ReadBool(keys::OrvaExport, keys::IncludePandA, false);
        plan.Fields.SiteCode = ini.ReadBool(keys::OrvaExport, keys::IncludeSiteCode, false);
    }
    plan.Layout =
        choices.Layout
            ? *choices.Layout
            : static_cast<UploadLayout>(ini.ReadInteger(keys::OrvaExport, keys::FileFormat, 0));
    // Any other number would run the values together.
    if (!IsKnownLayout(plan.Layout))
        throw PlanError(PlanItem::Layout,
                        "the layout " + std::to_string(static_cast<int>(plan.Layout)) +
                            " is not 0 (Fixed Format), 1 (Pipe Delimited), 2 (Comma Delimited) "
                            "or 3 (Tab Delimited)",
                        quotedKey(keys::OrvaExport, keys::FileFormat));

    plan.OutputFile = choices.OutputFile ? *choices.OutputFile
                                         : ini.ReadString(keys::OrvaAutoExport, keys::Filename, "");
    if (kes::trimBlanksAndControls(plan.OutputFile).empty())
        throw PlanError(PlanItem::OutputFile, "no upload file named",
                        choices.OutputFile ? std::string()
                                           : quotedKey(keys::OrvaAutoExport, keys::Filename));
    plan.SettingsFile = settingsFile;
    const std::string misplaced = UploadPathProblem(plan.OutputFile, plan.DataDir, settingsFile);
    if (!misplaced.empty())
        throw PlanError(PlanItem::OutputFile, misplaced,
                        choices.OutputFile ? std::string()
                                           : quotedKey(keys::OrvaAutoExport, keys::Filename));
    return plan;
}

std::string MissingFolderMessage(const PreparationPlan& plan) {
    if (!isFolder(plan.DataDir)) return "the data directory " + plan.DataDir + " does not exist";
    const std::string folder = plan.PeriodFolder();
    const std::string period = "testing period " + plan.Period + ": ";
    if (!isFolder(folder)) return period + "the folder " + folder + " does not exist";
    std::vector<const char*> tables;
    const bool temporary = plan.SearchTemporary;
    if (plan.Kinds.Placement) tables.push_back(temporary ? "PlacTemp" : "Place");
    if (plan.Kinds.Assessment) tables.push_back(temporary ? "Assetemp" : "Assess");
    if (plan.Kinds.Scores) tables.push_back(temporary ? "Scortemp" : "Scores");
    tables.push_back(temporary ? "StudTemp" : "Student");
    for (const char* table : tables)
        if (!kes::fileExists(folder + table + ".dbf"))
            return period + "the folder " + folder + " has no table " + table + ".dbf";
    return {};
}

std::string ApplySearchChoices(ProgramState& state, const SearchChoices& choices) {
    state.PeriodDir = PeriodFolderOfRow(choices.PeriodRow);
    std::string filter;
    if (choices.SelectedDates) {
        const DateSelection dates = DateSelection::Between(choices.BeginDate, choices.EndDate);
        std::string refused = DateSelectionMessage(dates);
        if (!refused.empty()) return refused;
        filter = DateFilterOf(dates);
    }
    state.DateRangeFilter = filter;
    state.SearchTemporary = choices.SearchItem == 0;
    return {};
}

std::string AutomaticDateFilter(int dateItem, const std::string& dateRangeFilter) {
    if (dateItem != 0) return dateRangeFilter;
    return DateFilterOf(DateSelection::Today());
}

GatherOptions GatherOptionsFor(const ProgramState& state, const std::string& dateFilter) {
    GatherOptions o;
    o.DataDir = state.DataDir;
    o.PeriodDir = state.PeriodDir;
    o.SearchTemporary = state.SearchTemporary;
    o.IncludePlacement = state.IncludePlacement;
    o.IncludeAssessment = state.IncludeAssessment;
    o.IncludeScores = state.IncludeScores;
    o.IncludeSiteCode = state.IncludeSiteCode;
    o.DateFilter = dateFilter;
    return o;
}

ExportOptions ExportOptionsFor(const ProgramState& state) {
    ExportOptions o;
    o.DataDir = state.DataDir;
    o.FileFormat = state.FileFormat;
    o.IncludeAttempted = state.IncludeAttempted;
    o.IncludeSubscores = state.IncludeSubscores;
    o.IncludePandA = state.IncludePandA;
    o.IncludeSiteCode = state.IncludeSiteCode;
    // The upload file may never replace the settings file the windows read.
    o.SettingsFile = SettingsFilePath(state.ExeDir);
    return o;
}
