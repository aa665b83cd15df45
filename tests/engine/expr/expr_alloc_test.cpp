// test() must not touch the heap: global operator new is replaced by a
// counting one, and evaluating the program's filter forms (and a few more
// that build text) must leave the count unchanged.
#include "data/expr.h"
#include "expr_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> gAllocations{0};
}

// The replacements below pair malloc with free on purpose; GCC cannot see that
// through the replaced operators in some optimised builds and warns.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace exprtest;
using xbase::Expression;
using xbase::RecordView;

namespace {

TEST(ExprAllocations, TestDoesNotAllocate) {
    Layout t;
    t.add("SSN", 'C', 11)
        .add("DATE", 'D', 8)
        .add("CODE", 'C', 6)
        .add("SCORE", 'N', 4)
        .add("RETEST", 'C', 1)
        .add("DUPLICATE", 'L', 1)
        .add("LONG", 'C', 250);
    const std::vector<std::string> records = {
        t.record({{"DATE", "20040215"},
                  {"RETEST", "Y"},
                  {"DUPLICATE", "T"},
                  {"CODE", "rd"},
                  {"SCORE", "12"}}),
        t.record({{"DATE", ""}, {"RETEST", "N"}, {"DUPLICATE", "F"}}),
        t.record({{"DATE", "20040230"}, {"RETEST", "n"}, {"DUPLICATE", "Y"}}, true),
    };
    const std::string range = "(DTOS(Date) >= \"20040101\") .and. (DTOS(Date) <= \"20040331\")";
    const std::vector<std::string> filters = {
        range,
        range + ".and. duplicate",
        "duplicate",
        range + " .and. (retest <> \"N\")",
        "(retest <> \"N\")",
        "UPPER(TRIM(CODE)) + STR(SCORE, 5) = \"RD\"",
        "DTOC(DATE + 1) = \"02/16/2004\" .or. DTOS(DATE - 1) > \"2004\"",
        "SUBSTR(SSN, 1, 3) $ CODE - SSN .and. !DELETED() .and. RECNO() > 0",
        "LONG + LONG + LONG + LONG + LONG + LONG + LONG + LONG + LONG = \"x\"", // large scratch
        "IIF(EMPTY(DATE), \"none\", DTOS(DATE)) < \"2\" .and. VAL(STR(SCORE)) >= 0",
    };
    for (const std::string& text : filters) {
        const Expression e = Expression::compile(text, t.fields);
        size_t hits = 0;
        for (const auto& r : records)
            hits += e.test(RecordView{r.data(), 1}); // warm up
        const long before = gAllocations.load();
        for (int round = 0; round < 1000; ++round)
            for (uint32_t n = 0; n < records.size(); ++n)
                hits += e.test(RecordView{records[n].data(), n + 1});
        EXPECT_EQ(gAllocations.load(), before) << text;
        (void)hits;
    }
    // The counter does see allocations: evaluate() returns a std::string.
    const Expression longText = Expression::compile("LONG", t.fields);
    const long before = gAllocations.load();
    EXPECT_EQ(longText.evaluate(RecordView{records[0].data(), 1}).str.size(), 250u);
    EXPECT_GT(gAllocations.load(), before);
}

} // namespace
