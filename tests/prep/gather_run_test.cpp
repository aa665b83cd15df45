// How a gathering runs: what it tells the operator, how it ends when a table
// is broken or an open is given up, and that it leaves no table open.

#include "gather_support.h"

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

// Installs a check into the sink that runs when the run clears its status
// text at the very end: by then every table of the run must be closed, so
// each file can be opened exclusively.
struct ClosedTablesProbe {
    bool ran = false;
    std::vector<std::string> stillOpen;

    void install(RecordingSink& sink, const SampleDataDir& data, const std::string& period) {
        sink.onFinalClear = [this, &data, period] {
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
    RecordingSink sink;
    ClosedTablesProbe probe;
    probe.install(sink, data, "VIRNTP1");
    AnsweringPrompt prompt;
    ASSERT_EQ(GatherRecords(o, sink, prompt), GatherResult::Done);

    EXPECT_EQ(sink.statuses, c.statuses);
    EXPECT_EQ(sink.hourglass, (std::vector<bool>{true, false}));
    EXPECT_EQ(sink.rangeMinimum, 0);
    EXPECT_EQ(sink.rangeMaximum, c.records);
    EXPECT_EQ(sink.highestProgress, c.records);
    EXPECT_EQ(sink.lastProgress, 0);
    // Once at the start, once per record, once at the end.
    EXPECT_EQ(sink.progressCalls, c.records + 2);
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
    [](const auto& info) { return std::string(info.param.name); });

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
    RecordingSink sink;
    ClosedTablesProbe probe;
    probe.install(sink, data, "VIRNTP4");
    AnsweringPrompt prompt;

    try {
        GatherRecords(o, sink, prompt);
        FAIL() << "the run did not fail";
    } catch (const EADSDatabaseError& e) {
        std::string text = kes::toLowerAscii(e.what());
        EXPECT_NE(text.find(kes::toLowerAscii(c.named)), std::string::npos) << e.what();
    }
    EXPECT_TRUE(prompt.questions.empty());
    ASSERT_FALSE(sink.hourglass.empty());
    EXPECT_FALSE(sink.hourglass.back());
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.stillOpen.empty()) << probe.stillOpen.front();
    EXPECT_EQ(std::count(sink.statuses.begin(), sink.statuses.end(), "Processing..."),
              c.temporary ? 1 : 0);

    // A later run on the same data directory starts from closed tables.
    RecordingSink again;
    ASSERT_EQ(GatherRecords(periodOptions(data, "VIRNTP1"), again, prompt), GatherResult::Done);
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
    [](const auto& info) { return std::string(info.param.name); });

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

TEST(GatherCancelled, MissingPeriodFolderEndsTheRunAtOnce) {
    SampleDataDir data;
    data.addCodeTables();
    RecordingSink sink;
    ClosedTablesProbe probe;
    probe.install(sink, data, "VIRNTP9");
    AnsweringPrompt prompt(false);
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP9"), sink, prompt), GatherResult::Cancelled);

    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_NE(prompt.questions[0].find("PlacTemp"), std::string::npos) << prompt.questions[0];
    EXPECT_EQ(prompt.cancelNotes.size(), 1u);
    // Nothing after the cancelled open: no further copy, no student pass.
    EXPECT_EQ(sink.statuses, (std::vector<std::string>{"Adding Placement Records", ""}));
    EXPECT_EQ(sink.rangeMaximum, -1);
    EXPECT_EQ(sink.hourglass, (std::vector<bool>{true, false}));
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.stillOpen.empty()) << probe.stillOpen.front();
}

TEST(GatherCancelled, MissingStudentTable) {
    SampleDataDir data;
    fs::remove(data.file("VIRNTP2/StudTemp.dbf"));
    RecordingSink sink;
    ClosedTablesProbe probe;
    probe.install(sink, data, "VIRNTP2");
    AnsweringPrompt prompt(false);
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP2"), sink, prompt), GatherResult::Cancelled);
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_NE(prompt.questions[0].find("StudTemp"), std::string::npos);
    // "Processing..." and the progress range come before the student table.
    EXPECT_EQ(sink.statuses,
              (std::vector<std::string>{"Adding Placement Records", "Adding Assessment Records",
                                        "Adding Score Records", "Processing...", ""}));
    EXPECT_EQ(sink.rangeMinimum, 0);
    EXPECT_GT(sink.rangeMaximum, 0);
    EXPECT_EQ(sink.hourglass, (std::vector<bool>{true, false}));
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.stillOpen.empty()) << probe.stillOpen.front();
    // The copied records are all there, none of them completed.
    const auto copied = readWorkTable(data.dir());
    EXPECT_EQ(static_cast<int>(copied.rows.size()), sink.rangeMaximum);
    for (const WorkRow& row : copied.rows)
        EXPECT_EQ(row.at("ID"), padded("", 9));
}

TEST(GatherCancelled, CodeTableHeldElsewhereStopsBeforeTheWorkTable) {
    SampleDataDir data;
    data.addCodeTables();
    TableHolder other(data.dir(), "KESPLACE");
    RecordingSink sink;
    AnsweringPrompt prompt(false);
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP1"), sink, prompt), GatherResult::Cancelled);
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_NE(prompt.questions[0].find("KESPLACE"), std::string::npos);
    EXPECT_FALSE(kes::fileExists(data.dir() + "KESTABLE.dbf"));
    EXPECT_TRUE(sink.hourglass.empty());
    EXPECT_TRUE(openableExclusively(data.dir(), "KESTEST", ttAdsCDX));
}

TEST(GatherCancelled, RetryAfterTheOtherHolderLetsGoCompletesTheRun) {
    SampleDataDir data;
    data.addCodeTables();
    TableHolder other(data.dir(), "KESTEST");
    RecordingSink sink;
    AnsweringPrompt prompt(true);
    prompt.onAsk = [&] { other.release(); };
    EXPECT_EQ(GatherRecords(periodOptions(data, "VIRNTP1"), sink, prompt), GatherResult::Done);
    EXPECT_EQ(prompt.questions.size(), 1u);
    EXPECT_TRUE(prompt.cancelNotes.empty());
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
    NullStatusSink sink;
    AnsweringPrompt prompt;
    ASSERT_EQ(GatherRecords(o, sink, prompt), GatherResult::Done);
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
