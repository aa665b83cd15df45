#include "app/core/PreparationPlan.h"

#include "app/core/Settings.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "export/core/UploadPath.h"
#include "os/Os.h"

#include <vector>

namespace keys = settings_keys;

namespace {

// A stored value as a message shows it: a long one by its start.
std::string shownValue(const std::string& value) {
    constexpr size_t kShown = 20;
    if (value.size() <= kShown) return value;
    return value.substr(0, kShown) + "...";
}

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

DateSelection datesFromSettings(const SettingsValues& stored) {
    if (stored.AutoDate == 0) return DateSelection::Today();
    if (!stored.SelectedDates) return DateSelection::All();
    return DateSelection::Between(stored.BeginDate, stored.EndDate);
}

bool isFolder(const std::string& path) {
    const std::string found = kes::resolveCaseInsensitive(path);
    return !found.empty() && kes::os::fileKind(found) == kes::os::FileKind::Directory;
}

} // namespace

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

ExportOptions PreparationPlan::Exporting(const std::optional<std::string>& uploadFile) const {
    ExportOptions o;
    o.DataDir = DataDir;
    o.FileFormat = static_cast<int>(Layout);
    o.IncludeAttempted = Fields.Attempted;
    o.IncludeSubscores = Fields.Subscores;
    o.IncludePandA = Fields.PandA;
    o.IncludeSiteCode = Fields.SiteCode;
    o.UploadFile = uploadFile ? *uploadFile : OutputFile;
    o.SettingsFile = SettingsFile;
    return o;
}

PlanChoices ChoicesOf(const ProgramState& state) {
    PlanChoices c;
    c.DataDir = state.DataDir;
    c.Kinds = state.Kinds;
    c.Fields = state.Fields;
    c.Layout = static_cast<UploadLayout>(state.FileFormat);
    return c;
}

PlanError::PlanError(PlanItem item, const std::string& message, std::string settings)
    : std::runtime_error(message), Item(item), Settings(std::move(settings)) {}

PreparationPlan MakePreparationPlan(const std::string& settingsFile, const PlanChoices& choices,
                                    PlanUse use) {
    const SettingsValues stored = ReadSettings(settingsFile);
    PreparationPlan plan;
    plan.SettingsFile = settingsFile;

    if (choices.DataDir) {
        if (choices.DataDir->empty()) throw PlanError(PlanItem::DataDir, "no data directory given");
        plan.DataDir = NormalizePath(*choices.DataDir);
    } else {
        plan.DataDir = stored.DataDir;
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

    const std::string period(
        kes::trimBlanksAndControls(choices.Period ? *choices.Period : stored.SavedPeriod));
    const std::string periodSource =
        choices.Period ? std::string() : quotedKey(keys::TestingPeriods, keys::OrvaFrom);
    if (period.empty()) throw PlanError(PlanItem::Period, "no testing period chosen", periodSource);
    const auto number = periodNumber(period);
    if (!number)
        throw PlanError(PlanItem::Period, "\"" + period + "\" is not a testing period number",
                        periodSource);
    plan.Period = *number;

    plan.SearchTemporary =
        choices.SearchTemporary ? *choices.SearchTemporary : stored.SearchItem == 0;

    plan.Dates = choices.Dates ? *choices.Dates : datesFromSettings(stored);
    const std::string refused = DateSelectionMessage(plan.Dates);
    if (!refused.empty())
        throw PlanError(PlanItem::Dates, refused, choices.Dates ? std::string() : kRangeSettings);

    plan.Kinds = choices.Kinds ? *choices.Kinds : stored.Kinds;
    plan.Fields = choices.Fields ? *choices.Fields : stored.Fields;
    plan.Layout = choices.Layout ? *choices.Layout : static_cast<UploadLayout>(stored.FileFormat);
    plan.OutputFile = choices.OutputFile ? *choices.OutputFile : stored.AutoFileName;
    if (use == PlanUse::Windows) return plan;

    // Any other number would run the values together.
    if (!choices.Layout && !stored.FileFormatUnreadable.empty())
        throw PlanError(PlanItem::Layout,
                        "the layout \"" + shownValue(stored.FileFormatUnreadable) +
                            "\" is not 0 (Fixed Format), 1 (Pipe Delimited), 2 (Comma "
                            "Delimited) or 3 (Tab Delimited)",
                        quotedKey(keys::OrvaExport, keys::FileFormat));
    if (!IsKnownLayout(plan.Layout))
        throw PlanError(PlanItem::Layout,
                        "the layout " + std::to_string(static_cast<int>(plan.Layout)) +
                            " is not 0 (Fixed Format), 1 (Pipe Delimited), 2 (Comma Delimited) "
                            "or 3 (Tab Delimited)",
                        quotedKey(keys::OrvaExport, keys::FileFormat));
    const std::string outputSettings =
        choices.OutputFile ? std::string() : quotedKey(keys::OrvaAutoExport, keys::Filename);
    if (kes::trimBlanksAndControls(plan.OutputFile).empty())
        throw PlanError(PlanItem::OutputFile, "no upload file named", outputSettings);
    const std::string misplaced = UploadPathProblem(plan.OutputFile, plan.DataDir, settingsFile);
    if (!misplaced.empty()) throw PlanError(PlanItem::OutputFile, misplaced, outputSettings);
    return plan;
}

std::string MissingFolderMessage(const PreparationPlan& plan, bool tablesToo) {
    if (!isFolder(plan.DataDir)) return "the data directory " + plan.DataDir + " does not exist";
    const std::string folder = plan.PeriodFolder();
    const std::string period = "testing period " + plan.Period + ": ";
    if (!isFolder(folder)) return period + "the folder " + folder + " does not exist";
    if (!tablesToo) return {};
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
