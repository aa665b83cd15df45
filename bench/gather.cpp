// kesprep-bench-gather: times GatherRecords over a large generated testing
// period (by default 1,000,000 placement, assessment and score records over
// 200,000 students): all dates and a one-month range, with and without the
// code tables. Each case runs in a child process of its own so that its peak
// memory (ru_maxrss) is its own.

#include "prep/core/Gather.h"
#include "common/Paths.h"

#include "BenchData.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Settings : BenchData {
    int only = 0; // 1-based case to run alone, in this process (for a profiler)
};

// Counts the records and times the phases of a run: the copies (up to
// "Processing..."), the pass over the records (up to the last progress step)
// and the pack and close (up to the final clearing of the status).
class PhaseSink : public SilentOperator {
  public:
    using Clock = std::chrono::steady_clock;
    int records = 0;
    Clock::time_point started = Clock::now(), processing, passDone, finished;

    void ShowStatus(const std::string& text) override {
        if (text == "Processing...") processing = Clock::now();
        if (text.empty()) finished = Clock::now();
    }
    void SetProgressRange(int, int maximum) override {
        records = maximum;
        if (records == 0) passDone = Clock::now();
    }
    void SetProgress(int position) override {
        if (position == records && position > 0) passDone = Clock::now();
    }
    static double seconds(Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    }
};

// Moves the code tables aside (or back), so a case runs without them.
void codeTablesPresent(const std::string& dir, bool present) {
    for (const char* name : {"KESPLACE.dbf", "KESPLACE.cdx", "KESTEST.dbf", "KESTEST.cdx"}) {
        const std::string on = dir + "/" + name, off = on + ".bench-off";
        std::error_code ec;
        if (present && std::filesystem::exists(off)) std::filesystem::rename(off, on, ec);
        if (!present && std::filesystem::exists(on)) std::filesystem::rename(on, off, ec);
    }
}

struct Case {
    const char* name;
    bool temporary;
    bool monthOnly;
    bool codeTables;
};

// Runs one gathering in this (child) process and prints its line.
int runCase(const Settings& s, const Case& c) {
    GatherOptions o;
    o.DataDir = NormalizePath(s.dir);
    o.PeriodDir = std::string("VIRNTP1") + PathDelim;
    o.SearchTemporary = c.temporary;
    o.IncludeSiteCode = true;
    // Period 1 runs from 08/15/2005; its first month:
    if (c.monthOnly)
        o.DateFilter = "(DTOS(Date) >= \"20050815\") .and. (DTOS(Date) <= \"20050914\")";
    PhaseSink sink;
    const auto started = std::chrono::steady_clock::now();
    sink.started = started;
    GatherResult result = GatherRecords(o, sink).result;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (result != GatherResult::Done) {
        std::printf("%-38s cancelled\n", c.name);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    std::printf("%-38s %9d records %7.3f s (cpu %6.3f s) %9.0f records/s %7.1f MB peak\n"
                "%-38s copy %.3f s, pass %.3f s, pack+close %.3f s\n",
                c.name, sink.records, seconds, cpu, sink.records / seconds,
                usage.ru_maxrss / 1024.0, "", PhaseSink::seconds(sink.started, sink.processing),
                PhaseSink::seconds(sink.processing, sink.passDone),
                PhaseSink::seconds(sink.passDone, sink.finished));
    return 0;
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
        std::printf("Usage: kesprep-bench-gather [--dir DIR] [--records N] [--students N] "
                    "[--regenerate] [--only CASE]\n");
        return arg == "--help" ? 0 : 2;
    }
    if (!s.prepare()) {
        std::fprintf(stderr, "kesprep-bench-gather: generating the data failed\n");
        return 1;
    }

    const Case cases[] = {
        {"temporary, all dates, no code tables", true, false, false},
        {"temporary, all dates, code tables", true, false, true},
        {"temporary, one month, no code tables", true, true, false},
        {"temporary, one month, code tables", true, true, true},
        {"master, all dates, code tables", false, false, true},
    };
    if (s.only > 0) {
        if (s.only > static_cast<int>(std::size(cases))) return 2;
        const Case& c = cases[s.only - 1];
        codeTablesPresent(s.dir, c.codeTables);
        int rc = runCase(s, c);
        codeTablesPresent(s.dir, true);
        return rc;
    }
    int failures = 0;
    for (const Case& c : cases) {
        codeTablesPresent(s.dir, c.codeTables);
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            int rc = 1;
            try {
                rc = runCase(s, c);
            } catch (const std::exception& e) {
                std::printf("%-38s failed: %s\n", c.name, e.what());
            }
            std::fflush(stdout);
            _exit(rc);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
    }
    codeTablesPresent(s.dir, true);
    return failures == 0 ? 0 : 1;
}
