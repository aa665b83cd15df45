// kesprep-bench-gather: times GatherRecords over a large generated testing
// period (by default 1,000,000 placement, assessment and score records over
// 200,000 students), or over a data folder given with --data: all dates and a
// one-month range, with and without the code tables. Each case runs in a
// process of its own so that its peak memory is its own, and prints its
// steps: the copy of each record kind, the lookups, the pack and the tags.

#include "prep/core/Gather.h"
#include "common/Paths.h"
#include "common/StepTimer.h"
#include "os/Os.h"

#include "BenchData.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Settings : BenchData {
    int only = 0; // 1-based case to run alone, in this process (for a profiler)
};

// Moves the code tables aside (or back), so a case runs without them.
void codeTablesPresent(const std::string& dir, bool present) {
    for (const char* name : {"KESPLACE.dbf", "KESPLACE.cdx", "KESTEST.dbf", "KESTEST.cdx"}) {
        const std::string on = dir + name, off = on + ".bench-off";
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

// Runs one gathering in this process and prints its lines.
int runCase(const Settings& s, const Case& c) {
    GatherOptions o;
    o.DataDir = NormalizePath(s.dataDir());
    o.PeriodDir = "VIRNTP" + std::to_string(s.period) + PathDelim;
    o.SearchTemporary = c.temporary;
    o.IncludeSiteCode = true;
    // Period 1 of the generated data runs from 08/15/2005; its first month:
    if (c.monthOnly)
        o.DateFilter = "(DTOS(Date) >= \"20050815\") .and. (DTOS(Date) <= \"20050914\")";
    kes::keepStepTimes(true);
    SilentOperator quiet;
    const double cpu = kes::os::processorSeconds();
    const auto started = std::chrono::steady_clock::now();
    GatherReport report = GatherRecords(o, quiet);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double used = kes::os::processorSeconds() - cpu;
    if (report.result != GatherResult::Done) {
        std::printf("%-38s cancelled\n", c.name);
        return 1;
    }
    const int read =
        report.account.placement.read + report.account.assessment.read + report.account.scores.read;
    std::printf("%-38s %9d records read %9d kept %7.3f s wall %7.3f s cpu %9.0f records/s "
                "%7.1f MB peak\n",
                c.name, read, report.account.kept, seconds, used, read / seconds,
                bench::peakMegabytes());
    bench::printSteps();
    std::fflush(stdout);
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
        std::printf("Usage: kesprep-bench-gather %s [--only CASE]\n", BenchData::kOptions);
        return arg == "--help" ? 0 : 2;
    }
    if (!s.prepare()) {
        std::fprintf(stderr, "kesprep-bench-gather: no data to gather\n");
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
        codeTablesPresent(s.dataDir(), c.codeTables);
        int rc = 1;
        try {
            rc = runCase(s, c);
        } catch (const std::exception& e) {
            std::printf("%-38s failed: %s\n", c.name, e.what());
        }
        codeTablesPresent(s.dataDir(), true);
        return rc;
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
