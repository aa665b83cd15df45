// What the loops over every write point share: the bytes of the files that
// must survive, the temporary files a run left behind, and the figures each
// loop prints (how many points it visited, how each run ended).
#pragma once

#include "os/Os.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace faultloop {

namespace fs = std::filesystem;
using Injection = kes::os::FaultInjectionForTesting;

inline std::string bytesOf(const std::string& path) {
    std::string bytes;
    if (!kes::os::readFile(path, bytes).ok()) return "<missing>";
    return bytes;
}

// The files of `folder` whose names are given, by name, as bytes.
inline std::map<std::string, std::string> snapshot(const std::string& folder,
                                                   const std::vector<std::string>& names) {
    std::map<std::string, std::string> files;
    for (const std::string& name : names)
        files[name] = bytesOf(folder + name);
    return files;
}

// The temporary files of the replace routine and the numbered ones anywhere
// below `folder`.
// Which files of two snapshots differ, in a few words ("" when none).
inline std::string differences(const std::map<std::string, std::string>& found,
                               const std::map<std::string, std::string>& expected) {
    std::string out;
    for (const auto& [name, bytes] : expected) {
        const auto it = found.find(name);
        const std::string& got = it == found.end() ? std::string("<missing>") : it->second;
        if (got == bytes) continue;
        auto size = [](const std::string& b) {
            return b == "<missing>" ? std::string("missing") : std::to_string(b.size()) + " bytes";
        };
        out += " " + name + " (" + size(got) + ", expected " + size(bytes) + ")";
    }
    return out;
}

inline std::vector<std::string> temporariesIn(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp" &&
            (name.find(".kes-") != std::string::npos || name.find(".~") != std::string::npos))
            found.push_back(entry.path().string());
    }
    return found;
}

inline bool mentionsInjectedFault(const std::string& text) {
    return text.find(Injection::kInjectedFaultMark) != std::string::npos;
}

// How the runs of one loop ended, printed at its end.
struct Figures {
    uint64_t points = 0;              // points of the run without faults
    int succeeded = 0;                // runs that went through despite their fault
    int failedClearly = 0;            // runs that stopped (and, failed once, said why)
    std::map<std::string, int> kinds; // the points by kind

    void countKinds(const std::vector<Injection::Visit>& visits) {
        for (const Injection::Visit& visit : visits)
            ++kinds[kes::os::writePointName(visit.point)];
    }
    // `wentThrough` and `stopped` name the two ends of a run in the loop's words.
    void print(const std::string& loop, const char* wentThrough = "succeeded",
               const char* stopped = "failed with a clear error") const {
        std::cout << "[ fault loop ] " << loop << ": " << points << " points visited; " << succeeded
                  << " runs " << wentThrough << ", " << failedClearly << " " << stopped
                  << "; points by kind:";
        for (const auto& [kind, count] : kinds)
            std::cout << " " << kind << " " << count;
        std::cout << std::endl;
        ::testing::Test::RecordProperty(loop + " points", static_cast<int>(points));
    }
};

// Runs `run(injection)` once with a counting injection, then once for every
// point n it visited with point n failing (or, with Mode::Crash, every point
// from n on). `run` returns after the operation ended, whatever its end;
// `check(n, struck)` then looks at what it left. The number of points may
// change from run to run (a failure takes another way); the loop goes on
// until a run no longer reaches its point.
inline Figures everyPoint(Injection::Mode mode, const std::function<void(Injection&)>& run,
                          const std::function<bool(uint64_t)>& check) {
    Figures figures;
    {
        Injection counting;
        run(counting);
        figures.points = counting.points();
        figures.countKinds(counting.visits());
    }
    for (uint64_t n = 1;; ++n) {
        bool struck = false;
        {
            Injection injection(n, mode);
            run(injection);
            struck = injection.struck();
        }
        if (!struck) break;
        if (check(n))
            ++figures.succeeded;
        else
            ++figures.failedClearly;
        if (::testing::Test::HasFatalFailure()) break;
    }
    return figures;
}

} // namespace faultloop
