// The data folder the gathering and export benchmarks share: one generated
// testing period of a given size, with code tables, made by kesprep-gendata
// (KES_GENDATA) and reused while its size stays the same; or, with --data, a
// data folder of an office used as it is. Also what the benchmarks print
// alike: the steps a run timed, and its peak memory.
#pragma once

#include "common/StepTimer.h"
#include "os/Os.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct BenchData {
    std::string dir = std::string(KES_BENCH_DIR) + "/bench-data";
    long records = 1000000;
    long students = 200000;
    bool regenerate = false;
    bool given = false; // --data: a folder used as it is, never generated
    bool dirGiven = false;
    int period = 1;

    static constexpr const char* kOptions =
        "[--size 250k|1m|4m] [--dir DIR] [--records N] [--students N] [--regenerate] "
        "[--data DIR] [--period N]";

    // The sizes --size names: records, and one student for every five.
    struct Size {
        const char* name;
        long records;
    };
    static constexpr Size kSizes[] = {{"250k", 250000}, {"1m", 1000000}, {"4m", 4000000}};

    // Takes the options every benchmark knows (--dir, --records, --students,
    // --regenerate, --data, --period); false when argv[i] is none of them.
    bool takeOption(int argc, char** argv, int& i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
            dirGiven = true;
        } else if (arg == "--size" && i + 1 < argc) {
            const std::string name = argv[++i];
            bool known = false;
            for (const Size& size : kSizes)
                if (name == size.name) {
                    records = size.records;
                    students = size.records / 5;
                    known = true;
                    // Each size keeps a folder of its own, so that moving
                    // between sizes generates nothing again.
                    if (!dirGiven && !given)
                        dir = std::string(KES_BENCH_DIR) + "/bench-data-" + size.name;
                }
            if (!known) {
                std::fprintf(stderr, "Unknown size %s (250k, 1m or 4m)\n", name.c_str());
                std::exit(2);
            }
        } else if (arg == "--data" && i + 1 < argc) {
            dir = argv[++i];
            given = dirGiven = true;
        } else if (arg == "--period" && i + 1 < argc)
            period = std::atoi(argv[++i]);
        else if (arg == "--records" && i + 1 < argc)
            records = std::atol(argv[++i]);
        else if (arg == "--students" && i + 1 < argc)
            students = std::atol(argv[++i]);
        else if (arg == "--regenerate")
            regenerate = true;
        else
            return false;
        return true;
    }

    // The data folder with its separator, and the period folder in it.
    std::string dataDir() const {
        return dir.empty() || dir.back() == '/' || dir.back() == '\\' ? dir : dir + "/";
    }
    std::string periodDir() const { return "VIRNTP" + std::to_string(period) + "/"; }

    // Generates the folder unless one of the same size is there already; a
    // folder given with --data is only checked.
    bool prepare() const {
        if (given) {
            const bool there = std::filesystem::is_directory(dataDir() + periodDir());
            if (!there)
                std::fprintf(stderr, "No testing period folder %s%s\n", dataDir().c_str(),
                             periodDir().c_str());
            return there;
        }
        const std::string marker = dir + "/.kesprep-bench";
        const std::string wanted =
            std::to_string(records) + " " + std::to_string(students) + " seed 1\n";
        if (!regenerate) {
            std::ifstream in(marker);
            std::string have((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            if (have == wanted) {
                std::printf("Reusing %s\n", dir.c_str());
                return true;
            }
        }
        std::filesystem::remove_all(dir);
        const std::vector<std::string> command = {KES_GENDATA,
                                                  "--out",
                                                  dir,
                                                  "--periods",
                                                  "1",
                                                  "--records",
                                                  std::to_string(records),
                                                  "--students",
                                                  std::to_string(students),
                                                  "--seed",
                                                  "1",
                                                  "--with-code-tables"};
        std::printf("Generating %ld records over %ld students in %s\n", records, students,
                    dir.c_str());
        std::fflush(stdout);
        if (kes::os::runProgram(command) != 0) return false;
        std::ofstream(marker) << wanted;
        return true;
    }

    // The options that point a child run at the same folder (already made).
    std::vector<std::string> childOptions() const {
        return {"--data", dir, "--period", std::to_string(period)};
    }
};

namespace bench {

// This program, for running one case in a process of its own (so that its
// peak memory is its own).
inline std::string selfPath(const char* argv0) {
    std::string name = argv0;
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    return kes::os::executableDirectory() + name;
}

inline double megabytes(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

inline double peakMegabytes() {
    return megabytes(kes::os::peakResidentMemoryBytes());
}

// The steps kept by kes::StepTimer, each name once with its sums, in the
// order they first ended.
inline void printSteps() {
    struct Sum {
        std::string name;
        double wall = 0, processor = 0;
        uint64_t peak = 0;
        int count = 0;
    };
    std::vector<Sum> sums;
    for (const kes::StepTime& step : kes::stepTimes()) {
        Sum* sum = nullptr;
        for (Sum& s : sums)
            if (s.name == step.name) sum = &s;
        if (!sum) sum = &sums.emplace_back(Sum{step.name});
        sum->wall += step.wallSeconds;
        sum->processor += step.processorSeconds;
        if (sum->peak < step.peakBytes) sum->peak = step.peakBytes;
        ++sum->count;
    }
    for (const Sum& s : sums)
        std::printf("    %-26s %7.3f s wall %7.3f s cpu %7.1f MB peak at its end%s\n",
                    s.name.c_str(), s.wall, s.processor, megabytes(s.peak),
                    s.count > 1 ? (" (" + std::to_string(s.count) + " times)").c_str() : "");
}

} // namespace bench
