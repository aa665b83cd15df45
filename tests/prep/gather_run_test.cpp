// How a gathering runs: what it tells the operator, how it ends when a table
// is broken or an open is given up, and that it leaves no table open.

#include "prep_support.h"

#include "common/Paths.h"
#include "common/Text.h"

#include <algorithm>

using namespace gathertest;

namespace {

GatherOptions periodOptions(const SampleDataDir& data, const std::string& period) {
    GatherOptions o;
    o.DataDir = data.dir();
    o.PeriodDir = period + "/";
    return o;
}

const std::vector<std::string> kPeriodTables = {"Place",  "PlacTemp", "Assess",  "Assetemp",
                                                "Scores", "Scortemp", "Student", "StudTemp"};

// Installs a check into the operator that runs when the run clears its status
// text at the very end: by then every table of the run must be closed, so
// each file can be opened exclusively.
struct ClosedTablesProbe {
    bool ran = false;
    std::vector<std::string> stillOpen;

    void install(GatherOperator& op, const SampleDataDir& data, const std::string& period) {
        op.onFinalClear = [this, &data, period] {
            ran = true;
            auto check = [&](const std::string& dir, const std::string& name, TAdsTableType type) {
                if (kes::fileExists(dir + name + ".dbf") && !openableExclusively(dir, name, type))
                    stillOpen.push_back(name);
            };
            check(data.dir(), "KESTABLE", ttAdsCDX);
            check(data.dir(), "KESPLACE", ttAdsCDX);
            check(data.dir(), "KESTEST", ttAdsCDX);
            check(data.dir(), "SETUPSCH", ttAdsNTX);
            for (const std::string& table : kPeriodTables)
                check(data.dir() + period + "/", table, ttAdsNTX);
        };
    }
};

struct StatusCase {
    const char* name;
    bool placement, assessment, scores;
    std::vector<std::string> statuses;
    int records;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class GatherStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(GatherStatus, ShowsEachStepAndTheProgress) {
    const StatusCase& c = GetParam();
    SampleDataDir data;
    GatherOptions o = periodOptions(data, "VIRNTP1");
    o.IncludePlacement = c.placement;
    o.IncludeAssessment = c.assessment;
    o.IncludeScores = c.scores;
    GatherOperator op;
    ClosedTablesProbe probe;
    probe.install(op, data, "VIRNTP1");
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);

    EXPECT_EQ(op.statuses, c.statuses);
    EXPECT_EQ(op.hourglass, (std::vector<bool>{true, false}));
    EXPECT_EQ(op.rangeMinimum, 0);
    EXPECT_EQ(op.rangeMaximum, c.records);
    EXPECT_EQ(op.highestProgress(), c.records);
    EXPECT_EQ(op.lastProgress(), 0);
    // Once at the start, once per record, once at the end.
    EXPECT_EQ(static_cast<int>(op.positions.size()), c.records + 2);
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.stillOpen.empty()) << probe.stillOpen.front();
    EXPECT_EQ(readWorkTable(data.dir()).rows.size(), static_cast<size_t>(c.records));
}

INSTANTIATE_TEST_SUITE_P(
    RecordKinds, GatherStatus,
    ::testing::Values(StatusCase{"AllKinds",
                                 true,
                                 true,
                                 true,
                                 {"Adding Placement Records", "Adding Assessment Records",
                                  "Adding Score Records", "Processing...", ""},
                                 62},
                      StatusCase{"AssessmentOnly",
                                 false,
                                 true,
                                 false,
                                 {"Adding Assessment Records", "Processing...", ""},
                                 19},
                      StatusCase{
                          "PlacementAndScores",
                          true,
                          false,
                          true,
                          {"Adding Placement Records", "Adding Score Records", "Processing...", ""},
                          43},
                      StatusCase{"Nothing", false, false, false, {"Processing...", ""}, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// VIRNTP4 is broken on purpose: no SSNTEMP.NTX, a master Place without
// DUPLICATE and a master Assess without RETEST.
struct FailureCase {
    const char* name;
    bool temporary;
    bool placement, assessment, scores;
    bool dateRange;
    const char* named; // what the error text names
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class GatherFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(GatherFailure, EndsWithTheErrorAndEveryTableClosed) {
    const FailureCase& c = GetParam();
    SampleDataDir data;
    data.addCodeTables();
    GatherOptions o = periodOptions(data, "VIRNTP4");
    o.SearchTemporary = c.temporary;
    o.IncludePlacement = c.placement;
    o.IncludeAssessment = c.assessment;
    o.IncludeScores = c.scores;
    o.IncludeSiteCode = true;
    if (c.dateRange) o.DateFilter = dateRange("20070125", "20070223");
    GatherOperator op;
    ClosedTablesProbe probe;
    probe.install(op, data, "VIRNTP4");

    try {
        GatherRecords(o, op);
        FAIL() << "the run did not fail";
    } catch (const EADSDatabaseError& e) {
        std::string text = kes::toLowerAscii(e.what());
        EXPECT_NE(text.find(kes::toLowerAscii(c.named)), std::string::npos) << e.what();
    }
    EXPECT_TRUE(op.questions.empty());
    ASSERT_FALSE(op.hourglass.empty());
    EXPECT_FALSE(op.hourglass.back());
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.stillOpen.empty()) << probe.stillOpen.front();
    EXPECT_EQ(std::count(op.statuses.begin(), op.statuses.end(), "Processing..."),
              c.temporary ? 1 : 0);

    // A later run on the same data directory starts from closed tables.
    GatherOperator again;
    ASSERT_EQ(GatherRecords(periodOptions(data, "VIRNTP1"), again), GatherResult::Done);
    EXPECT_EQ(readWorkTable(data.dir()).rows.size(), 52u);
}

INSTANTIATE_TEST_SUITE_P(
    BrokenPeriod, GatherFailure,
    ::testing::Values(
        FailureCase{"MissingStudentIndex", true, true, true, true, false, "SSNTEMP.NTX"},
        FailureCase{"NothingIncludedStillOpensStudentIndex", true, false, false, false, false,
                    "SSNTEMP.NTX"},
        FailureCase{"PlaceWithoutDuplicate", false, true, true, true, false, "duplicate"},
        FailureCase{"PlaceWithoutDuplicateInRange", false, true, false, false, true, "duplicate"},
        FailureCase{"AssessWithoutRetest", false, false, true, true, false, "retest"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Holds a table open exclusively, as another copy of the program would.
class TableHolder {
  public:
    TableHolder(const std::string& dir, const std::string& name) {
        table_.DatabaseName = dir;
        table_.TableType = ttAdsCDX;
        table_.SetTableName(name);
        table_.Exclusive = true;
        table_.Open();
    }
    void release() { table_.Close(); }

  private:
    TAdsTable table_;
};

TEST(GatherCancelled, MissingRecordTableEndsTheRunAtOnce) {
    SampleDataDir data;
    data.addCodeTables();
    fs::remove(data.file("VIRNTP2/PlacTemp.dbf"));
    GatherOperator op(false);
    ClosedTablesProbe probe;
    probe.install(op, data, "VIRNTP2");
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP2"), op), GatherResult::Cancelled);

    ASSERT_EQ(op.questions.size(), 1u);
    EXPECT_NE(op.questions[0].find("PlacTemp"), std::string::npos) << op.questions[0];
    EXPECT_EQ(op.cancelNotes.size(), 1u);
    // Nothing after the cancelled open: no further copy, no student pass.
    EXPECT_EQ(op.statuses, (std::vector<std::string>{"Adding Placement Records", ""}));
    EXPECT_EQ(op.rangeMaximum, -1);
    // The run's hourglass, the open's own (gone before the question), and the
    // run's put back at the end.
    EXPECT_EQ(op.hourglass, (std::vector<bool>{true, true, false, false}));
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.stillOpen.empty()) << probe.stillOpen.front();
}

TEST(GatherCancelled, MissingStudentTable) {
    SampleDataDir data;
    fs::remove(data.file("VIRNTP2/StudTemp.dbf"));
    GatherOperator op(false);
    ClosedTablesProbe probe;
    probe.install(op, data, "VIRNTP2");
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP2"), op), GatherResult::Cancelled);
    ASSERT_EQ(op.questions.size(), 1u);
    EXPECT_NE(op.questions[0].find("StudTemp"), std::string::npos);
    // "Processing..." and the progress range come before the student table.
    EXPECT_EQ(op.statuses,
              (std::vector<std::string>{"Adding Placement Records", "Adding Assessment Records",
                                        "Adding Score Records", "Processing...", ""}));
    EXPECT_EQ(op.rangeMinimum, 0);
    EXPECT_GT(op.rangeMaximum, 0);
    EXPECT_EQ(op.hourglass, (std::vector<bool>{true, true, false, false}));
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.stillOpen.empty()) << probe.stillOpen.front();
    // The copied records are all there, none of them completed.
    const auto copied = readWorkTable(data.dir());
    EXPECT_EQ(static_cast<int>(copied.rows.size()), op.rangeMaximum);
    for (const WorkRow& row : copied.rows)
        EXPECT_EQ(row.at("ID"), padded("", 9));
}

TEST(GatherCancelled, CodeTableHeldElsewhereStopsBeforeTheWorkTable) {
    SampleDataDir data;
    data.addCodeTables();
    TableHolder other(data.dir(), "KESPLACE");
    GatherOperator op(false);
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP1"), op), GatherResult::Cancelled);
    ASSERT_EQ(op.questions.size(), 1u);
    EXPECT_NE(op.questions[0].find("KESPLACE"), std::string::npos);
    EXPECT_FALSE(kes::fileExists(data.dir() + "KESTABLE.dbf"));
    // Only the open's own hourglass, gone again before the question.
    EXPECT_EQ(op.hourglass, (std::vector<bool>{true, false}));
    EXPECT_TRUE(openableExclusively(data.dir(), "KESTEST", ttAdsCDX));
}

TEST(GatherCancelled, RetryAfterTheOtherHolderLetsGoCompletesTheRun) {
    SampleDataDir data;
    data.addCodeTables();
    TableHolder other(data.dir(), "KESTEST");
    GatherOperator op(true);
    op.onAsk = [&] { other.release(); };
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP1"), op), GatherResult::Done);
    EXPECT_EQ(op.questions.size(), 1u);
    EXPECT_TRUE(op.cancelNotes.empty());
    EXPECT_EQ(readWorkTable(data.dir()).rows.size(), 52u);
}

// Records the testing system marked deleted are not gathered: VIRNTP1's
// PLACE.DBF has records 19 and 25 deleted, both with DUPLICATE true.
TEST(GatherDeletedSourceRecords, AreNotCopied) {
    SampleDataDir data;
    GatherOptions o = periodOptions(data, "VIRNTP1");
    o.SearchTemporary = false;
    o.IncludeAssessment = false;
    o.IncludeScores = false;
    GatherOperator op;
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);
    const auto place = manifest("VIRNTP1", "place");
    const auto rows = readWorkTable(data.dir()).rows;
    for (int recno : {19, 25}) {
        const CsvRecord& r = place.at(static_cast<size_t>(recno - 1));
        ASSERT_EQ(r.at("deleted"), "T");
        ASSERT_EQ(r.at("DUPLICATE"), "T");
        for (const WorkRow& row : rows)
            EXPECT_FALSE(row.at("SSN") == r.at("SSN") && row.at("DATE") == r.at("DATE") &&
                         row.at("CODE") == padded(r.at("CODE"), 4))
                << "record " << recno;
    }
    size_t live = 0;
    for (const CsvRecord& r : place)
        if (r.at("deleted") == "F" && r.at("DUPLICATE") == "T") ++live;
    EXPECT_EQ(rows.size(), live);
}

} // namespace
