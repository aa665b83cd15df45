// kesprep-bench-export: times one whole automatic preparation over a large
// generated testing period (by default 1,000,000 records over 200,000
// students), or over a data folder given with --data: the gathering over all
// dates of the temporary set, Select All in SSN order, the staging table and
// the upload file, in Fixed Format without and with all optional fields and
// Comma Delimited with them. Each case runs in a process of its own so that
// its peak memory is its own, and prints its steps. Beside each run stands
// its copy floor: the time to read the input files the run reads and to
// write as many bytes as it leaves behind (the work table, the staging table,
// their indexes and the upload file), the best of three. --size picks one of
// the sizes 250k, 1m and 4m records (one student for every five).
#include "common/StepTimer.h"
#include "export/core/ExportWriter.h"
#include "os/Os.h"
#include "prep/core/Gather.h"
#include "prep/core/WorkTable.h"

#include "BenchData.h"

#include <algorithm>
#include <cctype>
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

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The files of `folder` with one of these names, in any letter case.
std::vector<std::string> filesNamed(const std::string& folder,
                                    const std::vector<std::string>& lowerNames) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() &&
            std::find(lowerNames.begin(), lowerNames.end(),
                      lowerCase(entry.path().filename().string())) != lowerNames.end())
            found.push_back(entry.path().string());
    return found;
}

uint64_t totalSize(const std::vector<std::string>& files) {
    uint64_t sum = 0;
    for (const std::string& file : files)
        sum += std::filesystem::file_size(file);
    return sum;
}

// What a preparation cannot go below: reading `inputs` whole and writing
// `bytes` into a new file, a megabyte at a time; the best of three.
double copyFloor(const std::vector<std::string>& inputs, const std::string& scratch,
                 uint64_t bytes) {
    std::vector<char> buffer(size_t(1) << 20, 'x');
    double best = 1e9;
    for (int trial = 0; trial < 3; ++trial) {
        const Clock::time_point start = Clock::now();
        for (const std::string& path : inputs) {
            kes::os::File in;
            uint64_t size = 0;
            if (!kes::os::File::openRead(path, in).ok() || !in.size(size).ok()) return -1;
            for (uint64_t at = 0; at < size; at += buffer.size())
                if (!in.readAt(at, buffer.data(), std::min<uint64_t>(buffer.size(), size - at))
                         .ok())
                    return -1;
        }
        kes::os::File out;
        if (!kes::os::File::createOrTruncate(scratch, out).ok()) return -1;
        for (uint64_t at = 0; at < bytes; at += buffer.size())
            if (!out.writeAt(at, buffer.data(), std::min<uint64_t>(buffer.size(), bytes - at)).ok())
                return -1;
        if (!out.close().ok()) return -1;
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
        kes::os::removeFile(scratch);
    }
    return best;
}

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
    GatherReport report;
    if (!s.exportOnly) report = GatherRecords(g, op);
    if (report.result != GatherResult::Done) return 1;
    const long recordsRead =
        report.account.placement.read + report.account.assessment.read + report.account.scores.read;
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

    // The floor of this run: the tables it read, the files it left.
    const std::vector<std::string> inputs = [&] {
        std::vector<std::string> files =
            filesNamed(dataDir + s.periodDir(), {"plactemp.dbf", "assetemp.dbf", "scortemp.dbf",
                                                 "studtemp.dbf", "ssntemp.ntx"});
        for (const std::string& f :
             filesNamed(dataDir, {"kesplace.dbf", "kesplace.cdx", "kestest.dbf", "kestest.cdx",
                                  "setupsch.dbf"}))
            files.push_back(f);
        return files;
    }();
    std::vector<std::string> outputs =
        filesNamed(dataDir, {"kestable.dbf", "kestable.cdx", "kestalex.dbf", "kestalex.cdx"});
    outputs.push_back(o.UploadFile);
    const uint64_t written = totalSize(outputs);
    const double floor = copyFloor(inputs, dataDir + "kesprep-bench-floor.tmp", written);
    std::printf("  copy floor: %.1f MB read, %.1f MB written, %.3f s (best of 3); run %.2f times "
                "the floor\n",
                bench::megabytes(totalSize(inputs)), bench::megabytes(written), floor,
                floor > 0 ? total / floor : 0.0);
    if (recordsRead > 0)
        std::printf("  per record read (%ld): run %.0f ns, floor %.0f ns\n", recordsRead,
                    1e9 * total / static_cast<double>(recordsRead),
                    1e9 * floor / static_cast<double>(recordsRead));
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
