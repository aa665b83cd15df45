// A timing check for the filter path, not a test: it is disabled and asserts
// nothing about speed. Run it by hand:
//   engine_expr_tests --gtest_also_run_disabled_tests --gtest_filter='*Timing*'
#include "data/expr.h"
#include "expr_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>

using namespace exprtest;
using xbase::Expression;
using xbase::RecordView;

namespace {

TEST(ExprTiming, DISABLED_FilterThroughput) {
    Layout t;
    t.add("SSN", 'C', 11)
        .add("DATE", 'D', 8)
        .add("CODE", 'C', 6)
        .add("CORRECT", 'N', 3)
        .add("SCORE", 'N', 4)
        .add("ATTEMPT", 'N', 3)
        .add("GRPNUMBER", 'C', 7)
        .add("RETEST", 'C', 1)
        .add("DUPLICATE", 'L', 1);
    constexpr uint32_t kRecords = 1'000'000;
    const size_t length = t.recordLength;
    std::string data;
    data.reserve(kRecords * length);
    std::mt19937 rng(7);
    const auto first = *kes::Date::fromYmd(2003, 6, 1);
    const char* retests[] = {"N", "n", "Y", " "};
    for (uint32_t n = 0; n < kRecords; ++n) {
        const std::string date =
            rng() % 20 == 0
                ? ""
                : kes::Date(first.days() + static_cast<int32_t>(rng() % 365)).toYyyymmdd();
        data += t.record({{"SSN", "900-11-2222"},
                          {"DATE", date},
                          {"CODE", "RD"},
                          {"RETEST", retests[rng() % 4]},
                          {"DUPLICATE", rng() % 2 ? "T" : "F"}});
    }

    const std::string range = "(DTOS(Date) >= \"20040101\") .and. (DTOS(Date) <= \"20040331\")";
    const std::vector<std::string> filters = {
        range + " .and. (retest <> \"N\")",
        range + ".and. duplicate",
        "(retest <> \"N\")",
        "duplicate",
        "DATE >= STOD(\"20040101\") .and. DATE <= STOD(\"20040331\")",
        "UPPER(TRIM(CODE)) + STR(SCORE, 5) = \"RD\"",
    };
    for (const std::string& text : filters) {
        const Expression e = Expression::compile(text, t.fields);
        double best = 1e100;
        size_t hits = 0;
        for (int round = 0; round < 5; ++round) {
            hits = 0;
            const auto start = std::chrono::steady_clock::now();
            for (uint32_t n = 0; n < kRecords; ++n)
                hits += e.test(RecordView{data.data() + n * length, n + 1});
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count());
        }
        std::printf("%-90s %8.1f M evaluations/s (%zu of %u pass)\n", text.c_str(),
                    kRecords / best / 1e6, hits, kRecords);
    }
}

} // namespace
