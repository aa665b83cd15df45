// What the gathering writes into the work table: which records of the sample
// periods arrive, with which student data, ID, test code, score and site code.
// The expected rows come from the sample's CSV manifests and the rules of the
// fixture description, never from the gathering's own code.

#include "prep_support.h"

#include <optional>
#include <set>

using namespace gathertest;

namespace {

// A code table as FIXTURES.md lists it: code -> NEWCODE, or nullopt when the
// row drops the code (INCLUDE false or a blank NEWCODE).
using CodeMap = std::map<std::string, std::optional<std::string>>;

const CodeMap kSamplePlacementCodes = {{"EN01", "E090"},
                                       {"EN02", "E101"},
                                       {"EN03", "E102"},
                                       {"MA01", "MA01"},
                                       {"MA02", "M095"}, // record 5 comes first in code order;
                                                         // record 12 (F, MXXX) is never reached
                                       {"MA03", "M105"},
                                       {"MA04", "M120"},
                                       {"RD01", "R080"},
                                       {"RD02", "R090"},
                                       {"RD03", std::nullopt},
                                       {"ES01", std::nullopt}};

const CodeMap kSampleTestCodes = {{"RD", "READ"},       {"WR", "WRIT"},       {"MA", "ARIT"},
                                  {"AL", "ALGE"},       {"sp", "SPCH"},       {"SRD", "SREA"},
                                  {"SWR", "SWRI"},      {"SMA", "SMAT"},      {"SR1", "SR1"},
                                  {"S1", std::nullopt}, {"ESL", std::nullopt}};

// The dropped codes whose row is included but has a blank NEWCODE; the other
// dropped codes are not included.
const std::set<std::string> kBlankNewCodes = {"ES01", "ESL"};

struct DateRangeOfPeriod {
    const char* period;
    const char* first;
    const char* last;
};

// The ranges of FIXTURES.md: rows 7 and 8 lie on their first and last day.
const DateRangeOfPeriod kRanges[] = {{"VIRNTP1", "20050901", "20050930"},
                                     {"VIRNTP2", "20060126", "20060224"},
                                     {"VIRNTP3", "20060831", "20060929"},
                                     {"VIRNTP4", "20070125", "20070223"}};

const DateRangeOfPeriod& rangeOf(const std::string& period) {
    for (const auto& r : kRanges)
        if (period == r.period) return r;
    throw std::runtime_error("no range for " + period);
}

struct Scenario {
    const char* name;
    const char* period;
    bool temporary = true;
    bool dateRange = false;
    bool placement = true, assessment = true, scores = true;
    bool placementCodes = false, testCodes = false;
    bool siteCode = false;
};

void PrintTo(const Scenario& c, std::ostream* os) {
    *os << c.name;
}

std::string rightTrimmed(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

std::string wholeNumber(const std::string& csv) {
    return std::to_string(csv.empty() ? 0LL : std::stoll(csv));
}

std::string zeroPadded(long long value) {
    std::string text = std::to_string(value);
    while (text.size() < 4)
        text.insert(text.begin(), '0');
    return text;
}

// One record table of a kind: the temporary and master file names and the
// master set's condition.
struct RecordKind {
    const char* temporaryTable;
    const char* masterTable;
    bool (*inMasterSet)(const CsvRecord&);
    RecordTableAccount GatherAccount::*account;
    const char* temporaryName; // as the gathering names the table
    const char* masterName;
};

const RecordKind kPlacementKind{"plactemp",
                                "place",
                                [](const CsvRecord& r) { return r.at("DUPLICATE") == "T"; },
                                &GatherAccount::placement,
                                "PlacTemp",
                                "Place"};
const RecordKind kAssessmentKind{"assetemp",
                                 "assess",
                                 [](const CsvRecord& r) { return r.at("RETEST") != "N"; },
                                 &GatherAccount::assessment,
                                 "Assetemp",
                                 "Assess"};
const RecordKind kScoreKind{"scortemp",
                            "scores",
                            [](const CsvRecord& r) { return r.at("RETEST") != "N"; },
                            &GatherAccount::scores,
                            "Scortemp",
                            "Scores"};

// The rows the gathering should leave, in work-table order, built from the CSV
// manifests by the rules of the fixture description; with `account`, also
// where each record read went.
std::vector<WorkRow> expectedRows(const Scenario& s,
                                  const CodeMap& placementCodes = kSamplePlacementCodes,
                                  const CodeMap& testCodes = kSampleTestCodes,
                                  GatherAccount* account = nullptr) {
    GatherAccount unused;
    GatherAccount& counts = account ? *account : unused;
    const std::string period = s.period;
    const auto students = manifest(period, s.temporary ? "studtemp" : "student");
    std::vector<WorkRow> out;
    auto addKind = [&](const RecordKind& kind) {
        RecordTableAccount& tableCounts = counts.*kind.account;
        tableCounts.table = s.temporary ? kind.temporaryName : kind.masterName;
        for (const CsvRecord& r :
             manifest(period, s.temporary ? kind.temporaryTable : kind.masterTable)) {
            if (r.at("deleted") == "T") continue;
            ++tableCounts.read;
            const std::string& date = r.at("DATE");
            if (s.dateRange) {
                const auto& range = rangeOf(period);
                if (date.empty() || date < range.first || date > range.last) {
                    ++tableCounts.outsideDates;
                    continue;
                }
            }
            if (!s.temporary && !kind.inMasterSet(r)) {
                ++tableCounts.setAside;
                continue;
            }
            ++tableCounts.copied;

            WorkRow row;
            row["SSN"] = padded(r.at("SSN"), 11);
            row["DATE"] = date;
            row["CODE"] = padded(r.at("CODE"), 4);
            for (const char* n : {"CORRECT", "SCORE", "ATTEMPT", "SS1", "SS2", "SS3", "SS4", "SS5",
                                  "SS6", "SS7", "SS8", "SS9", "SS10"})
                row[n] = wholeNumber(r.at(n));
            row["GRPNUMBER"] = padded(r.at("GRPNUMBER"), 7);
            row["SITECODE"] = s.siteCode ? "KC" : "  ";

            // Student data of the first student row with that SSN.
            row["LNAME"] = padded("", 13);
            row["FNAME"] = padded("", 11);
            row["MNAME"] = " ";
            row["BIRTHDATE"] = "";
            bool studentFound = false;
            for (const CsvRecord& st : students)
                if (st.at("SSN") == r.at("SSN")) {
                    studentFound = true;
                    row["LNAME"] = padded(st.at("LNAME"), 13);
                    row["FNAME"] = padded(st.at("FNAME"), 11);
                    row["MNAME"] = padded(st.at("MNAME"), 1);
                    row["BIRTHDATE"] = st.at("BIRTHDATE").empty() ? "18991230" : st.at("BIRTHDATE");
                    break;
                }

            const std::string ssn = rightTrimmed(r.at("SSN"));
            std::string id;
            for (size_t i : {0, 1, 2, 4, 5, 7, 8, 9, 10})
                if (i < ssn.size()) id += ssn[i];
            row["ID"] = padded(id, 9);

            const std::string code = rightTrimmed(row["CODE"]);
            std::string testCode, testScore;
            bool translated = code.size() == 4 ? s.placementCodes : s.testCodes;
            const CodeMap& codes = code.size() == 4 ? placementCodes : testCodes;
            std::string score =
                code.size() == 4 ? code.substr(2, 2)
                                 : zeroPadded(std::stoll(code.rfind('S', 0) == 0 ? row["SCORE"]
                                                                                 : row["CORRECT"]));
            if (!translated) {
                testCode = code.size() == 4 ? code.substr(0, 2) : code;
                testScore = score;
            } else if (auto found = codes.find(code); found != codes.end()) {
                if (!found->second) { // dropped
                    ++(kBlankNewCodes.count(code) ? counts.blankNewCode : counts.notIncluded)[code];
                    continue;
                }
                testCode = *found->second;
                testScore = score;
            } else { // a code missing from its table keeps both blank
                ++counts.notInCodeTable[code];
            }
            if (!studentFound) ++counts.studentNotFound;
            row["TESTCODE"] = padded(testCode, 4);
            row["TESTSCORE"] = padded(testScore, 8);
            out.push_back(row);
        }
    };
    if (s.placement) addKind(kPlacementKind);
    if (s.assessment) addKind(kAssessmentKind);
    if (s.scores) addKind(kScoreKind);
    counts.kept = static_cast<int>(out.size());
    return out;
}

GatherOptions optionsFor(const SampleDataDir& data, const Scenario& s) {
    GatherOptions o;
    o.DataDir = data.dir();
    o.PeriodDir = std::string(s.period) + "/";
    o.SearchTemporary = s.temporary;
    o.IncludePlacement = s.placement;
    o.IncludeAssessment = s.assessment;
    o.IncludeScores = s.scores;
    o.IncludeSiteCode = s.siteCode;
    if (s.dateRange) {
        const auto& range = rangeOf(s.period);
        o.DateFilter = dateRange(range.first, range.last);
    }
    return o;
}

void expectSameRows(const std::vector<WorkRow>& expected, const WorkTableContents& actual) {
    ASSERT_EQ(actual.rows.size(), expected.size());
    EXPECT_EQ(actual.deleted, 0);
    for (size_t i = 0; i < expected.size(); ++i)
        for (const auto& [field, value] : expected[i]) {
            ASSERT_TRUE(actual.rows[i].count(field)) << field;
            EXPECT_EQ(actual.rows[i].at(field), value)
                << "row " << i + 1 << " field " << field << " (SSN " << expected[i].at("SSN")
                << ", code " << expected[i].at("CODE") << ")";
        }
}

void expectSameTable(const char* kind, const RecordTableAccount& expected,
                     const RecordTableAccount& actual) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(actual.table, expected.table);
    EXPECT_EQ(actual.read, expected.read);
    EXPECT_EQ(actual.outsideDates, expected.outsideDates);
    EXPECT_EQ(actual.setAside, expected.setAside);
    EXPECT_EQ(actual.copied, expected.copied);
}

void expectSameAccount(const GatherAccount& expected, const GatherAccount& actual) {
    expectSameTable("placement", expected.placement, actual.placement);
    expectSameTable("assessment", expected.assessment, actual.assessment);
    expectSameTable("scores", expected.scores, actual.scores);
    EXPECT_EQ(actual.notInCodeTable, expected.notInCodeTable);
    EXPECT_EQ(actual.notIncluded, expected.notIncluded);
    EXPECT_EQ(actual.blankNewCode, expected.blankNewCode);
    EXPECT_EQ(actual.studentNotFound, expected.studentNotFound);
    EXPECT_EQ(actual.kept, expected.kept);
}

class GatherScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(GatherScenario, WorkTableHoldsTheExpectedRows) {
    const Scenario& s = GetParam();
    SampleDataDir data;
    data.addCodeTables(s.placementCodes, s.testCodes);
    GatherOperator op;
    const GatherReport report = GatherRecords(optionsFor(data, s), op);
    ASSERT_EQ(report, GatherResult::Done);
    EXPECT_TRUE(op.questions.empty());

    GatherAccount account;
    const auto expected = expectedRows(s, kSamplePlacementCodes, kSampleTestCodes, &account);
    const auto actual = readWorkTable(data.dir());
    expectSameRows(expected, actual);
    expectSameAccount(account, report.account);
    EXPECT_EQ(actual.tags, (std::vector<std::string>{"SSN", "LNAME", "TESTCODE", "DATE"}));
}

// The letter case of the file names differs per period (upper, mixed, lower).
INSTANTIATE_TEST_SUITE_P(
    Sample, GatherScenario,
    ::testing::Values(
        Scenario{.name = "P1TemporaryAllDates", .period = "VIRNTP1"},
        Scenario{.name = "P1MasterAllDates", .period = "VIRNTP1", .temporary = false},
        Scenario{.name = "P1TemporaryRange", .period = "VIRNTP1", .dateRange = true},
        Scenario{
            .name = "P1MasterRange", .period = "VIRNTP1", .temporary = false, .dateRange = true},
        Scenario{.name = "P2MixedCaseTemporary", .period = "VIRNTP2"},
        Scenario{.name = "P2MixedCaseMasterRange",
                 .period = "VIRNTP2",
                 .temporary = false,
                 .dateRange = true},
        Scenario{.name = "P3LowerCaseMaster", .period = "VIRNTP3", .temporary = false},
        Scenario{.name = "P3LowerCaseTemporaryRange", .period = "VIRNTP3", .dateRange = true},
        Scenario{.name = "NoPlacement", .period = "VIRNTP1", .placement = false},
        Scenario{
            .name = "NoAssessment", .period = "VIRNTP1", .temporary = false, .assessment = false},
        Scenario{.name = "NoScores", .period = "VIRNTP2", .scores = false},
        Scenario{.name = "NothingIncluded",
                 .period = "VIRNTP1",
                 .placement = false,
                 .assessment = false,
                 .scores = false},
        Scenario{.name = "BothCodeTables",
                 .period = "VIRNTP1",
                 .placementCodes = true,
                 .testCodes = true},
        Scenario{.name = "BothCodeTablesMasterRange",
                 .period = "VIRNTP1",
                 .temporary = false,
                 .dateRange = true,
                 .placementCodes = true,
                 .testCodes = true},
        Scenario{.name = "PlacementCodeTableOnly", .period = "VIRNTP1", .placementCodes = true},
        Scenario{.name = "TestCodeTableOnly",
                 .period = "VIRNTP3",
                 .temporary = false,
                 .testCodes = true},
        Scenario{.name = "SiteCode", .period = "VIRNTP1", .siteCode = true},
        Scenario{.name = "SiteCodeWithCodeTables",
                 .period = "VIRNTP2",
                 .temporary = false,
                 .placementCodes = true,
                 .testCodes = true,
                 .siteCode = true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The date range keeps rows 7 and 8 (its first and last day) and leaves out
// rows 6 (no date), 9 and 10 (a day outside) of every record table.
TEST(GatherDateRange, KeepsBothEndsAndNothingOutside) {
    for (const auto& range : kRanges) {
        if (std::string(range.period) == "VIRNTP4") continue; // its master tables are broken
        SCOPED_TRACE(range.period);
        SampleDataDir data;
        Scenario s{.name = "", .period = range.period, .dateRange = true};
        GatherOperator op;
        ASSERT_EQ(GatherRecords(optionsFor(data, s), op), GatherResult::Done);
        const auto actual = readWorkTable(data.dir());
        for (const char* table : {"plactemp", "assetemp", "scortemp"}) {
            const auto records = manifest(range.period, table);
            auto present = [&](int recno) {
                const CsvRecord& r = records.at(static_cast<size_t>(recno - 1));
                for (const WorkRow& row : actual.rows)
                    if (row.at("SSN") == r.at("SSN") && row.at("DATE") == r.at("DATE") &&
                        row.at("CODE") == padded(r.at("CODE"), 4) &&
                        row.at("GRPNUMBER") == r.at("GRPNUMBER"))
                        return true;
                return false;
            };
            EXPECT_TRUE(present(7)) << table;
            EXPECT_TRUE(present(8)) << table;
            EXPECT_FALSE(present(6)) << table;
            EXPECT_FALSE(present(9)) << table;
            EXPECT_FALSE(present(10)) << table;
        }
        for (const WorkRow& row : actual.rows) {
            EXPECT_GE(row.at("DATE"), range.first);
            EXPECT_LE(row.at("DATE"), range.last);
        }
    }
}

// The edge-case rows of VIRNTP1's temporary set, gathered without code tables
// and with the site code: expected values written out by hand.
struct EdgeRow {
    const char* table;
    int recno;
    const char* id;
    const char* lastName;
    const char* firstName;
    const char* middleName;
    const char* birthDate;
    const char* testCode;
    const char* testScore;
};

const EdgeRow kEdgeRows[] = {
    {"plactemp", 1, "9998777", "TESTER, JR", "DANA", "C", "19820909", "RD", "03"},
    {"plactemp", 2, "971059669",
     "M\x9A"
     "LLER-PROBE",
     "REN\x82", "S", "19741007", "RD", "02"},
    {"plactemp", 3, "985181272", "FAKEFAMILYNAM", "MAXIMILIANU", "Q", "19761029", "RD", "02"},
    {"plactemp", 4, "918639982", "EXEMPLAR", "JAMIE", "", "18991230", "MA", "04"},
    {"plactemp", 5, "937540258", "DOE", "KIM", "L", "18990704", "RD", "01"},
    {"plactemp", 6, "974361302", "", "", "", "", "MA", "01"},
    {"plactemp", 14, "916367117", "EXEMPLAR", "ALEX", "E", "19770817", "XX", "99"},
    {"plactemp", 20, "924665436", "DE LA PRUEBA",
     "PE\xA4"
     "A",
     "M", "19720327", "RD", "03"},
    {"assetemp", 1, "9998777", "TESTER, JR", "DANA", "C", "19820909", "AL", "0004"},
    {"assetemp", 14, "937540258", "DOE", "KIM", "L", "18990704", "ZZ", "0035"},
    {"assetemp", 15, "940465565", "SPECIMEN", "JOSE", "T", "20040916", "RD", "0007"},
    {"assetemp", 16, "9998777", "TESTER, JR", "DANA", "C", "19820909", "sp", "0015"},
    {"scortemp", 1, "9998777", "TESTER, JR", "DANA", "C", "19820909", "S1", "0350"},
    {"scortemp", 14, "987943433", "PLACEHOLDER", "CHRIS", "L", "19780113", "SR1", "0512"},
    {"scortemp", 15, "916367117", "EXEMPLAR", "ALEX", "E", "19770817", "SRD", "00-5"},
    {"scortemp", 16, "939739126", "DEMOLA", "CASEY", "", "19831011", "SRD", "9999"},
    {"scortemp", 17, "941218284", "FIGMENT", "JOHN", "T", "19940704", "SR1", "0000"},
    // SMA-B is cut to the work table's four characters and then reads as a placement code.
    {"scortemp", 18, "987943433", "PLACEHOLDER", "CHRIS", "L", "19780113", "SM", "A-"},
};

TEST(GatherEdgeRows, TemporarySetWithoutCodeTables) {
    SampleDataDir data;
    GatherOptions o;
    o.DataDir = data.dir();
    o.PeriodDir = "VIRNTP1/";
    o.IncludeSiteCode = true;
    GatherOperator op;
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);
    const auto actual = readWorkTable(data.dir());
    // 20 + 20 + 25 records, record 19 of each deleted.
    ASSERT_EQ(actual.rows.size(), 62u);
    const std::map<std::string, int> offset = {{"plactemp", 0}, {"assetemp", 19}, {"scortemp", 38}};
    for (const EdgeRow& e : kEdgeRows) {
        SCOPED_TRACE(std::string(e.table) + " record " + std::to_string(e.recno));
        const int position = offset.at(e.table) + e.recno - 1 - (e.recno > 19 ? 1 : 0);
        const WorkRow& row = actual.rows.at(static_cast<size_t>(position));
        const auto records = manifest("VIRNTP1", e.table);
        const CsvRecord& source = records.at(static_cast<size_t>(e.recno - 1));
        EXPECT_EQ(row.at("SSN"), source.at("SSN"));
        EXPECT_EQ(row.at("DATE"), source.at("DATE"));
        EXPECT_EQ(row.at("ID"), padded(e.id, 9));
        EXPECT_EQ(row.at("LNAME"), padded(e.lastName, 13));
        EXPECT_EQ(row.at("FNAME"), padded(e.firstName, 11));
        EXPECT_EQ(row.at("MNAME"), padded(e.middleName, 1));
        EXPECT_EQ(row.at("BIRTHDATE"), e.birthDate);
        EXPECT_EQ(row.at("TESTCODE"), padded(e.testCode, 4));
        EXPECT_EQ(row.at("TESTSCORE"), padded(e.testScore, 8));
        EXPECT_EQ(row.at("SITECODE"), "KC");
    }
    // Row 13 of each table: attempt, subscores and a seven-character group number.
    const WorkRow& thirteen = actual.rows.at(12);
    EXPECT_EQ(thirteen.at("ATTEMPT"), "12");
    EXPECT_EQ(thirteen.at("SS1"), "5");
    EXPECT_EQ(thirteen.at("SS2"), "12");
    EXPECT_EQ(thirteen.at("SS10"), "0");
    EXPECT_EQ(thirteen.at("GRPNUMBER"), "A1B2C3D");
}

// With both code tables: translated codes, dropped codes and codes missing
// from their table, written out by hand for VIRNTP1's temporary set.
TEST(GatherEdgeRows, TemporarySetWithCodeTables) {
    SampleDataDir data;
    data.addCodeTables();
    GatherOptions o;
    o.DataDir = data.dir();
    o.PeriodDir = "VIRNTP1/";
    GatherOperator op;
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);
    const auto actual = readWorkTable(data.dir());
    EXPECT_EQ(actual.deleted, 0);

    struct Expectation {
        const char* table;
        int recno;
        bool kept;
        const char* testCode;
        const char* testScore;
    };
    const Expectation expectations[] = {
        {"plactemp", 1, false, "", ""},         // RD03: INCLUDE false
        {"plactemp", 2, true, "R090", "02"},    // RD02
        {"plactemp", 16, true, "M095", "02"},   // MA02: the first of its two rows
        {"plactemp", 14, true, "", ""},         // XX99 is in neither table
        {"assetemp", 16, true, "SPCH", "0015"}, // sp reports CORRECT
        {"assetemp", 14, true, "", ""},         // ZZ
        {"assetemp", 15, true, "READ", "0007"}, {"scortemp", 1, false, "", ""}, // S1: INCLUDE false
        {"scortemp", 14, true, "SR1", "0512"},  {"scortemp", 15, true, "SREA", "00-5"},
        {"scortemp", 18, true, "", ""}, // SMA- is in neither table
    };
    for (const Expectation& e : expectations) {
        SCOPED_TRACE(std::string(e.table) + " record " + std::to_string(e.recno));
        const auto records = manifest("VIRNTP1", e.table);
        const CsvRecord& source = records.at(static_cast<size_t>(e.recno - 1));
        std::vector<const WorkRow*> matches;
        for (const WorkRow& row : actual.rows)
            if (row.at("SSN") == source.at("SSN") && row.at("DATE") == source.at("DATE") &&
                row.at("CODE") == padded(source.at("CODE"), 4) &&
                row.at("ATTEMPT") == source.at("ATTEMPT") &&
                row.at("GRPNUMBER") == source.at("GRPNUMBER"))
                matches.push_back(&row);
        if (!e.kept) {
            EXPECT_TRUE(matches.empty());
            continue;
        }
        ASSERT_EQ(matches.size(), 1u);
        EXPECT_EQ(matches[0]->at("TESTCODE"), padded(e.testCode, 4));
        EXPECT_EQ(matches[0]->at("TESTSCORE"), padded(e.testScore, 8));
        // A kept row always has its ID, and its student data when the student exists.
        EXPECT_EQ(matches[0]->at("ID").substr(0, 3), source.at("SSN").substr(0, 3));
        EXPECT_NE(matches[0]->at("LNAME"), padded("", 13));
    }
    // RD03 (3 records) and S1 (7 records) dropped from 62.
    EXPECT_EQ(actual.rows.size(), 62u - 3u - 7u);
}

// Rows whose code-table row is excluded or has a NEWCODE that is blank once
// blanks and control characters are trimmed are dropped, and the table packed.
TEST(GatherCodeTables, ExcludedAndBlankNewCodesDropTheirRows) {
    SampleDataDir data;
    data.addCodeTables();
    {
        TAdsTable codes;
        codes.DatabaseName = data.dir();
        codes.TableType = ttAdsCDX;
        codes.SetTableName("KESTEST");
        codes.Open();
        codes.SetIndexName("CODE");
        ASSERT_TRUE(codes.FindKey("WR"));
        codes.Edit();
        codes.FieldByName("NEWCODE").SetAsString("\t \r");
        codes.Post();
        ASSERT_TRUE(codes.FindKey("AL"));
        codes.Edit();
        codes.FieldByName("INCLUDE").SetAsBoolean(false);
        codes.Post();
        ASSERT_TRUE(codes.FindKey("SWR"));
        codes.Edit();
        codes.FieldByName("NEWCODE").SetAsString(" W ");
        codes.Post();
        codes.SetIndexName("");
        codes.Close();
    }
    CodeMap testCodes = kSampleTestCodes;
    testCodes["WR"] = std::nullopt;
    testCodes["AL"] = std::nullopt;
    testCodes["SWR"] = " W"; // stored as read, leading blank kept

    Scenario s{.name = "",
               .period = "VIRNTP1",
               .temporary = false,
               .placementCodes = true,
               .testCodes = true};
    GatherOperator op;
    ASSERT_EQ(GatherRecords(optionsFor(data, s), op), GatherResult::Done);
    const auto expected = expectedRows(s, kSamplePlacementCodes, testCodes);
    expectSameRows(expected, readWorkTable(data.dir()));
    for (const WorkRow& row : expected) {
        EXPECT_NE(row.at("CODE"), "WR  ");
        EXPECT_NE(row.at("CODE"), "AL  ");
    }
    // The file holds no deleted records either: the pack removed them.
    TAdsTable work;
    work.DatabaseName = data.dir();
    work.SetTableName("KESTABLE");
    work.Open();
    EXPECT_EQ(work.RecordCount(), expected.size());
    work.Close();
}

TEST(GatherSiteCode, MissingSetupSchGivesBlanks) {
    SampleDataDir data;
    fs::remove(data.file("SETUPSCH.DBF"));
    GatherOptions o;
    o.DataDir = data.dir();
    o.PeriodDir = "VIRNTP2/";
    o.IncludeSiteCode = true;
    GatherOperator op;
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);
    const auto actual = readWorkTable(data.dir());
    ASSERT_FALSE(actual.rows.empty());
    for (const WorkRow& row : actual.rows)
        EXPECT_EQ(row.at("SITECODE"), "  ");
    EXPECT_TRUE(op.questions.empty());
}

// A work table left by an earlier run, with other fields, rows and tags, is
// replaced whole.
TEST(GatherWorkTable, EarlierTableAndTagsDoNotSurvive) {
    SampleDataDir data;
    TAdsTable::AdsCreateTable(data.dir() + "KESTABLE.dbf", ttAdsCDX, OEM, 0,
                              "OLD,C,5,0;SSN,C,11,0;");
    {
        TAdsTable old;
        old.DatabaseName = data.dir();
        old.SetTableName("KESTABLE");
        old.Exclusive = true;
        old.Open();
        old.AdsCreateIndex61("", "OLD", "OLD", "", "", ADS_COMPOUND);
        for (int i = 0; i < 3; ++i) {
            old.Append();
            old.FieldByName("OLD").SetAsString("stale");
            old.Post();
        }
        old.Close();
    }
    GatherOptions o;
    o.DataDir = data.dir();
    o.PeriodDir = "VIRNTP1/";
    o.IncludeAssessment = false;
    o.IncludeScores = false;
    GatherOperator op;
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);
    const auto actual = readWorkTable(data.dir());
    EXPECT_EQ(actual.tags, (std::vector<std::string>{"SSN", "LNAME", "TESTCODE", "DATE"}));
    ASSERT_EQ(actual.rows.size(), 19u);
    EXPECT_FALSE(actual.rows[0].count("OLD"));
    EXPECT_EQ(actual.rows[0].size(), 25u);

    // The tags are usable: the SSN order lists the rows by SSN.
    TAdsTable work;
    work.DatabaseName = data.dir();
    work.SetTableName("KESTABLE");
    work.Open();
    work.SetIndexName("SSN");
    std::string previous;
    int seen = 0;
    for (work.First(); !work.Eof(); work.Next(), ++seen) {
        std::string ssn = work.FieldByName("SSN").AsString();
        EXPECT_LE(previous, ssn);
        previous = ssn;
    }
    EXPECT_EQ(seen, 19);
    work.Close();
}

} // namespace

// The account as the operator reads it: every kind of line, numbers in
// words that fit them, codes in code order, the rows kept last.
TEST(GatherAccountText, NamesEveryFigure) {
    GatherAccount account;
    account.placement = {"Place", 28, 22, 1, 5};
    account.assessment = {"Assetemp", 1, 0, 0, 1};
    account.notIncluded = {{"S1", 3}, {"RD03", 2}};
    account.blankNewCode = {{"ES01", 1}};
    account.notInCodeTable = {{"ZZ", 1}, {"XX99", 2}};
    account.studentNotFound = 4;
    account.kept = 3;
    EXPECT_EQ(GatherAccountText(account),
              "Placement (Place): 28 records read, 22 outside the dates, 1 duplicate left out, "
              "5 copied\n"
              "Assessment (Assetemp): 1 record read, 1 copied\n"
              "Scores: not included\n"
              "Dropped, code not included: 5 (RD03 2, S1 3)\n"
              "Dropped, blank new code: 1 (ES01 1)\n"
              "Kept, code not in the code table (test code blank): 3 (XX99 2, ZZ 1)\n"
              "Kept, student not found (names blank): 4\n"
              "Rows kept: 3");
}
