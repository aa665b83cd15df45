// The filter forms the program uses, with exactly the program's text: they
// must select exactly the right records, empty and damaged dates, lower-case
// "n" and odd logical bytes included.
#include "data/Error.h"
#include "data/expr.h"
#include "expr_support.h"

#include <gtest/gtest.h>

#include <random>

using namespace exprtest;
using xbase::Expression;
using xbase::RecordView;

namespace {

const std::string kRange = "(DTOS(Date) >= \"20040101\") .and. (DTOS(Date) <= \"20040331\")";
const std::string kRangeDuplicate = kRange + ".and. duplicate";
const std::string kRangeDuplicateSpaced = kRange + " .and. duplicate";
const std::string kDuplicate = "duplicate";
const std::string kRangeRetest = kRange + " .and. (retest <> \"N\")";
const std::string kRetest = "(retest <> \"N\")";

// Place / PlacTemp: as in the testing system's data directory.
Layout placeLayout() {
    Layout t;
    t.add("SSN", 'C', 11)
        .add("DATE", 'D', 8)
        .add("CODE", 'C', 4)
        .add("CORRECT", 'N', 3)
        .add("SCORE", 'N', 4)
        .add("ATTEMPT", 'N', 3)
        .add("GRPNUMBER", 'C', 7)
        .add("TESTTIME", 'C', 8)
        .add("DUPLICATE", 'L', 1);
    return t;
}

// Assess / Scores: RETEST instead of DUPLICATE.
Layout assessLayout() {
    Layout t;
    t.add("SSN", 'C', 11)
        .add("DATE", 'D', 8)
        .add("CODE", 'C', 6)
        .add("CORRECT", 'N', 3)
        .add("SCORE", 'N', 4)
        .add("ATTEMPT", 'N', 3)
        .add("GRPNUMBER", 'C', 7)
        .add("RETEST", 'C', 1);
    return t;
}

struct Table {
    Layout layout;
    std::vector<std::string> records; // record n is records[n - 1]

    std::vector<uint32_t> select(const std::string& filter) const {
        const Expression e = Expression::compile(filter, layout.fields);
        EXPECT_EQ(e.type(), xbase::ValueType::Logical);
        std::vector<uint32_t> chosen;
        for (uint32_t n = 1; n <= records.size(); ++n) {
            const RecordView view{records[n - 1].data(), n};
            const bool pass = e.test(view);
            EXPECT_EQ(e.evaluate(view).logical, pass) << filter << " record " << n;
            if (pass) chosen.push_back(n);
        }
        return chosen;
    }
};

Table placeTable() {
    Table t{placeLayout(), {}};
    auto add = [&](const char* date, const char* duplicate, bool deleted = false) {
        t.records.push_back(t.layout.record(
            {{"SSN", "900-11-2222"}, {"DATE", date}, {"CODE", "EN01"}, {"DUPLICATE", duplicate}},
            deleted));
    };
    add("20040101", "T");       // 1  first day of the range
    add("20040331", "T");       // 2  last day
    add("20031231", "T");       // 3  the day before
    add("20040401", "T");       // 4  the day after
    add("", "T");               // 5  empty date
    add("20040215", "F");       // 6  not a duplicate
    add("20040215", "T", true); // 7  deleted: the filter does not look at the flag
    add("20040230", "T");       // 8  not a date: empty
    add("20040229", "T");       // 9  leap day
    add("19991231", "F");       // 10
    add("20040101", "Y");       // 11 Y is true
    add("20040315", "t");       // 12 lower-case t is true
    add("20040315", " ");       // 13 blank logical is false
    add("20040315", "N");       // 14
    add("2004031 ", "T");       // 15 damaged date
    return t;
}

Table assessTable() {
    Table t{assessLayout(), {}};
    auto add = [&](const char* date, const char* retest, bool deleted = false) {
        t.records.push_back(t.layout.record(
            {{"SSN", "900-11-2222"}, {"DATE", date}, {"CODE", "RD"}, {"RETEST", retest}}, deleted));
    };
    add("20040101", "Y");       // 1
    add("20040331", " ");       // 2  blank retest
    add("20031231", "Y");       // 3
    add("20040401", " ");       // 4
    add("", " ");               // 5  empty date
    add("20040215", "N");       // 6  retest "N"
    add("20040215", "n");       // 7  lower-case "n" is not "N"
    add("20040301", "R");       // 8
    add("", "N");               // 9
    add("20040110", "N", true); // 10 deleted
    add("20040120", "Y");       // 11
    add("20040230", "Y");       // 12 not a date
    return t;
}

using Recnos = std::vector<uint32_t>;

TEST(ExprFilters, DateRange) {
    EXPECT_EQ(placeTable().select(kRange), (Recnos{1, 2, 6, 7, 9, 11, 12, 13, 14}));
    EXPECT_EQ(assessTable().select(kRange), (Recnos{1, 2, 6, 7, 8, 10, 11}));
}

TEST(ExprFilters, DateRangeAndDuplicate) {
    const Table place = placeTable();
    EXPECT_EQ(place.select(kRangeDuplicate), (Recnos{1, 2, 7, 9, 11, 12}));
    EXPECT_EQ(place.select(kRangeDuplicateSpaced), (Recnos{1, 2, 7, 9, 11, 12}));
}

TEST(ExprFilters, Duplicate) {
    EXPECT_EQ(placeTable().select(kDuplicate), (Recnos{1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 15}));
}

TEST(ExprFilters, DateRangeAndRetest) {
    EXPECT_EQ(assessTable().select(kRangeRetest), (Recnos{1, 2, 7, 8, 11}));
}

TEST(ExprFilters, Retest) {
    EXPECT_EQ(assessTable().select(kRetest), (Recnos{1, 2, 3, 4, 5, 7, 8, 11, 12}));
}

TEST(ExprFilters, FormsNeedTheirFields) {
    // A period whose Place table lacks DUPLICATE (VIRNTP4): a clear error.
    Layout noDuplicate;
    noDuplicate.add("SSN", 'C', 11).add("DATE", 'D', 8);
    try {
        Expression::compile(kRangeDuplicate, noDuplicate.fields);
        ADD_FAILURE() << "compiled without DUPLICATE";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_EXPRESSION_ERROR);
        EXPECT_EQ(std::string(e.what()), "Error in expression \"" + kRangeDuplicate +
                                             "\": unknown field \"duplicate\" at position " +
                                             std::to_string(kRange.size() + 7));
    }
    EXPECT_THROW(Expression::compile(kRetest, noDuplicate.fields), EADSDatabaseError);
}

// Many random records against a plain C++ rendering of the same filters.
TEST(ExprFilters, RandomRecordsMatchReference) {
    std::mt19937 rng(20040101);
    const Layout place = placeLayout();
    const Layout assess = assessLayout();
    const Expression range = Expression::compile(kRange, place.fields);
    const Expression rangeDup = Expression::compile(kRangeDuplicate, place.fields);
    const Expression dup = Expression::compile(kDuplicate, place.fields);
    const Expression rangeRetest = Expression::compile(kRangeRetest, assess.fields);
    const Expression retest = Expression::compile(kRetest, assess.fields);

    const auto first = *kes::Date::fromYmd(2003, 11, 1);
    auto randomDate = [&]() -> std::string {
        switch (rng() % 10) {
        case 0:
            return ""; // empty
        case 1:
            return "20040230"; // invalid
        case 2:
            return "2004 101"; // damaged
        default:
            return kes::Date(first.days() + static_cast<int32_t>(rng() % 200)).toYyyymmdd();
        }
    };
    const char* logicals[] = {"T", "F", "t", "f", "Y", "N", "y", "n", " ", "?", "1", "0"};
    const char* retests[] = {"N", "n", "Y", " ", "A", "0"};

    size_t inRange = 0;
    for (uint32_t n = 1; n <= 20000; ++n) {
        const std::string date = randomDate();
        const char* logical = logicals[rng() % 12];
        const char* re = retests[rng() % 6];
        const std::string p =
            place.record({{"DATE", date}, {"DUPLICATE", logical}}, rng() % 7 == 0);
        const std::string a = assess.record({{"DATE", date}, {"RETEST", re}}, rng() % 7 == 0);

        const bool validDate = kes::Date::fromYyyymmdd(date).has_value();
        const bool wantRange = validDate && date >= "20040101" && date <= "20040331";
        const char l = logical[0];
        const bool wantDup = l == 'T' || l == 't' || l == 'Y' || l == 'y' || l == '1';
        const bool wantRetest = re[0] != 'N';
        inRange += wantRange;

        const RecordView pv{p.data(), n}, av{a.data(), n};
        ASSERT_EQ(range.test(pv), wantRange) << date;
        ASSERT_EQ(rangeDup.test(pv), wantRange && wantDup) << date << " " << logical;
        ASSERT_EQ(dup.test(pv), wantDup) << logical;
        ASSERT_EQ(rangeRetest.test(av), wantRange && wantRetest) << date << " " << re;
        ASSERT_EQ(retest.test(av), wantRetest) << re;
    }
    EXPECT_GT(inRange, 5000u); // the random dates do hit the range
}

} // namespace
