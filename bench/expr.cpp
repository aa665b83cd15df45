// Expression benchmark (not a test): evaluations per second of the program's
// filters and a few general expressions over 1,000,000 records in memory.
#include "data/expr.h"
#include "common/Date.h"
#include "data/dbf.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

int main() {
    const std::vector<xbase::FieldDef> fields = xbase::parseFieldList(
        "SSN,C,11,0;DATE,D,8,0;CODE,C,6,0;CORRECT,N,3,0;SCORE,N,4,0;RETEST,C,1,0;DUPLICATE,L,1,0;");
    auto at = [&](const char* name) {
        return fields[static_cast<size_t>(xbase::findField(fields, name))];
    };
    size_t length = 1;
    for (const auto& f : fields)
        length += f.length;

    constexpr uint32_t kRecords = 1'000'000;
    std::string data(kRecords * length, ' ');
    std::mt19937 rng(7);
    const kes::Date first = *kes::Date::fromYmd(2003, 6, 1);
    const char* retests[] = {"N", "n", "Y", " "};
    for (uint32_t n = 0; n < kRecords; ++n) {
        char* rec = data.data() + n * length;
        auto put = [&](const char* name, const std::string& text, bool right = false) {
            const xbase::FieldDef f = at(name);
            std::string v = text.substr(0, f.length);
            if (right) v.insert(0, f.length - v.size(), ' ');
            std::memcpy(rec + f.offset, v.data(), v.size());
        };
        put("SSN", "900-11-2222");
        if (rng() % 20 != 0)
            put("DATE", kes::Date(first.days() + static_cast<int32_t>(rng() % 365)).toYyyymmdd());
        put("CODE", "RD");
        put("SCORE", std::to_string(rng() % 900), true);
        put("RETEST", retests[rng() % 4]);
        put("DUPLICATE", rng() % 2 ? "T" : "F");
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
    std::printf("Expression benchmark: %u records, best of 5 rounds\n\n", kRecords);
    for (const std::string& text : filters) {
        const xbase::Expression e = xbase::Expression::compile(text, fields);
        double best = 1e100;
        size_t hits = 0;
        for (int round = 0; round < 5; ++round) {
            hits = 0;
            const auto start = std::chrono::steady_clock::now();
            for (uint32_t n = 0; n < kRecords; ++n)
                hits += e.test(xbase::RecordView{data.data() + n * length, n + 1});
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count());
        }
        std::printf("%-80s %7.1f M evaluations/s (%zu pass)\n", text.c_str(), kRecords / best / 1e6,
                    hits);
    }
    return 0;
}
