// kesprep-bench-export: times one whole automatic preparation over a large
// generated testing period (by default 1,000,000 records over 200,000 students):
// the gathering over all dates of the temporary set, Select All in SSN order,
// the staging table and the upload file, once in Fixed Format and once Comma
// Delimited with all optional fields. Each case runs in a child process of its
// own so that its peak memory (ru_maxrss) is its own.
#include "export/core/ExportWriter.h"
#include "prep/core/Gather.h"

#include "BenchData.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

using Settings = BenchData;

struct QuietOperator : SilentOperator {
    std::string last;
    void ShowInformation(const std::string& text) override { last = text; }
    void ShowError(const std::string& text) override { last = text; }
};

struct Case {
    const char* name;
    int fileFormat;
    bool optional;
};

int runCase(const Settings& s, const Case& c) {
    const std::string dataDir = s.dir + "/";
    const auto start = Clock::now();

    GatherOptions g;
    g.DataDir = dataDir;
    g.PeriodDir = "VIRNTP1/";
    g.SearchTemporary = true;
    g.IncludeSiteCode = c.optional;
    QuietOperator op;
    if (GatherRecords(g, op) != GatherResult::Done) return 1;
    const double gathered = since(start);

    auto t = Clock::now();
    TAdsTable work;
    if (!OpenWorkTable(work, dataDir, op)) return 1;
    std::vector<TBookmark> rows = SelectAllInOrder(work);
    const double selected = since(t);

    t = Clock::now();
    ExportOptions o;
    o.DataDir = dataDir;
    o.FileFormat = c.fileFormat;
    o.IncludeAttempted = o.IncludeSubscores = o.IncludePandA = o.IncludeSiteCode = c.optional;
    o.AutoMode = true;
    o.AutoFileName = dataDir + "upload.asc";
    TExportWriter writer;
    writer.CSVExport1.ShowProgress = false;
    ExportOutcome outcome = writer.BuildExportFile(work, rows, o, op);
    const double exported = since(t);
    const double total = since(start);
    work.Close();

    // The write alone: the staging table once more through the component.
    TAdsTable staging;
    staging.DatabaseName = dataDir;
    staging.SetTableName("KESTALEX");
    staging.Open();
    t = Clock::now();
    writer.CSVExport1.DataSet = &staging;
    writer.CSVExport1.OutputFile = dataDir + "upload2.asc";
    const int written = writer.CSVExport1.Execute();
    const double writeOnly = since(t);
    staging.Close();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto bytes = std::filesystem::file_size(o.AutoFileName);
    std::printf("%-34s %9zu rows  gather %6.2f s  select %5.2f s  stage+write %5.2f s  "
                "(write alone %5.2f s, %d rows)  total %6.2f s  %9.0f rows/s  %7.1f MB peak  "
                "%6.1f MB file  %s\n",
                c.name, rows.size(), gathered, selected, exported, writeOnly, written, total,
                static_cast<double>(rows.size()) / total, usage.ru_maxrss / 1024.0,
                static_cast<double>(bytes) / (1024.0 * 1024.0),
                outcome == ExportOutcome::Prepared ? "ok" : op.last.c_str());
    std::fflush(stdout);
    return outcome == ExportOutcome::Prepared ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        if (s.takeOption(argc, argv, i)) continue;
        std::printf("Usage: kesprep-bench-export [--dir DIR] [--records N] [--students N] "
                    "[--regenerate]\n");
        return std::string(argv[i]) == "--help" ? 0 : 2;
    }
    if (!s.prepare()) {
        std::fprintf(stderr, "kesprep-bench-export: generating the data failed\n");
        return 1;
    }

    const Case cases[] = {
        {"Fixed Format, no optional fields", 0, false},
        {"Comma Delimited, all optional", 2, true},
    };
    int failures = 0;
    for (const Case& c : cases) {
        pid_t child = fork();
        if (child == 0) _exit(runCase(s, c));
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
