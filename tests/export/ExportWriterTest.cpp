// BuildExportFile over a small work table: the upload file in every layout and
// with each optional field (compared with golden files written by hand from the
// record layout), the order of the lines, the three outcome messages, and
// failures that must leave the previous upload file as it was.
#include "TestSupport.h"

#include "app/core/PreparationPlan.h"
#include "common/Date.h"
#include "common/Text.h"
#include "export/core/ExportWriter.h"
#include "prep/core/Gather.h"
#include "prep/core/WorkTable.h"
#include "support/RecordingOperator.h"

#include <gtest/gtest.h>

#include "os/Os.h"
#include <filesystem>

namespace fs = std::filesystem;
using exporttest::golden;
using exporttest::readFile;
using exporttest::ScratchDir;
using exporttest::writeFile;

namespace {

struct Row {
    const char* id;
    const char* lname;
    const char* fname;
    const char* mname;
    int birth[3]; // {0,0,0}: left empty
    const char* testCode;
    const char* testScore;
    int date[3];
    const char* ssn;
    int attempt; // -1: left blank
    int ss[10];  // -1 in ss[0]: all left blank
    const char* group;
    const char* site;
};

// Natural order C, A, D, B; SSN order A, B, C, D.
const Row kRows[] = {
    {"971059669",
     "MÜLLER-PROBE",
     "RENé",
     "S",
     {1899, 7, 4},
     "SMA",
     "0315",
     {2005, 9, 7},
     "971-05-9669",
     1,
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 7},
     "X",
     "K"},
    {"123456789",
     "SMITH",
     "JOHN",
     "Q",
     {1985, 3, 2},
     "ENGL",
     "45",
     {2006, 9, 15},
     "123-45-6789",
     12,
     {5, 12, 0, 0, 0, 0, 0, 0, 0, 0},
     "A1B2C3D",
     "KC"},
    {"9998777",
     "FAKEFAMILYNAMESON",
     "DANA, JR",
     "C",
     {1982, 9, 9},
     "READ",
     "0009",
     {2005, 9, 30},
     "999887777",
     123,
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
     "G12",
     "01"},
    {"918639982",
     "EXEMPLAR",
     "JAMIE",
     "",
     {0, 0, 0},
     "EN01",
     "12345678",
     {0, 0, 0},
     "918-63-9982",
     -1,
     {-1},
     "",
     ""},
};

class ExportWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TAdsTable::AdsCreateTable(scratch_.dir() + "KESTABLE.dbf", ttAdsCDX, OEM, 0,
                                  WorkTableFieldList);
        work_.DatabaseName = scratch_.dir();
        work_.SetTableName("KESTABLE");
        work_.TableType = ttAdsCDX;
        work_.Open();
        work_.AdsCreateIndex61("", "SSN", "SSN", "", "", ADS_COMPOUND);
        for (const Row& r : kRows) {
            work_.Append();
            work_.FieldByName("ID").SetAsString(r.id);
            work_.FieldByName("LNAME").SetAsString(r.lname);
            work_.FieldByName("FNAME").SetAsString(r.fname);
            work_.FieldByName("MNAME").SetAsString(r.mname);
            if (r.birth[0])
                work_.FieldByName("BIRTHDATE")
                    .SetAsDateTime(*kes::Date::fromYmd(r.birth[0], r.birth[1], r.birth[2]));
            work_.FieldByName("TESTCODE").SetAsString(r.testCode);
            work_.FieldByName("TESTSCORE").SetAsString(r.testScore);
            if (r.date[0])
                work_.FieldByName("DATE").SetAsDateTime(
                    *kes::Date::fromYmd(r.date[0], r.date[1], r.date[2]));
            work_.FieldByName("SSN").SetAsString(r.ssn);
            if (r.attempt >= 0) work_.FieldByName("ATTEMPT").SetAsInteger(r.attempt);
            if (r.ss[0] >= 0)
                for (int i = 0; i < 10; ++i)
                    work_.FieldByName("SS" + std::to_string(i + 1)).SetAsInteger(r.ss[i]);
            work_.FieldByName("GRPNUMBER").SetAsString(r.group);
            work_.FieldByName("SITECODE").SetAsString(r.site);
            work_.Post();
        }
        work_.FlushRecord();
        options_.DataDir = scratch_.dir();
        options_.UploadFile = upload();
    }

    std::string upload() const { return scratch_.dir() + "upload.asc"; }

    // Opens the staging table the last run left on disk.
    void openStaging(TAdsTable& staging) const {
        staging.DatabaseName = scratch_.dir();
        staging.SetTableName("KESTALEX");
        staging.TableType = ttAdsCDX;
        staging.Open();
    }

    // Record numbers by natural position (1 = C, 2 = A, 3 = D, 4 = B).
    static TBookmark rec(uint32_t n) { return TBookmark{n}; }

    ExportOutcome run(const std::vector<TBookmark>& rows) {
        op_.messages.clear();
        return writer_.BuildExportFile(work_, rows, options_, op_);
    }

    ScratchDir scratch_;
    TAdsTable work_;
    TExportWriter writer_;
    ExportOptions options_;
    testsupport::RecordingOperator op_;

    // The one message of a run that was not prepared: the fixed text and the
    // writer's reason on a line of its own.
    std::vector<std::string> notPrepared() const {
        EXPECT_FALSE(writer_.LastFailure().empty()) << "no reason for the failure";
        return {std::string("error: ") + kExportNotPreparedText + "\r\n" + writer_.LastFailure()};
    }
};

const std::string kPrepared = std::string("info: ") + kExportPreparedText;
const std::string kNoData = std::string("error: ") + kExportNoDataText;

TEST_F(ExportWriterTest, SelectAllFollowsSsnOrder) {
    std::vector<TBookmark> all = SelectAllInOrder(work_);
    std::vector<uint32_t> recnos;
    for (const TBookmark& b : all)
        recnos.push_back(b.recno);
    EXPECT_EQ(recnos, (std::vector<uint32_t>{2, 4, 1, 3}));
}

TEST_F(ExportWriterTest, UploadFileInEveryLayoutAndWithEachOptionalField) {
    struct Case {
        int format;
        bool attempted, subscores, panda, site;
        const char* goldenFile;
        int stagingFields;
    } cases[] = {
        {0, true, true, true, true, "fixed_all.txt", 12}, // first, so that its CDX is stale below
        {0, false, false, false, false, "fixed.txt", 8},
        {1, false, false, false, false, "pipe.txt", 8},
        {2, false, false, false, false, "comma.txt", 8},
        {3, false, false, false, false, "tab.txt", 8},
        {0, true, false, false, false, "fixed_attempt.txt", 9},
        {0, false, true, false, false, "fixed_subscores.txt", 9},
        {0, false, false, true, false, "fixed_panda.txt", 9},
        {0, false, false, false, true, "fixed_sitecode.txt", 9},
        {1, true, true, true, true, "pipe_all.txt", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.goldenFile);
        options_.FileFormat = c.format;
        options_.IncludeAttempted = c.attempted;
        options_.IncludeSubscores = c.subscores;
        options_.IncludePandA = c.panda;
        options_.IncludeSiteCode = c.site;
        EXPECT_EQ(run(SelectAllInOrder(work_)), ExportOutcome::Prepared);
        EXPECT_EQ(op_.messages, std::vector<std::string>{kPrepared});
        EXPECT_EQ(readFile(upload()), golden(c.goldenFile));

        // The staging table is left on disk with the fields of this run, in order.
        TAdsTable staging;
        openStaging(staging);
        ASSERT_EQ(staging.FieldCount(), c.stagingFields);
        EXPECT_EQ(staging.RecordCount(), 4u);
        EXPECT_EQ(staging.IndexNames(), std::vector<std::string>{"ID"});
        if (c.stagingFields == 12) {
            EXPECT_EQ(staging.Fields(8).Size(), 3);
            EXPECT_EQ(staging.Fields(9).Size(), 20);
            EXPECT_EQ(staging.Fields(10).Size(), 6);
            EXPECT_EQ(staging.Fields(11).Size(), 2);
        }
    }
}

// A long selection is staged in pieces, some of them in two halves at once:
// every row still lands in its place, in the order of the selection.
TEST_F(ExportWriterTest, ALongSelectionKeepsEveryRowInItsPlace) {
    options_.IncludeAttempted = options_.IncludeSubscores = true;
    options_.IncludePandA = options_.IncludeSiteCode = true;
    const std::vector<TBookmark> inOrder = SelectAllInOrder(work_);
    std::vector<TBookmark> rows;
    std::string expected;
    const std::string lines = golden("fixed_all.txt");
    for (int i = 0; i < 5000; ++i) {
        rows.insert(rows.end(), inOrder.begin(), inOrder.end());
        expected += lines;
    }
    // A row out of its selection order: the one record read last of all.
    std::swap(rows.front(), rows.back());
    const std::string firstLine = lines.substr(0, lines.find("\r\n") + 2);
    const std::string lastLine = lines.substr(lines.rfind("\r\n", lines.size() - 3) + 2);
    expected.replace(expected.size() - lastLine.size(), lastLine.size(), firstLine);
    expected.replace(0, firstLine.size(), lastLine);

    EXPECT_EQ(run(rows), ExportOutcome::Prepared);
    const std::string written = readFile(upload());
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected) << "a row is out of its place";
}

TEST_F(ExportWriterTest, StagingFieldsKeepTheirNamesAndOrder) {
    ExportOptions all;
    all.IncludeAttempted = all.IncludeSubscores = all.IncludePandA = all.IncludeSiteCode = true;
    EXPECT_EQ(StagingFieldList(all),
              "ID,C,9,0;LNAME,C,13,0;FNAME,C,11,0;MNAME,C,1,0;BIRTHDATE,C,8,0;"
              "TESTCODE,C,4,0;TESTSCORE,C,4,0;DATE,C,8,0;"
              "Attempt,C,3,0;Subscores,C,20,0;PANDA,C,6,0;SITECODE,C,2,0;");
    ExportOptions two;
    two.IncludeSubscores = two.IncludeSiteCode = true;
    EXPECT_EQ(StagingFieldList(two).substr(StagingFieldList(ExportOptions{}).size()),
              "Subscores,C,20,0;SITECODE,C,2,0;");

    options_.IncludeAttempted = options_.IncludeSubscores = true;
    options_.IncludePandA = options_.IncludeSiteCode = true;
    EXPECT_EQ(run({rec(2)}), ExportOutcome::Prepared);
    TAdsTable staging;
    openStaging(staging);
    // The DBF file holds names in capitals; the table layer matches them without
    // regard to case.
    const std::vector<std::string> expected{"ID",        "LNAME",     "FNAME",     "MNAME",
                                            "BIRTHDATE", "TESTCODE",  "TESTSCORE", "DATE",
                                            "Attempt",   "Subscores", "PANDA",     "SITECODE"};
    ASSERT_EQ(staging.FieldCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < staging.FieldCount(); ++i) {
        const std::string& name = expected[static_cast<size_t>(i)];
        EXPECT_TRUE(kes::equalsIgnoreCase(staging.Fields(i).FieldName(), name))
            << staging.Fields(i).FieldName() << " in place of " << name;
        EXPECT_EQ(staging.Fields(i).TypeLetter(), 'C') << name;
        EXPECT_EQ(&staging.FieldByName(name), &staging.Fields(i)) << name;
    }
}

// Numbers and dates are staged from the stored bytes; odd ones (written by
// another program, or damaged) stage as the fields read them.
TEST_F(ExportWriterTest, OddStoredNumbersAndDatesStageAsTheFieldsReadThem) {
    struct Case {
        const char* attempt; // N 3
        const char* ss1;     // N 2
        const char* birth;   // D 8
        const char* stagedAttempt;
        const char* stagedSubscores;
        const char* stagedBirth;
    } cases[] = {
        {" 12", " 5", "19850302", "012", "05120000000000000000", "19850302"},
        {"  7", "  ", "        ", "007", "00120000000000000000", ""},
        {"   ", "-1", "18991230", "000", "-1120000000000000000", ""},
        {" -3", "-9", "19851302", "0-3", "-9120000000000000000", ""},
        {"2.6", "1.", "1985030X", "003", "01120000000000000000", ""},
        {"***", "**", "20050230", "000", "00120000000000000000", ""},
        {"1 2", " 0", "00000000", "000", "00120000000000000000", ""},
    };
    options_.IncludeAttempted = options_.IncludeSubscores = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.attempt) + "|" + c.ss1 + "|" + c.birth);
        std::string bytes(work_.File().record(2), work_.File().recordLength());
        auto put = [&](const char* field, std::string_view text) {
            const xbase::FieldDef& f =
                work_.FieldDefs()[static_cast<size_t>(work_.FieldByName(field).Index())];
            ASSERT_EQ(text.size(), f.length) << field;
            bytes.replace(f.offset, f.length, text);
        };
        put("ATTEMPT", c.attempt);
        put("SS1", c.ss1);
        put("BIRTHDATE", c.birth);
        work_.File().writeRecord(2, bytes.data());

        ASSERT_EQ(run({rec(2)}), ExportOutcome::Prepared);
        TAdsTable staging;
        openStaging(staging);
        staging.First();
        EXPECT_EQ(staging.FieldByName("Attempt").AsString(), c.stagedAttempt);
        EXPECT_EQ(staging.FieldByName("Subscores").AsString(), c.stagedSubscores);
        EXPECT_EQ(staging.FieldByName("BIRTHDATE").AsString(), c.stagedBirth);
        // The names move across as stored, in the staging table's code page.
        EXPECT_EQ(staging.FieldByName("LNAME").AsString(), "SMITH");
    }
}

TEST_F(ExportWriterTest, ExportComponentHasTheWindowDesignValues) {
    TExportWriter fresh;
    const TCSVExport& e = fresh.CSVExport1;
    EXPECT_EQ(e.DelimitedFields, dfAll);
    EXPECT_EQ(e.FieldListAction, flaNone);
    EXPECT_FALSE(e.HeaderRecord);
    EXPECT_FALSE(e.TrailerRecord);
    EXPECT_EQ(e.MaxRecords(), 0);
    EXPECT_EQ(e.NumericAlign, naLeft);
    EXPECT_TRUE(e.ShowProgress);
    EXPECT_FALSE(e.DBaseFormat);
    EXPECT_EQ(e.CustomSeparator(), "");
    EXPECT_EQ(e.ExportType, expDelimited);
    EXPECT_EQ(e.FieldSeparator, fspNone);
    EXPECT_EQ(e.FieldDelimiter, fdlNone);
}

TEST_F(ExportWriterTest, PickedRowsKeepTheOrderOfPicking) {
    EXPECT_EQ(run({rec(3), rec(2), rec(1)}), ExportOutcome::Prepared);
    EXPECT_EQ(readFile(upload()), golden("fixed_picked.txt"));
    // The work table stays on the last selected row.
    EXPECT_EQ(work_.RecNo(), 1u);
}

// A layout number outside 0 to 3 would run the values together: the file is
// not written, the previous one stays, and the operator hears it failed.
TEST_F(ExportWriterTest, UnknownFileFormatIsNotPrepared) {
    for (int format : {7, -1, 4}) {
        writeFile(upload(), "previous upload\r\n");
        options_.FileFormat = format;
        EXPECT_EQ(run({rec(2)}), ExportOutcome::NotPrepared) << format;
        EXPECT_EQ(op_.messages, notPrepared()) << format;
        EXPECT_NE(writer_.LastFailure().find("layout"), std::string::npos) << format;
        EXPECT_EQ(readFile(upload()), "previous upload\r\n") << format;
    }
}

// The selection window exports with the options of its plan, which name the
// settings file beside the program: a file name box that names it, under any
// spelling, writes nothing and the settings stay.
TEST_F(ExportWriterTest, TheWindowsOptionsNeverReplaceTheSettingsFile) {
    ProgramState state;
    state.ExeDir = scratch_.dir() + "program/";
    state.DataDir = scratch_.dir();
    fs::create_directories(state.ExeDir);
    const std::string settings = state.ExeDir + "KesPrep.ini";
    const std::string original = "[Directories]\r\nORVA Path=" + state.DataDir + "\r\n";
    writeFile(settings, original);
    PlanChoices choices = ChoicesOf(state);
    choices.Period = "1";
    choices.Dates = DateSelection::All();
    const PreparationPlan plan = MakePreparationPlan(settings, choices, PlanUse::Windows);
    for (const std::string& name :
         {settings, state.ExeDir + "KESPREP.INI", state.ExeDir + "none/../kesprep.ini"}) {
        options_ = plan.Exporting(name);
        EXPECT_EQ(run(SelectAllInOrder(work_)), ExportOutcome::NotPrepared) << name;
        EXPECT_EQ(op_.messages, notPrepared()) << name;
        EXPECT_NE(writer_.LastFailure().find("settings file"), std::string::npos)
            << name << ": " << writer_.LastFailure();
        EXPECT_EQ(readFile(settings), original) << name;
    }
    options_.UploadFile = upload();
    EXPECT_EQ(run(SelectAllInOrder(work_)), ExportOutcome::Prepared);
    EXPECT_EQ(readFile(upload()), golden("fixed.txt"));
}

TEST_F(ExportWriterTest, NoSelectedRowLeavesTheUploadFileAlone) {
    writeFile(upload(), "previous upload\r\n");
    EXPECT_EQ(run({}), ExportOutcome::NoData);
    EXPECT_EQ(op_.messages, std::vector<std::string>{kNoData});
    EXPECT_EQ(readFile(upload()), "previous upload\r\n");
    EXPECT_TRUE(fs::exists(scratch_.dir() + "KESTALEX.dbf")); // created, empty
    EXPECT_FALSE(op_.hourglassShown());
}

TEST_F(ExportWriterTest, MissingOutputFolderIsNotPrepared) {
    options_.UploadFile = scratch_.dir() + "missing/upload.asc";
    EXPECT_EQ(run(SelectAllInOrder(work_)), ExportOutcome::NotPrepared);
    EXPECT_EQ(op_.messages, notPrepared());
    // The staging table still holds the rows of this run.
    TAdsTable staging;
    openStaging(staging);
    EXPECT_EQ(staging.RecordCount(), 4u);
}

TEST_F(ExportWriterTest, OutputWhoseParentIsAFileIsNotPrepared) {
    writeFile(scratch_.dir() + "plain", "x");
    options_.UploadFile = scratch_.dir() + "plain/upload.asc";
    EXPECT_EQ(run(SelectAllInOrder(work_)), ExportOutcome::NotPrepared);
    EXPECT_EQ(op_.messages, notPrepared());
}

TEST_F(ExportWriterTest, FailedWriteLeavesThePreviousUploadFileWhole) {
    const std::string previous = "previous upload\r\n";
    writeFile(upload(), previous);

    // The temporary file cannot be created: the folder is gone.
    const std::string moved = scratch_.dir() + "elsewhere/upload.asc";
    options_.UploadFile = moved;
    EXPECT_EQ(run(SelectAllInOrder(work_)), ExportOutcome::NotPrepared);
    EXPECT_EQ(op_.messages, notPrepared());
    EXPECT_EQ(readFile(upload()), previous);
    options_.UploadFile = upload();

    // The disk fills up half way through the file (a file size limit, which
    // binds root too). The staging table is smaller than the limit, the upload
    // file in the Comma layout is not.
    std::vector<TBookmark> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back(rec(static_cast<uint32_t>(i % 4 + 1)));
    options_.FileFormat = 2;
    ExportOutcome outcome;
    {
        // staging table about 118 KB, upload file about 132 KB
        kes::os::FileSizeLimitForTesting fullDisk(125000);
        ASSERT_TRUE(fullDisk.active());
        outcome = run(many);
    }
    EXPECT_EQ(outcome, ExportOutcome::NotPrepared);
    EXPECT_EQ(op_.messages, notPrepared());
    EXPECT_NE(writer_.LastFailure().find("Unable to write to"), std::string::npos)
        << writer_.LastFailure();
    EXPECT_TRUE(readFile(upload()) == previous) << "the previous upload file was damaged";
    for (const auto& e : fs::directory_iterator(scratch_.dir()))
        EXPECT_FALSE(kes::os::isReplacementTemporary(e.path().filename().string(), "upload.asc"))
            << "a temporary file stayed: " << e.path();

    // Without the limit the same run succeeds and replaces the file.
    EXPECT_EQ(run(many), ExportOutcome::Prepared);
    EXPECT_EQ(readFile(upload()).size(), 500 * golden("comma.txt").size());
}

// The staging table is finished before the upload file replaces the previous
// one: a staging table that the disk refuses leaves the previous upload file,
// so a run reported as not prepared never replaced it.
TEST_F(ExportWriterTest, AStagingTableTheDiskRefusesLeavesThePreviousUploadFile) {
    const std::string previous = "previous upload\r\n";
    writeFile(upload(), previous);
    std::vector<TBookmark> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back(rec(static_cast<uint32_t>(i % 4 + 1)));
    options_.FileFormat = 1;
    bool failed = false;
    {
        // staging table about 118 KB, the pipe-delimited upload file 100 KB
        kes::os::FileSizeLimitForTesting fullDisk(110000);
        ASSERT_TRUE(fullDisk.active());
        try {
            failed = run(many) != ExportOutcome::Prepared;
        } catch (const std::exception&) {
            failed = true;
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_TRUE(readFile(upload()) == previous) << "the upload file was replaced by a failed run";
    EXPECT_EQ(run(many), ExportOutcome::Prepared);
    EXPECT_LT(readFile(upload()).size(), 110000u)
        << "the case needs an upload file below the limit";
    EXPECT_GT(fs::file_size(scratch_.dir() + "KESTALEX.dbf"), 110000u)
        << "and a staging table above";
}

TEST_F(ExportWriterTest, ProgressBarAndHourglass) {
    EXPECT_EQ(run({rec(1), rec(2), rec(3)}), ExportOutcome::Prepared);
    EXPECT_EQ(op_.rangeMaximum, 3);
    EXPECT_EQ(op_.lastProgress(), 0); // set back at the end
    // 0 at the start, the zero-based number of each row, 0 again at the end.
    EXPECT_EQ(op_.positions, (std::vector<int>{0, 0, 1, 2, 0}));
    EXPECT_EQ(op_.pendingEventRuns, 1);
    EXPECT_EQ(op_.hourglass, (std::vector<bool>{true, false}));
}

// The staging table's index is written while the upload file is; when it
// cannot be written the run ends in a table error, never in "prepared".
TEST_F(ExportWriterTest, AStagingIndexThatCannotBeWrittenEndsTheRun) {
    const std::string index = scratch_.dir() + "KESTALEX.cdx";
    // Halfway through the staging a folder takes the index file's place.
    op_.onProgress = [&](int position) {
        if (position != 1 || fs::is_directory(index)) return;
        fs::remove(index);
        fs::create_directory(index);
        std::ofstream(index + "/keep") << "not empty";
    };
    EXPECT_THROW(run({rec(1), rec(2), rec(3)}), EADSDatabaseError);
    EXPECT_TRUE(fs::is_directory(index));
    EXPECT_TRUE(op_.messages.empty());
    EXPECT_FALSE(op_.hourglassShown());
    EXPECT_FALSE(writer_.AdsTable6.Active());

    // Once the way is clear the same writer prepares the file.
    op_.onProgress = nullptr;
    fs::remove_all(index);
    EXPECT_EQ(run({rec(1), rec(2), rec(3)}), ExportOutcome::Prepared);
    EXPECT_EQ(op_.messages, std::vector<std::string>{kPrepared});
    EXPECT_TRUE(fs::is_regular_file(index));
}

TEST_F(ExportWriterTest, TableErrorEndsTheRunWithoutAMessage) {
    op_.hourglass.clear();
    EXPECT_THROW(run({rec(2), rec(99)}), EADSDatabaseError);
    EXPECT_TRUE(op_.messages.empty());
    EXPECT_FALSE(op_.hourglassShown());
    EXPECT_FALSE(writer_.AdsTable6.Active());
    EXPECT_EQ(op_.lastProgress(), 1); // the bar keeps its last position
    EXPECT_FALSE(fs::exists(upload()));
}

} // namespace
