// kesprep-batch: the automatic preparation for schedulers. It gathers the
// records of one testing period into the work table, selects every record in
// SSN order and writes the upload file, exactly as the automatic preparation
// window's "Prepare Export File" does, with the settings of KesPrep.ini and the
// options of the command line. No windows, no display needed.
#include "app/core/IniFile.h"
#include "app/core/TerminalOperator.h"
#include "common/Date.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "data/AdsTable.h"
#include "export/core/ExportWriter.h"
#include "prep/core/Gather.h"

#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <climits>
#include <unistd.h>
#endif

namespace {

enum ExitCode {
    kExitPrepared = 0,
    kExitFailed = 1,    // not prepared, or an error of the tables
    kExitUsage = 2,     // a bad command line or a missing setting; nothing was gathered
    kExitNoData = 3,    // no record in the date range
    kExitCancelled = 4, // a table could not be opened
};

const char* const kUsage = R"(Usage: kesprep-batch [options]

Prepares the Kestal upload file without an operator: gathers the placement,
assessment and score records of one testing period into the work table
KESTABLE, selects every record in SSN order and writes the upload file, as the
automatic preparation window's "Prepare Export File" does.

Every option left out takes its value from the settings file KesPrep.ini
beside the executable (or the file given with --ini):

  --ini FILE        the settings file to read
  --data DIR        the data directory of the testing system
                    (default: "Directories" / "ORVA Path")
  --period N        the testing period: the folder VIRNTPN of the data directory
                    (default: "Testing Periods" / "ORVA From"; required)
  --set temporary|master
                    read the temporary or the master tables
                    (default: "ORVA Export" / "Search": 0 temporary, else master)
  --dates all|today|MM/DD/YYYY-MM/DD/YYYY
                    the test dates to gather, both ends included
                    (default: as the automatic window: "ORVA Auto Export" /
                    "Date" 0 means today; 1 means the main window's choice,
                    "ORVA Export" / "Selected Dates" with "Begin Date" and
                    "End Date", or all dates when "Selected Dates" is 0)
  --layout fixed|pipe|comma|tab
                    the layout of the upload file
                    (default: "ORVA Export" / "File Format" 0, 1, 2, 3)
  --fields none|LIST
                    the optional trailing fields, LIST a comma-separated choice
                    of attempted, subscores, panda, sitecode
                    (default: the "Include Attempted", "Include Subscores",
                    "Include Purpose and Accommodation", "Include Site Code"
                    settings)
  --records none|LIST
                    the record kinds to gather, LIST a comma-separated choice
                    of placement, assessment, scores
                    (default: the "Include Placement Records", "Include
                    Assessment Records", "Include Score Records" settings)
  --output FILE     the upload file (default: "ORVA Auto Export" / "Filename";
                    required). It is replaced only when the new file is complete.
  --help            this text

Exit status: 0 the file was prepared; 1 it was not prepared (the reason is
printed) or a table could not be read; 2 a bad option, a missing period or
output file, or settings dates that the main window would refuse (nothing is
gathered); 3 no record in the date range (the file is left as it was); 4 a
table could not be opened.
)";

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

bool stdoutIsTerminal() {
#ifdef _WIN32
    return false;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

std::string executableDir(const char* argv0) {
#ifndef _WIN32
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) return kes::directoryOf(std::string(buf, static_cast<size_t>(n)));
#endif
    return kes::directoryOf(argv0 ? argv0 : "");
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    size_t pos = 0;
    while (true) {
        size_t comma = text.find(',', pos);
        items.push_back(kes::toLowerAscii(kes::trimBlanksAndControls(
            text.substr(pos, comma == std::string::npos ? comma : comma - pos))));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return items;
}

// Parses "none" or a list of names into switches; `names` gives the valid ones.
std::vector<bool> parseSwitches(const std::string& option, const std::string& value,
                                const std::vector<std::string>& names) {
    std::vector<bool> on(names.size(), false);
    if (kes::equalsIgnoreCase(value, "none")) return on;
    for (const std::string& item : splitList(value)) {
        size_t i = 0;
        while (i < names.size() && names[i] != item)
            ++i;
        if (i == names.size())
            throw UsageError("--" + option + ": unknown name \"" + item + "\" (use none or " + [&] {
                std::string all;
                for (const auto& n : names)
                    all += (all.empty() ? "" : ",") + n;
                return all;
            }() + ")");
        on[i] = true;
    }
    return on;
}

// The eight-digit form of the empty date: a range with it at either end was
// never entered.
const std::string kEmptyDate = "18991230";

struct DateChoice {
    bool all = false;
    kes::Date begin, end;
};

DateChoice parseDates(const std::string& value) {
    DateChoice c;
    if (kes::equalsIgnoreCase(value, "all")) {
        c.all = true;
        return c;
    }
    if (kes::equalsIgnoreCase(value, "today")) {
        c.begin = c.end = kes::Date::today();
        return c;
    }
    size_t dash = value.find('-');
    std::optional<kes::Date> b, e;
    if (dash != std::string::npos) {
        b = kes::Date::fromShortText(value.substr(0, dash));
        e = kes::Date::fromShortText(value.substr(dash + 1));
    }
    if (!b || !e)
        throw UsageError("--dates: \"" + value +
                         "\" is not all, today or MM/DD/YYYY-MM/DD/YYYY with valid dates");
    if (b->toYyyymmdd() == kEmptyDate || e->toYyyymmdd() == kEmptyDate)
        throw UsageError("--dates: 12/30/1899 marks a date that was not entered");
    if (*e < *b) throw UsageError("--dates: the first date lies after the last");
    c.begin = *b;
    c.end = *e;
    return c;
}

struct CommandLine {
    std::map<std::string, std::string> values;
    bool help = false;
};

CommandLine parseCommandLine(int argc, char** argv) {
    static const std::vector<std::string> kKnown = {"ini",    "data",   "period",  "set",   "dates",
                                                    "layout", "fields", "records", "output"};
    CommandLine cl;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) throw UsageError("unexpected argument \"" + arg + "\"");
        std::string name = arg.substr(2), value;
        size_t eq = name.find('=');
        bool hasValue = eq != std::string::npos;
        if (hasValue) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        bool known = false;
        for (const auto& k : kKnown)
            known = known || k == name;
        if (!known) throw UsageError("unknown option \"--" + name + "\"");
        if (!hasValue) {
            if (i + 1 >= argc) throw UsageError("--" + name + " needs a value");
            value = argv[++i];
        }
        if (cl.values.count(name)) throw UsageError("--" + name + " is given twice");
        cl.values[name] = value;
    }
    return cl;
}

struct Plan {
    GatherOptions gather;
    ExportOptions exporting;
};

Plan makePlan(const CommandLine& cl, const std::string& exeDir) {
    auto option = [&](const char* name) -> std::optional<std::string> {
        auto it = cl.values.find(name);
        if (it == cl.values.end()) return std::nullopt;
        return it->second;
    };
    const std::string iniPath = option("ini") ? *option("ini") : SettingsFilePath(exeDir);
    if (option("ini") && !kes::fileExists(iniPath))
        throw UsageError("--ini: no settings file \"" + iniPath + "\"");
    TIniFile ini(iniPath);
    const std::string exportSection = "ORVA Export";
    const std::string autoSection = "ORVA Auto Export";

    Plan plan;
    // Data directory.
    std::string dataDir = option("data")
                              ? *option("data")
                              : ini.ReadString("Directories", "ORVA Path", kes::defaultDataDir());
    if (option("data") && dataDir.empty()) throw UsageError("--data: empty directory");
    dataDir = NormalizePath(dataDir);

    // Testing period.
    std::string period =
        option("period") ? *option("period") : ini.ReadString("Testing Periods", "ORVA From", "");
    period = std::string(kes::trimBlanksAndControls(period));
    if (period.empty())
        throw UsageError("no testing period: give --period N or select one in KesPrep");
    for (char c : period)
        if (c < '0' || c > '9')
            throw UsageError("--period: \"" + period + "\" is not a period number");
    if (std::stol(period.substr(0, 9)) <= 0 || period.size() > 9)
        throw UsageError("--period: \"" + period + "\" is not a period number");
    period = std::to_string(std::stol(period));

    // Temporary or master tables.
    bool temporary;
    if (auto set = option("set")) {
        if (kes::equalsIgnoreCase(*set, "temporary"))
            temporary = true;
        else if (kes::equalsIgnoreCase(*set, "master"))
            temporary = false;
        else
            throw UsageError("--set: \"" + *set + "\" is not temporary or master");
    } else {
        // 0 "Temporary"; above it "Master"; below it no choice, which reads master.
        temporary = ini.ReadInteger(exportSection, "Search", 0) == 0;
    }

    // Date range.
    DateChoice dates;
    if (auto d = option("dates")) {
        dates = parseDates(*d);
    } else if (ini.ReadInteger(autoSection, "Date", 0) == 0) {
        dates.begin = dates.end = kes::Date::today();
    } else if (!ini.ReadBool(exportSection, "Selected Dates", false)) {
        dates.all = true;
    } else {
        const std::string today = kes::Date::today().toShortText();
        auto b = kes::Date::fromShortText(ini.ReadString(exportSection, "Begin Date", today));
        auto e = kes::Date::fromShortText(ini.ReadString(exportSection, "End Date", today));
        // Dates that do not convert give today's date for both, as in the main window.
        dates.begin = b && e ? *b : kes::Date::today();
        dates.end = b && e ? *e : kes::Date::today();
        // The main window refuses such a range before anything is gathered.
        const std::string first = dates.begin.toYyyymmdd(), last = dates.end.toYyyymmdd();
        if (first == kEmptyDate || last == kEmptyDate)
            throw UsageError("The selected dates must be entered. (\"" + exportSection +
                             "\" / \"Begin Date\" and \"End Date\" of " + iniPath + ")");
        if (first > last)
            throw UsageError("The Begin Date cannot be later than the End Date. (\"" +
                             exportSection + "\" / \"Begin Date\" and \"End Date\" of " + iniPath +
                             ")");
    }

    // Layout.
    int fileFormat;
    if (auto l = option("layout")) {
        static const std::vector<std::string> kLayouts = {"fixed", "pipe", "comma", "tab"};
        fileFormat = -1;
        for (size_t i = 0; i < kLayouts.size(); ++i)
            if (kes::equalsIgnoreCase(*l, kLayouts[i])) fileFormat = static_cast<int>(i);
        if (fileFormat < 0)
            throw UsageError("--layout: \"" + *l + "\" is not fixed, pipe, comma or tab");
    } else {
        fileFormat = ini.ReadInteger(exportSection, "File Format", 0);
    }

    // Optional fields.
    std::vector<bool> fields;
    if (auto f = option("fields"))
        fields = parseSwitches("fields", *f, {"attempted", "subscores", "panda", "sitecode"});
    else
        fields = {ini.ReadBool(exportSection, "Include Attempted", false),
                  ini.ReadBool(exportSection, "Include Subscores", false),
                  ini.ReadBool(exportSection, "Include Purpose and Accommodation", false),
                  ini.ReadBool(exportSection, "Include Site Code", false)};

    // Record kinds.
    std::vector<bool> kinds;
    if (auto r = option("records"))
        kinds = parseSwitches("records", *r, {"placement", "assessment", "scores"});
    else
        kinds = {ini.ReadBool(exportSection, "Include Placement Records", true),
                 ini.ReadBool(exportSection, "Include Assessment Records", true),
                 ini.ReadBool(exportSection, "Include Score Records", true)};

    // Upload file.
    std::string output =
        option("output") ? *option("output") : ini.ReadString(autoSection, "Filename", "");
    if (kes::trimBlanksAndControls(output).empty())
        throw UsageError("no upload file: give --output FILE or set it in the automatic window");

    plan.gather.DataDir = dataDir;
    plan.gather.PeriodDir = "VIRNTP" + period + PathDelim;
    plan.gather.SearchTemporary = temporary;
    plan.gather.IncludePlacement = kinds[0];
    plan.gather.IncludeAssessment = kinds[1];
    plan.gather.IncludeScores = kinds[2];
    plan.gather.IncludeSiteCode = fields[3];
    plan.gather.DateFilter = dates.all ? std::string()
                                       : "(DTOS(Date) >= \"" + dates.begin.toYyyymmdd() +
                                             "\") .and. (DTOS(Date) <= \"" +
                                             dates.end.toYyyymmdd() + "\")";

    plan.exporting.DataDir = dataDir;
    plan.exporting.FileFormat = fileFormat;
    plan.exporting.IncludeAttempted = fields[0];
    plan.exporting.IncludeSubscores = fields[1];
    plan.exporting.IncludePandA = fields[2];
    plan.exporting.IncludeSiteCode = fields[3];
    plan.exporting.AutoMode = true;
    plan.exporting.AutoFileName = output;
    return plan;
}

} // namespace

int main(int argc, char** argv) {
    CommandLine cl;
    Plan plan;
    try {
        cl = parseCommandLine(argc, argv);
        if (cl.help) {
            std::cout << kUsage;
            return kExitPrepared;
        }
        plan = makePlan(cl, executableDir(argc > 0 ? argv[0] : nullptr));
    } catch (const UsageError& e) {
        std::cerr << "kesprep-batch: " << e.what() << "\n"
                  << "Try 'kesprep-batch --help' for more information." << std::endl;
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "kesprep-batch: " << e.what() << std::endl;
        return kExitUsage;
    }

    TerminalOperator op(std::cout, std::cerr, stdoutIsTerminal());

    try {
        if (GatherRecords(plan.gather, op) == GatherResult::Cancelled) return kExitCancelled;
        op.EndProgressBar();

        TAdsTable work;
        if (!OpenWorkTable(work, plan.exporting.DataDir, op)) return kExitCancelled;
        std::vector<TBookmark> all = SelectAllInOrder(work, "SSN");
        TExportWriter writer;
        ExportOutcome outcome = writer.BuildExportFile(work, all, plan.exporting, op);
        work.Close();
        switch (outcome) {
        case ExportOutcome::Prepared:
            return kExitPrepared;
        case ExportOutcome::NoData:
            return kExitNoData;
        case ExportOutcome::Cancelled:
            return kExitCancelled;
        case ExportOutcome::NotPrepared:
            if (!writer.LastFailure().empty()) std::cerr << writer.LastFailure() << std::endl;
            return kExitFailed;
        }
        return kExitFailed;
    } catch (const std::exception& e) {
        op.ShowError(e.what());
        return kExitFailed;
    }
}
