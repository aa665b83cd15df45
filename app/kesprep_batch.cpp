// kesprep-batch: the automatic preparation for schedulers. It gathers the
// records of one testing period into the work table, selects every record in
// SSN order and writes the upload file, exactly as the automatic preparation
// window's "Prepare Export File" does, with the settings of KesPrep.ini and the
// options of the command line. No windows, no display needed.
//
// The program is three steps: the command line becomes the choices of a
// PreparationPlan (app/core), the plan is checked, and a Preparation runs it
// with a TerminalOperator for everything it has to say.
#include "app/Version.h"
#include "app/core/IniFile.h"
#include "app/core/Preparation.h"
#include "app/core/PreparationHistory.h"
#include "app/core/Settings.h"
#include "app/core/TerminalOperator.h"
#include "common/Paths.h"
#include "common/PdfReportSurface.h"
#include "common/Text.h"
#include "os/Os.h"
#include "settings/core/LayoutReport.h"

#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

enum ExitCode {
    kExitPrepared = 0,
    kExitFailed = 1,    // not prepared, or an error of the tables
    kExitUsage = 2,     // a bad command line, a missing setting or folder; nothing
                        // was gathered
    kExitNoData = 3,    // no record in the date range
    kExitCancelled = 4, // a table could not be opened: another program holds it
    kExitBusy = 5,      // another preparation runs on the same data folder
    kExitWarnings = 6,  // prepared, with warnings the operator must read
    kExitDamaged = 7,   // a table or index is damaged, or is no file at all
};

const char* const kUsage = R"(Usage: kesprep-batch [options]

Prepares the Kestal upload file without an operator: gathers the placement,
assessment and score records of one testing period into the work table
KESTABLE, selects every record in SSN order and writes the upload file, as the
automatic preparation window's "Prepare Export File" does.

Every option left out takes its value from the settings file KesPrep.ini
(or the file given with --ini). It lies beside the program; a copy installed
on Linux keeps it in $XDG_CONFIG_HOME/kesprep/, or ~/.config/kesprep/ when that
is not set. This copy's settings file: {settings}

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
  --layout-report FILE.pdf
                    instead of preparing, write the one-page report "Upload
                    File Format" that describes the upload file's layout for
                    --layout and --fields (or their settings) as a PDF file
  --history [N]     instead of preparing, print the last N entries (default
                    10) of the preparation history of the data directory
                    (--data or its setting), the newest last: when each
                    preparation ran, who ran it and how, the upload file
                    with its size and SHA-256 checksum, and whether it was
                    prepared or why not
  --help            this text
  --version         the program's version

On success the last line names the upload file and the number of records
written to it.

Exit status:
  0  the file was prepared
  1  it was not prepared (the reason is printed), or a table could not be
     read (a file we may not read, two files of one name in different
     letter case, a full disk)
  2  a bad option, a missing period or output file, settings dates that the
     main window would refuse, a data directory or period folder that does
     not exist, or a period folder without the tables to gather (nothing is
     gathered)
  3  no record in the date range (the file is left as it was)
  4  a table could not be opened: another program holds it (or kept
     writing it while it was read), or it is missing; the run was given up
  5  another preparation (kesprep or kesprep-batch) is running on the same
     data folder (nothing is gathered)
  6  the file was prepared, with warnings the operator must read (printed
     after "Warning:", on the error output too): records lying past the end
     a table's header states, which the testing system may be adding
  7  a table or index is damaged, or is no file (a pipe, a device, a
     folder): the message names it and what is wrong; the upload file is
     left as it was
)";

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

bool stdoutIsTerminal() {
    return kes::os::stdoutIsTerminal();
}

// The folder the program runs from; SettingsFilePath says where the settings
// file lies for it.
std::string executableDir(const char* argv0) {
    const std::string dir = kes::os::executableDirectory();
    return dir.empty() ? kes::directoryOf(argv0 ? argv0 : "") : dir;
}

// ---------------------------------------------------------------- command line

enum class ValueUse { None, Required, Optional };

struct OptionSpec {
    const char* name;
    ValueUse value;
};

// Every option the program knows; an option without a value is a switch. An
// optional value is the next argument when that is no option.
const OptionSpec kOptions[] = {
    {"ini", ValueUse::Required},           {"data", ValueUse::Required},
    {"period", ValueUse::Required},        {"set", ValueUse::Required},
    {"dates", ValueUse::Required},         {"layout", ValueUse::Required},
    {"fields", ValueUse::Required},        {"records", ValueUse::Required},
    {"output", ValueUse::Required},        {"help", ValueUse::None},
    {"layout-report", ValueUse::Required}, {"history", ValueUse::Optional},
    {"version", ValueUse::None},
};

class CommandLine {
  public:
    std::optional<std::string> value(const std::string& name) const {
        auto it = values_.find(name);
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    bool has(const std::string& name) const { return values_.count(name) > 0; }

    static CommandLine parse(int argc, char** argv) {
        CommandLine cl;
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            if (arg == "-h") arg = "--help";
            if (arg.rfind("--", 0) != 0) throw UsageError("unexpected argument \"" + arg + "\"");
            std::string name = arg.substr(2), text;
            const size_t eq = name.find('=');
            const bool hasValue = eq != std::string::npos;
            if (hasValue) {
                text = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
            const OptionSpec* option = nullptr;
            for (const OptionSpec& o : kOptions)
                if (name == o.name) option = &o;
            if (!option) throw UsageError("unknown option \"--" + name + "\"");
            if (option->value == ValueUse::None && hasValue)
                throw UsageError("--" + name + " takes no value");
            if (option->value == ValueUse::Required && !hasValue) {
                if (i + 1 >= argc) throw UsageError("--" + name + " needs a value");
                text = argv[++i];
            }
            if (option->value == ValueUse::Optional && !hasValue && i + 1 < argc &&
                std::string(argv[i + 1]).rfind("--", 0) != 0)
                text = argv[++i];
            if (cl.values_.count(name) && option->value != ValueUse::None)
                throw UsageError("--" + name + " is given twice");
            cl.values_[name] = text;
        }
        return cl;
    }

  private:
    std::map<std::string, std::string> values_;
};

// "none" or a comma-separated list of names into switches, in the order of
// `names`.
std::vector<bool> parseSwitches(const std::string& option, const std::string& value,
                                const std::vector<std::string>& names) {
    std::vector<bool> on(names.size(), false);
    if (kes::equalsIgnoreCase(value, "none")) return on;
    std::string all;
    for (const auto& n : names)
        all += (all.empty() ? "" : ",") + n;
    size_t pos = 0;
    while (true) {
        const size_t comma = value.find(',', pos);
        const std::string item = kes::toLowerAscii(kes::trimBlanksAndControls(
            value.substr(pos, comma == std::string::npos ? comma : comma - pos)));
        size_t i = 0;
        while (i < names.size() && names[i] != item)
            ++i;
        if (i == names.size())
            throw UsageError("--" + option + ": unknown name \"" + item + "\" (use none or " + all +
                             ")");
        on[i] = true;
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return on;
}

// all, today or MM/DD/YYYY-MM/DD/YYYY. Whether the range may be used is the
// plan's to say.
DateSelection parseDates(const std::string& value) {
    if (kes::equalsIgnoreCase(value, "all")) return DateSelection::All();
    if (kes::equalsIgnoreCase(value, "today")) return DateSelection::Today();
    const size_t dash = value.find('-');
    std::optional<kes::Date> begin, end;
    if (dash != std::string::npos) {
        begin = kes::Date::fromShortText(value.substr(0, dash));
        end = kes::Date::fromShortText(value.substr(dash + 1));
    }
    if (!begin || !end)
        throw UsageError("--dates: \"" + value +
                         "\" is not all, today or MM/DD/YYYY-MM/DD/YYYY with valid dates");
    return DateSelection::Between(*begin, *end);
}

UploadLayout parseLayout(const std::string& value) {
    static const char* const kNames[] = {"fixed", "pipe", "comma", "tab"};
    for (int i = 0; i < 4; ++i)
        if (kes::equalsIgnoreCase(value, kNames[i])) return static_cast<UploadLayout>(i);
    throw UsageError("--layout: \"" + value + "\" is not fixed, pipe, comma or tab");
}

PlanChoices choicesFrom(const CommandLine& cl) {
    PlanChoices c;
    c.DataDir = cl.value("data");
    c.Period = cl.value("period");
    if (auto set = cl.value("set")) {
        if (kes::equalsIgnoreCase(*set, "temporary"))
            c.SearchTemporary = true;
        else if (kes::equalsIgnoreCase(*set, "master"))
            c.SearchTemporary = false;
        else
            throw UsageError("--set: \"" + *set + "\" is not temporary or master");
    }
    if (auto dates = cl.value("dates")) c.Dates = parseDates(*dates);
    if (auto layout = cl.value("layout")) c.Layout = parseLayout(*layout);
    if (auto fields = cl.value("fields")) {
        auto on = parseSwitches("fields", *fields, {"attempted", "subscores", "panda", "sitecode"});
        c.Fields = OptionalFields{on[0], on[1], on[2], on[3]};
    }
    if (auto records = cl.value("records")) {
        auto on = parseSwitches("records", *records, {"placement", "assessment", "scores"});
        c.Kinds = RecordKinds{on[0], on[1], on[2]};
    }
    c.OutputFile = cl.value("output");
    return c;
}

// A refused plan in the words of this program: the option that was given, or
// the settings that were read and how to choose otherwise.
std::string refusal(const PlanError& e, const std::string& settingsFile) {
    const char* option = "";
    switch (e.Item) {
    case PlanItem::DataDir:
        option = "--data";
        break;
    case PlanItem::Period:
        option = "--period";
        break;
    case PlanItem::Dates:
        option = "--dates";
        break;
    case PlanItem::Layout:
        option = "--layout";
        break;
    case PlanItem::OutputFile:
        option = "--output";
        break;
    }
    if (e.Settings.empty()) return std::string(option) + ": " + e.what();
    return std::string(e.what()) + " (" + e.Settings + " of " + settingsFile + "; or give " +
           option + ")";
}

// ---------------------------------------------------------------- layout report

// The upload layout report for the layout and fields of the settings or the
// command line, as a PDF file. Throws PlanError as the preparation would for a
// layout it refuses.
int writeLayoutReport(const std::string& pdfPath, const std::string& settingsFile,
                      PlanChoices choices) {
    // Only the layout and the fields matter here; the rest must not stop the plan.
    if (!choices.Period) choices.Period = "1";
    if (!choices.OutputFile) choices.OutputFile = pdfPath;
    choices.Dates = DateSelection::All();
    const PreparationPlan plan = MakePreparationPlan(settingsFile, choices);

    LayoutReportChoices report;
    report.FileFormat = static_cast<int>(plan.Layout);
    report.IncludeAttempted = plan.Fields.Attempted;
    report.IncludeSubscores = plan.Fields.Subscores;
    report.IncludePandA = plan.Fields.PandA;
    report.IncludeSiteCode = plan.Fields.SiteCode;

    kes::PdfReportSurface page;
    ReportSystem1Print(page, report);
    try {
        page.WriteFile(pdfPath, kLayoutReportTitle);
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return kExitFailed;
    }
    std::cout << "Wrote the upload layout report to " << pdfPath << std::endl;
    return kExitPrepared;
}

// ---------------------------------------------------------------- history

constexpr int kHistoryDefaultCount = 10;

// "dd" of --history as a count of entries, 1 or more.
int historyCount(const std::string& text) {
    if (text.empty()) return kHistoryDefaultCount;
    int count = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || count > 100000)
            throw UsageError("--history: \"" + text + "\" is not a number of entries");
        count = count * 10 + (c - '0');
    }
    if (count < 1) throw UsageError("--history: \"" + text + "\" is not a number of entries");
    return count;
}

// "2004-06-15" as the program shows a date, "06/15/2004".
std::string shortDate(const std::string& iso) {
    if (iso.size() != 10) return iso;
    return iso.substr(5, 2) + "/" + iso.substr(8, 2) + "/" + iso.substr(0, 4);
}

// One entry in three lines: when, who and the outcome; what was asked for;
// what was written, or why nothing was.
void printHistoryEntry(std::ostream& out, const HistoryEntry& e) {
    // The end's date only when it is another day than the start's.
    const bool sameDay = e.Ended.substr(0, 10) == e.Started.substr(0, 10);
    out << e.Started << " to "
        << (sameDay ? e.Ended.substr(std::min<size_t>(11, e.Ended.size())) : e.Ended) << "  "
        << e.FrontEnd << (e.User.empty() ? "" : ", " + e.User) << ": " << OutcomeName(e.Outcome)
        << "\n";
    out << "  period " << e.Period << ", " << kes::toLowerAscii(e.Set) << " tables, "
        << (e.BeginDate.empty() ? std::string("all dates")
                                : shortDate(e.BeginDate) + " to " + shortDate(e.EndDate))
        << ", " << e.Layout << (e.OptionalFields.empty() ? "" : " with " + e.OptionalFields)
        << "\n";
    if (e.Outcome != HistoryOutcome::NotPrepared)
        out << "  " << e.Rows << (e.Rows == "1" ? " record" : " records") << " to " << e.UploadFile
            << " (" << e.Size << " bytes, SHA-256 " << e.Sha256 << ")\n";
    else if (!e.UploadFile.empty())
        out << "  " << e.UploadFile << "\n";
    if (!e.Reason.empty()) out << "  " << e.Reason << "\n";
}

// The last `count` entries of the data directory's history, the newest last.
int printHistory(const std::string& dataDir, int count) {
    std::string error;
    const std::vector<HistoryEntry> entries = ReadHistory(dataDir, &error);
    if (!error.empty()) {
        std::cerr << "kesprep-batch: " << error << std::endl;
        return kExitFailed;
    }
    if (entries.empty()) {
        std::cout << "No preparation in the history of " << dataDir << std::endl;
        return kExitPrepared;
    }
    const size_t first = entries.size() > static_cast<size_t>(count) ? entries.size() - count : 0;
    for (size_t i = first; i < entries.size(); ++i)
        printHistoryEntry(std::cout, entries[i]);
    std::cout << std::flush;
    return kExitPrepared;
}

// ---------------------------------------------------------------- preparation

// Gathers, selects every record in SSN order and writes the upload file.
int prepare(const PreparationPlan& plan, TerminalOperator& op) {
    // One preparation at a time per data folder, from the gathering to the
    // end of the export.
    std::optional<Preparation> preparation;
    try {
        preparation.emplace(plan, PreparationFrontEnd::Batch);
    } catch (const EPreparationBusy& e) {
        op.ShowError(e.what());
        return kExitBusy;
    }
    const GatherReport gathered = preparation->Gather(op);
    if (gathered == GatherResult::Cancelled) return kExitCancelled;
    op.EndProgressBar();

    const ExportAllResult written = preparation->ExportAll(op);
    if (!preparation->HistoryProblem().empty())
        std::cerr << "kesprep-batch: the preparation history was not written: "
                  << preparation->HistoryProblem() << std::endl;
    int exitCode = kExitFailed;
    switch (written.Outcome) {
    case ExportOutcome::Prepared:
        std::cout << "Wrote " << written.Rows << (written.Rows == 1 ? " record" : " records")
                  << " to " << plan.OutputFile
                  << (written.Warnings.empty() ? "" : ", with warnings") << std::endl;
        exitCode = written.Warnings.empty() ? kExitPrepared : kExitWarnings;
        break;
    case ExportOutcome::NoData:
        exitCode = kExitNoData;
        break;
    case ExportOutcome::Cancelled:
        return kExitCancelled;
    case ExportOutcome::NotPrepared:
        // The writer's message has named the reason.
        exitCode = kExitFailed;
        break;
    }
    // After the outcome, where the records read went.
    for (const std::string& line : GatherAccountLines(gathered.account))
        std::cout << "  " << line << "\n";
    std::cout << std::flush;
    return exitCode;
}

} // namespace

int main(int argc, char** nativeArgv) {
    // Arguments as UTF-8 text on every platform (a data folder "Données").
    std::vector<std::string> arguments = kes::os::commandLineArguments(argc, nativeArgv);
    std::vector<char*> argvUtf8;
    for (std::string& a : arguments)
        argvUtf8.push_back(a.data());
    argvUtf8.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    char** argv = argvUtf8.data();
    PreparationPlan plan;
    try {
        const CommandLine cl = CommandLine::parse(argc, argv);
        if (cl.has("version")) {
            std::cout << "kesprep-batch (KesPrep) " KES_VERSION "\n";
            return kExitPrepared;
        }
        const std::string ownSettingsFile =
            SettingsFilePath(executableDir(argc > 0 ? argv[0] : nullptr));
        if (cl.has("help")) {
            std::string usage = kUsage;
            const std::string slot = "{settings}";
            usage.replace(usage.find(slot), slot.size(), ownSettingsFile);
            std::cout << usage;
            return kExitPrepared;
        }
        const PlanChoices choices = choicesFrom(cl);
        const std::string settingsFile = cl.value("ini") ? *cl.value("ini") : ownSettingsFile;
        if (cl.has("ini") && !kes::fileExists(settingsFile))
            throw UsageError("--ini: no settings file \"" + settingsFile + "\"");
        if (auto history = cl.value("history")) {
            const int count = historyCount(*history);
            std::string dataDir = choices.DataDir ? NormalizePath(*choices.DataDir)
                                                  : ReadSettings(settingsFile).DataDir;
            if (kes::trimBlanksAndControls(dataDir).empty() || dataDir == std::string(1, PathDelim))
                throw UsageError("--history: no data directory (give --data)");
            return printHistory(dataDir, count);
        }
        if (auto pdf = cl.value("layout-report")) {
            if (kes::trimBlanksAndControls(*pdf).empty())
                throw UsageError("--layout-report: no file name");
            try {
                return writeLayoutReport(*pdf, settingsFile, choices);
            } catch (const PlanError& e) {
                throw UsageError(refusal(e, settingsFile));
            }
        }
        try {
            plan = MakePreparationPlan(settingsFile, choices);
        } catch (const PlanError& e) {
            throw UsageError(refusal(e, settingsFile));
        }
        const std::string missing = MissingFolderMessage(plan);
        if (!missing.empty()) throw UsageError(missing);
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
        return prepare(plan, op);
    } catch (const EADSDatabaseError& e) {
        op.ShowError(e.what());
        return IsDamageError(e.Number()) ? kExitDamaged : kExitFailed;
    } catch (const std::exception& e) {
        op.ShowError(e.what());
        return kExitFailed;
    }
}
