// kesprep-bench-export: times one whole automatic preparation over a large
// generated testing period (by default 1,000,000 records over 200,000
// students), or over a data folder given with --data: the gathering over all
// dates of the temporary set, Select All in SSN order, the staging table and
// the upload file, in Fixed Format without and with all optional fields and
// Comma Delimited with them. Each case runs in a process of its own so that
// its peak memory is its own, and prints its steps.
#include "common/StepTimer.h"
#include "export/core/ExportWriter.h"
#include "os/Os.h"
#include "prep/core/Gather.h"
#include "prep/core/WorkTable.h"

#include "BenchData.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Wall and processor time from one moment on.
struct Span {
    Clock::time_point wall = Clock::now();
    double processor = kes::os::processorSeconds();
    double seconds() const { return std::chrono::duration<double>(Clock::now() - wall).count(); }
    double cpu() const { return kes::os::processorSeconds() - processor; }
};

struct Settings : BenchData {
    int only = 0; // 1-based case to run alone, in this process (for a profiler)
    // With --only: the work table an earlier run of the case left is exported
    // again without gathering (to profile the export alone).
    bool exportOnly = false;
};

struct QuietOperator : SilentOperator {
    std::string last;
    void ShowInformation(const std::string& text) override { last = text; }
    void ShowError(const std::string& text) override { last = text; }
};

struct Case {
    const char* name;
    int fileFormat;
    bool optional;
    const char* output;
};

int runCase(const Settings& s, const Case& c) {
    const std::string dataDir = s.dataDir();
    kes::keepStepTimes(true);
    const Span whole;

    Span step;
    GatherOptions g;
    g.DataDir = dataDir;
    g.PeriodDir = s.periodDir();
    g.SearchTemporary = true;
    g.IncludeSiteCode = c.optional;
    QuietOperator op;
    if (!s.exportOnly && GatherRecords(g, op) != GatherResult::Done) return 1;
    const double gathered = step.seconds(), gatheredCpu = step.cpu();
    const double gatheredResident = bench::megabytes(kes::os::residentMemoryBytes());

    step = Span();
    TAdsTable work;
    if (!OpenWorkTable(work, dataDir, op)) return 1;
    std::vector<TBookmark> rows = SelectAllInOrder(work);
    const double selected = step.seconds(), selectedCpu = step.cpu();
    const double selectedResident = bench::megabytes(kes::os::residentMemoryBytes());

    step = Span();
    ExportOptions o;
    o.DataDir = dataDir;
    o.FileFormat = c.fileFormat;
    o.IncludeAttempted = o.IncludeSubscores = o.IncludePandA = o.IncludeSiteCode = c.optional;
    o.UploadFile = dataDir + c.output;
    TExportWriter writer;
    writer.CSVExport1.ShowProgress = false;
    ExportOutcome outcome = writer.BuildExportFile(work, rows, o, op);
    const double exported = step.seconds(), exportedCpu = step.cpu();
    const double total = whole.seconds(), totalCpu = whole.cpu();
    work.Close();
    const double peak = bench::peakMegabytes();

    const auto bytes = std::filesystem::file_size(o.UploadFile);
    std::printf("%-34s %9zu rows %6.1f MB file  %s\n", c.name, rows.size(), bench::megabytes(bytes),
                outcome == ExportOutcome::Prepared ? "ok" : op.last.c_str());
    std::printf("    %-26s %7.3f s wall %7.3f s cpu %7.1f MB held after it\n", "gather", gathered,
                gatheredCpu, gatheredResident);
    std::printf("    %-26s %7.3f s wall %7.3f s cpu %7.1f MB held after it\n",
                "open and select all", selected, selectedCpu, selectedResident);
    std::printf("    %-26s %7.3f s wall %7.3f s cpu\n", "stage and write", exported, exportedCpu);
    std::printf("    %-26s %7.3f s wall %7.3f s cpu %9.0f rows/s %7.1f MB peak\n", "total", total,
                totalCpu, static_cast<double>(rows.size()) / total, peak);
    std::printf("  steps:\n");
    bench::printSteps();
    std::fflush(stdout);
    return outcome == ExportOutcome::Prepared ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (s.takeOption(argc, argv, i)) continue;
        if (arg == "--only" && i + 1 < argc) {
            s.only = std::atoi(argv[++i]);
            continue;
        }
        if (arg == "--export-only") {
            s.exportOnly = true;
            continue;
        }
        std::printf("Usage: kesprep-bench-export %s [--only CASE [--export-only]]\n",
                    BenchData::kOptions);
        return arg == "--help" ? 0 : 2;
    }
    if (!s.prepare()) {
        std::fprintf(stderr, "kesprep-bench-export: no data to prepare from\n");
        return 1;
    }

    const Case cases[] = {
        {"Fixed Format, no optional fields", 0, false, "upload-fixed.asc"},
        {"Fixed Format, all optional fields", 0, true, "upload-fixed-all.asc"},
        {"Comma Delimited, all optional", 2, true, "upload-comma-all.asc"},
    };
    if (s.exportOnly && s.only == 0) {
        std::fprintf(stderr, "kesprep-bench-export: --export-only goes with --only\n");
        return 2;
    }
    if (s.only > 0) {
        if (s.only > static_cast<int>(std::size(cases))) return 2;
        try {
            return runCase(s, cases[s.only - 1]);
        } catch (const std::exception& e) {
            std::printf("%-34s failed: %s\n", cases[s.only - 1].name, e.what());
            return 1;
        }
    }
    int failures = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::fflush(stdout);
        std::vector<std::string> child = {bench::selfPath(argv[0])};
        for (const std::string& option : s.childOptions())
            child.push_back(option);
        child.push_back("--only");
        child.push_back(std::to_string(i + 1));
        if (kes::os::runProgram(child) != 0) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
