// The demo data generator: its directories are what the gathering reads, the
// same seed gives the same files, and its SSN indexes find every student.

#include "prep_support.h"

#include "common/Paths.h"
#include "support/Programs.h"

#include <set>
#include <sstream>

using namespace gathertest;

namespace {

class GeneratedDir {
  public:
    // The generator creates the folder itself, inside a temporary one.
    explicit GeneratedDir(const std::string& suffix)
        : parent_(suffix), path_(parent_.path() / "generated") {}
    // `arguments` are words separated by blanks.
    int generate(const std::string& arguments) const {
        std::vector<std::string> argv{KES_GENDATA, "--out", path_.string()};
        std::istringstream words(arguments);
        for (std::string word; words >> word;)
            argv.push_back(word);
        return testsupport::runProgram(argv);
    }
    std::string dir() const { return path_.string() + "/"; }

  private:
    testsupport::TempDir parent_;
    fs::path path_;
};

uint32_t liveRecords(const std::string& dir, const std::string& table) {
    TAdsTable t;
    t.DatabaseName = dir;
    t.TableType = ttAdsNTX;
    t.SetTableName(table);
    t.Open();
    uint32_t live = 0;
    for (t.First(); !t.Eof(); t.Next())
        if (!t.IsDeleted()) ++live;
    t.Close();
    return live;
}

TEST(Gendata, SameSeedSameFilesOtherSeedOtherContent) {
    GeneratedDir a("a"), b("b"), c("c");
    const std::string args = "--periods 2 --records 300 --students 40 --with-code-tables";
    ASSERT_EQ(a.generate(args + " --seed 7"), 0);
    ASSERT_EQ(b.generate(args + " --seed 7"), 0);
    ASSERT_EQ(c.generate(args + " --seed 8"), 0);
    int files = 0;
    for (auto& entry : fs::recursive_directory_iterator(a.dir())) {
        if (!entry.is_regular_file()) continue;
        ++files;
        const std::string relative = fs::relative(entry.path(), a.dir()).string();
        EXPECT_EQ(readFile(entry.path().string()), readFile(b.dir() + relative)) << relative;
    }
    // SETUPSCH, the code tables with their indexes, and 13 files per period.
    EXPECT_EQ(files, 1 + 4 + 2 * 13);
    EXPECT_NE(readFile(a.dir() + "VIRNTP1/Scores.DBF"), readFile(c.dir() + "VIRNTP1/Scores.DBF"));
}

TEST(Gendata, GatheringReadsEveryRecordAndFindsEveryStudent) {
    GeneratedDir data("d");
    // Rows without a student are rare (three in a thousand): enough records
    // to see some.
    ASSERT_EQ(data.generate("--periods 1 --records 2000 --temporary-records 3000 --students 150 "
                            "--seed 3 --with-code-tables"),
              0);
    const std::string period = data.dir() + "VIRNTP1/";
    GatherOptions o;
    o.DataDir = data.dir();
    o.PeriodDir = "VIRNTP1/";
    GatherOperator op;
    fs::rename(data.dir() + "KESPLACE.dbf", data.dir() + "KESPLACE.off");
    fs::rename(data.dir() + "KESTEST.dbf", data.dir() + "KESTEST.off");
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);
    const uint32_t live = liveRecords(period, "PlacTemp") + liveRecords(period, "Assetemp") +
                          liveRecords(period, "Scortemp");
    EXPECT_GT(live, 2900u);
    EXPECT_LT(live, 3000u + 1u);
    EXPECT_EQ(op.rangeMaximum, static_cast<int>(live));

    // Every student of StudTemp is found through SSNTEMP.NTX: rows with a
    // known SSN carry a name, and the SSNs made up for missing students none.
    // Those are few and never first in SSN order, where the upload file starts.
    std::set<std::string> known;
    {
        TAdsTable students;
        students.DatabaseName = period;
        students.TableType = ttAdsNTX;
        students.SetTableName("StudTemp");
        students.Open();
        for (students.First(); !students.Eof(); students.Next())
            known.insert(padded(students.FieldByName("SSN").AsString(), 11));
        students.Close();
    }
    ASSERT_EQ(known.size(), 150u);
    const auto rows = readWorkTable(data.dir()).rows;
    int withoutStudent = 0;
    for (const WorkRow& row : rows) {
        const bool isKnown = known.count(row.at("SSN")) > 0;
        EXPECT_EQ(row.at("LNAME") != padded("", 13), isKnown) << row.at("SSN");
        if (!isKnown) ++withoutStudent;
    }
    EXPECT_GT(withoutStudent, 0);
    EXPECT_LT(withoutStudent, static_cast<int>(rows.size()) / 100);
    const auto firstInSsnOrder =
        std::min_element(rows.begin(), rows.end(), [](const WorkRow& a, const WorkRow& b) {
            return a.at("SSN") < b.at("SSN");
        });
    ASSERT_NE(firstInSsnOrder, rows.end());
    EXPECT_TRUE(known.count(firstInSsnOrder->at("SSN"))) << firstInSsnOrder->at("SSN");

    // With its code tables, the excluded codes (RD03, S1, and the blank ES01
    // and ESL) are dropped.
    fs::rename(data.dir() + "KESPLACE.off", data.dir() + "KESPLACE.dbf");
    fs::rename(data.dir() + "KESTEST.off", data.dir() + "KESTEST.dbf");
    ASSERT_EQ(GatherRecords(o, op), GatherResult::Done);
    const auto translated = readWorkTable(data.dir()).rows;
    EXPECT_LT(translated.size(), rows.size());
    for (const WorkRow& row : translated)
        for (const char* dropped : {"RD03", "S1  ", "ES01", "ESL "})
            EXPECT_NE(row.at("CODE"), dropped);
}

TEST(Gendata, RejectsBadArguments) {
    GeneratedDir data("e");
    EXPECT_NE(data.generate("--records many"), 0);
    EXPECT_NE(data.generate("--periods 12"), 0);
    EXPECT_NE(data.generate("--unknown"), 0);
    EXPECT_FALSE(fs::exists(data.dir()));
}

} // namespace
