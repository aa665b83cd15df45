// kesprep-batch from end to end on a copy of the sample data directory: the
// exact upload file, the settings file as the source of every left-out option,
// and the command-line errors that must stop it before anything is gathered.
#include "export_support.h"
#include "os/Os.h"
#include "support/Programs.h"

#include "app/core/PreparationHistory.h"
#include "common/Paths.h"
#include "common/PreparationLock.h"
#include "data/AdsTable.h"
#include "os/Os.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace fs = std::filesystem;
using exporttest::golden;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// The system's words for a file that cannot be made in a folder that does
// not exist, as the writer reports them after its own.
std::string cannotCreateReason(const std::string& path) {
    kes::os::File file;
    return kes::os::File::createExclusive(path, file).reason();
}

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

class BatchTest : public ::testing::Test {
  public:
    // (public for the tables of cases below)
    void SetUp() override {
        testsupport::copyFolder(testsupport::fixture("virn-sample"), scratch_.path() / "data");
        data_ = (scratch_.path() / "data" / "").string();
        ini_ = scratch_.dir() + "KesPrep.ini";
        writeFile(ini_, "");
    }

    // Runs the program with blank-separated arguments; '...' keeps blanks in one.
    RunResult run(const std::string& args, const std::string& program = KES_BATCH_PROGRAM) {
        std::vector<std::string> argv{program};
        bool inQuotes = false, inWord = false;
        for (char c : args) {
            if (c == '\'') {
                inQuotes = !inQuotes;
                if (!inWord) argv.emplace_back();
                inWord = true;
            } else if (c == ' ' && !inQuotes) {
                inWord = false;
            } else {
                if (!inWord) argv.emplace_back();
                inWord = true;
                argv.back() += c;
            }
        }
        kes::os::RunOptions options;
        options.stdoutFile = scratch_.dir() + "stdout.txt";
        options.stderrFile = scratch_.dir() + "stderr.txt";
        RunResult r;
        r.exitCode = kes::os::runProgram(argv, options);
        r.out = testsupport::withUnixLineEnds(readFile(options.stdoutFile));
        r.err = testsupport::withUnixLineEnds(readFile(options.stderrFile));
        return r;
    }

    std::string quoted(const std::string& s) const { return "'" + s + "'"; }
    // A path below the data folder as the program writes it, with the
    // system's separator.
    static std::string native(std::string relative) {
        for (char& c : relative)
            if (c == '/') c = PathDelim;
        return relative;
    }
    static std::string lowered(std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }

    TempDir scratch_;
    std::string data_, ini_;
};

TEST_F(BatchTest, PreparesTheExactUploadFile) {
    std::string upload = scratch_.dir() + "upload.asc";
    RunResult r = run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
                      " --period 1 --set temporary --dates 09/01/2005-09/30/2005"
                      " --records placement --layout pipe"
                      " --fields attempted,subscores,panda,sitecode --output " +
                      quoted(upload));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string expected = golden("batch_virntp1_placement_pipe_all.txt");
    EXPECT_EQ(readFile(upload), expected);
    size_t lines = 0;
    for (size_t p = expected.find("\r\n"); p != std::string::npos; p = expected.find("\r\n", p + 2))
        ++lines;
    ASSERT_GT(lines, 1u);
    // Plain lines when stdout is not a terminal: the outcome and what was
    // written, then where the records read went (VIRNTP1's PlacTemp: 19 live
    // records, 5 in September).
    EXPECT_EQ(r.out, "Adding Placement Records\nProcessing...\n"
                     "Export File has been successfully prepared.\n"
                     "Wrote " +
                         std::to_string(lines) + " records to " + upload +
                         "\n"
                         "  Placement (PlacTemp): 19 records read, 14 outside the dates, 5 copied\n"
                         "  Assessment: not included\n"
                         "  Scores: not included\n"
                         "  Rows kept: 5\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(BatchTest, LeftOutOptionsComeFromTheSettingsFile) {
    std::string upload = scratch_.dir() + "auto.asc";
    writeFile(ini_, "[Directories]\r\nORVA Path=" + data_.substr(0, data_.size() - 1) +
                        "\r\n"
                        "[Testing Periods]\r\nORVA From=1\r\n"
                        "[ORVA Export]\r\nSearch=0\r\nSelected Dates=1\r\n"
                        "Begin Date=09/01/2005\r\nEnd Date=09/30/2005\r\n"
                        "Include Placement Records=1\r\nInclude Assessment Records=0\r\n"
                        "Include Score Records=0\r\nInclude Purpose and Accommodation=1\r\n"
                        "Include Attempted=1\r\nInclude Subscores=1\r\nInclude Site Code=1\r\n"
                        "File Format=1\r\n"
                        "[ORVA Auto Export]\r\nFilename=" +
                        upload + "\r\nDate=1\r\n");
    RunResult r = run("--ini " + quoted(ini_));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(upload), golden("batch_virntp1_placement_pipe_all.txt"));
}

// The date range when --dates is left out: the automatic window's date choice,
// and with "Date Selection" the main window's choice, refused where the main
// window refuses it. The sample's dates lie in 2005 to 2007, so today's range
// finds nothing.
TEST_F(BatchTest, LeftOutDatesFollowTheAutomaticWindowsChoice) {
    const std::string upload = scratch_.dir() + "auto.asc";
    auto settings = [&](const std::string& exportKeys, const std::string& autoKeys) {
        writeFile(ini_, "[Directories]\r\nORVA Path=" + data_ +
                            "\r\n[Testing Periods]\r\nORVA From=1\r\n[ORVA Export]\r\n" +
                            exportKeys + "\r\n[ORVA Auto Export]\r\nFilename=" + upload + "\r\n" +
                            autoKeys + "\r\n");
    };
    // What the same run gives with the dates on the command line.
    auto reference = [&](const std::string& dates) {
        settings("", "");
        RunResult r = run("--ini " + quoted(ini_) + " --dates " + dates);
        EXPECT_EQ(r.exitCode, 0) << dates << ": " << r.err;
        std::string text = readFile(upload);
        fs::remove(upload);
        return text;
    };
    const std::string allDates = reference("all");
    const std::string september = reference("09/01/2005-09/30/2005");
    ASSERT_NE(allDates, september);

    const std::string noData = "No data in date range.  Export File was not prepared.\n";
    const std::string notEntered = "The selected dates must be entered.";
    const std::string reversed = "The Begin Date cannot be later than the End Date.";
    struct Case {
        const char* name;
        std::string exportKeys, autoKeys;
        int exitCode;
        const std::string* upload; // the file expected, or nullptr for none
        std::string message;       // expected in stderr
    } cases[] = {
        {"no date choice means today", "", "", 3, nullptr, noData},
        {"current date", "Selected Dates=1\r\nBegin Date=09/01/2005\r\nEnd Date=09/30/2005",
         "Date=0", 3, nullptr, noData},
        {"date selection with all dates", "Selected Dates=0\r\nBegin Date=09/01/2005", "Date=1", 0,
         &allDates, ""},
        {"date selection with a range",
         "Selected Dates=1\r\nBegin Date=09/01/2005\r\nEnd Date=09/30/2005", "Date=1", 0,
         &september, ""},
        {"unreadable dates read as today",
         "Selected Dates=1\r\nBegin Date=09/01/2005\r\nEnd Date=someday", "Date=1", 3, nullptr,
         noData},
        {"empty begin date", "Selected Dates=1\r\nBegin Date=12/30/1899\r\nEnd Date=09/30/2005",
         "Date=1", 2, nullptr, notEntered},
        {"empty end date", "Selected Dates=1\r\nBegin Date=09/01/2005\r\nEnd Date=12/30/1899",
         "Date=1", 2, nullptr, notEntered},
        {"begin after end", "Selected Dates=1\r\nBegin Date=09/30/2005\r\nEnd Date=09/01/2005",
         "Date=1", 2, nullptr, reversed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(upload);
        fs::remove(data_ + "KESTABLE.dbf");
        settings(c.exportKeys, c.autoKeys);
        RunResult r = run("--ini " + quoted(ini_));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.upload)
            EXPECT_EQ(readFile(upload), *c.upload);
        else
            EXPECT_FALSE(fs::exists(upload));
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        // A refused range stops the run before the work table is made.
        EXPECT_EQ(fs::exists(data_ + "KESTABLE.dbf"), c.exitCode != 2);
    }
}

// A table error in the gathering (VIRNTP4 lacks SSNTEMP.NTX) is reported and
// nothing is written.
TEST_F(BatchTest, TableErrorWhileGatheringIsAFailure) {
    const std::string upload = scratch_.dir() + "u.asc";
    RunResult r = run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
                      " --period 4 --set temporary --dates all --output " + quoted(upload));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(lowered(r.err).find("ssntemp.ntx"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(upload));
}

TEST_F(BatchTest, NoRecordInTheRangeLeavesTheFileAlone) {
    std::string upload = scratch_.dir() + "upload.asc";
    writeFile(upload, "previous\r\n");
    RunResult r =
        run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
            " --period 1 --set temporary --dates 01/01/1990-01/02/1990 --output " + quoted(upload));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "No data in date range.  Export File was not prepared.\n");
    EXPECT_EQ(readFile(upload), "previous\r\n");
}

// The message of the windows on one line, with the writer's reason.
TEST_F(BatchTest, MissingOutputFolderIsAFailure) {
    const std::string upload = scratch_.dir() + native("missing/upload.asc");
    RunResult r = run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
                      " --period 1 --set temporary --dates all --output " + quoted(upload));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Export File has been not prepared. Unable to create " + upload + ": " +
                         cannotCreateReason(upload) + "\n");
}

// A period or data folder that is not there is a usage error that names the
// folder; nothing is gathered and no retry question is printed.
TEST_F(BatchTest, MissingPeriodOrDataFolderIsNamed) {
    fs::create_directories(data_ + "VIRNTP5");
    fs::copy_file(data_ + "VIRNTP1/PLACTEMP.DBF", data_ + "VIRNTP5/PlacTemp.dbf");
    const std::string out = " --dates all --output " + quoted(scratch_.dir() + "u.asc");
    struct Case {
        const char* name;
        std::string args;
        std::string message;
    } cases[] = {
        {"period that does not exist", "--data " + quoted(data_) + " --period 99" + out,
         "testing period 99: the folder " + data_ + native("VIRNTP99/") + " does not exist"},
        {"period folder without its tables", "--data " + quoted(data_) + " --period 5" + out,
         "testing period 5: the folder " + data_ + native("VIRNTP5/") +
             " has no table Assetemp.dbf"},
        {"data directory that does not exist",
         "--data " + quoted(scratch_.dir() + "nowhere") + " --period 1" + out,
         "the data directory " + scratch_.dir() + "nowhere" + PathDelim + " does not exist"},
        // NormalizePath keeps 255 characters: what is left names another folder.
        {"data directory path cut at 255 characters",
         "--data " + quoted(data_ + std::string(300, 'x')) + " --period 1" + out,
         "--data: the data directory path is longer than 254 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = run("--ini " + quoted(ini_) + " " + c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("retry"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Cancelled"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(data_ + "KESTABLE.dbf"));
        EXPECT_FALSE(fs::exists(scratch_.dir() + "nowhere"));
    }
    // An empty "ORVA Path" is no data directory, not the root folder.
    writeFile(ini_, "[Directories]\r\nORVA Path=\r\n");
    RunResult r = run("--ini " + quoted(ini_) + " --period 1" + out);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("no data directory set"), std::string::npos) << r.err;
}

// A table that another program holds is given up after the silent attempts:
// the failure is reported and nothing is asked.
TEST_F(BatchTest, TableHeldElsewhereIsGivenUp) {
    TAdsTable holder;
    holder.DatabaseName = data_ + "VIRNTP1/";
    holder.TableType = ttAdsNTX;
    holder.SetTableName("PlacTemp");
    holder.Exclusive = true;
    holder.Open();
    RunResult r =
        run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
            " --period 1 --set temporary --dates all --output " + quoted(scratch_.dir() + "u.asc"));
    holder.Close();
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "Unable to open Table: " + data_ + native("VIRNTP1/PlacTemp.CDX") + ".\n");
    EXPECT_FALSE(fs::exists(scratch_.dir() + "u.asc"));
}

TEST_F(BatchTest, BadCommandLinesStopBeforeAnythingIsGathered) {
    const std::string base = "--ini " + quoted(ini_) + " --data " + quoted(data_) + " ";
    const std::string out = " --output " + quoted(scratch_.dir() + "u.asc");
    struct Case {
        const char* name;
        std::string args;
        const char* message;
    } cases[] = {
        {"unknown option", base + "--period 1 --colour red" + out, "unknown option"},
        {"bad layout", base + "--period 1 --layout csv" + out, "--layout"},
        {"bad field name", base + "--period 1 --fields attempted,colour" + out, "colour"},
        {"bad record kind", base + "--period 1 --records placement,grades" + out, "grades"},
        {"bad set", base + "--period 1 --set both" + out, "--set"},
        {"bad dates", base + "--period 1 --dates 02/30/2005-03/01/2005" + out, "--dates"},
        {"dates the wrong way round", base + "--period 1 --dates 09/30/2005-09/01/2005" + out,
         "--dates"},
        {"empty date", base + "--period 1 --dates 12/30/1899-09/30/2005" + out, "--dates"},
        {"period not a number", base + "--period x1" + out, "--period"},
        {"no period", base + out, "testing period"},
        {"no output", base + "--period 1", "upload file"},
        {"value missing", base + "--period 1" + out + " --layout", "needs a value"},
        {"settings file missing",
         "--ini " + quoted(scratch_.dir() + "none.ini") + " --period 1" + out, "--ini"},
    };
    for (const Case& c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.name;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
        EXPECT_FALSE(fs::exists(data_ + "KESTABLE.dbf")) << c.name;
    }
}

// A layout number outside 0 to 3 in the settings file would run the values
// together; it stops the run before anything is gathered.
TEST_F(BatchTest, FileFormatOutsideTheFourLayoutsIsAnError) {
    for (const char* format : {"7", "-1", "4"}) {
        writeFile(ini_, std::string("[ORVA Export]\r\nFile Format=") + format + "\r\n");
        RunResult r = run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
                          " --period 1 --dates all --output " + quoted(scratch_.dir() + "u.asc"));
        EXPECT_EQ(r.exitCode, 2) << format;
        EXPECT_NE(r.err.find("\"File Format\""), std::string::npos) << format << ": " << r.err;
        EXPECT_FALSE(fs::exists(data_ + "KESTABLE.dbf")) << format;
    }
}

// While one preparation holds the data folder (here this test process, as
// kesprep would between its gathering and its export), a kesprep-batch on the
// same folder is refused before it gathers anything; once the holder is gone
// the next run goes ahead.
TEST_F(BatchTest, SecondPreparationOnTheSameDataFolderIsRefused) {
    const std::string upload = scratch_.dir() + "u.asc";
    const std::string args = "--ini " + quoted(ini_) + " --data " + quoted(data_) +
                             " --period 1 --set temporary --dates all --output " + quoted(upload);
    {
        PreparationLock holder(data_);
        RunResult r = run(args);
        EXPECT_EQ(r.exitCode, 5);
        EXPECT_NE(r.err.find("Another preparation is running on the data folder"),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(fs::exists(data_ + "KESTABLE.dbf"));
        EXPECT_FALSE(fs::exists(upload));
        // Another data folder is not held.
        testsupport::copyFolder(scratch_.path() / "data", scratch_.path() / "other");
        const std::string other = (scratch_.path() / "other" / "").string();
        fs::remove(other + PreparationLock::kFileName);
        EXPECT_EQ(run("--ini " + quoted(ini_) + " --data " + quoted(other) +
                      " --period 1 --set temporary --dates all --output " +
                      quoted(scratch_.dir() + "other.asc"))
                      .exitCode,
                  0);
    }
    RunResult r = run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(upload));
    // The run let go of the folder when it ended.
    EXPECT_NO_THROW(PreparationLock again(data_));
}

// A run killed while it replaced a table leaves the replace routine's
// temporary files beside the table; the next run removes them, and only them:
// names of another form, another file's temporaries and what a planted link
// points to stay.
TEST_F(BatchTest, TemporariesAKilledRunLeftBesideItsTablesAreRemoved) {
    writeFile(scratch_.dir() + "victim.txt", "somebody's file");
    const char* const leftovers[] = {"KESTABLE.dbf.kes-a1b2c3.tmp", "kestable.DBF.kes-zz99zz.tmp",
                                     "KESTALEX.dbf.kes-000000.tmp", "KESTABLE.cdx.kes-q1w2e3.tmp"};
    const char* const kept[] = {"KESTABLE.dbf.tmp", "KESTABLE.dbf.kes-ABCDEF.tmp",
                                "KESTABLE.dbf.kes-a1b2c3.tmp.keep", "notes.txt.kes-a1b2c3.tmp",
                                "KESTABLE.dbf.kes-a1b2.tmp"};
    for (const char* name : leftovers)
        writeFile(data_ + name, "half of a table");
    for (const char* name : kept)
        writeFile(data_ + name, "a user's file");
    std::error_code noLinks; // Windows without the right to make links: no planted link
    fs::create_symlink(scratch_.dir() + "victim.txt", data_ + "KESTALEX.dbf.kes-link00.tmp",
                       noLinks);

    RunResult r =
        run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
            " --period 1 --set temporary --dates all --output " + quoted(scratch_.dir() + "u.asc"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : leftovers)
        EXPECT_FALSE(fs::exists(data_ + name)) << name;
    EXPECT_FALSE(fs::is_symlink(data_ + "KESTALEX.dbf.kes-link00.tmp"));
    EXPECT_EQ(readFile(scratch_.dir() + "victim.txt"), "somebody's file");
    for (const char* name : kept)
        EXPECT_EQ(readFile(data_ + name), "a user's file") << name;
}

TEST_F(BatchTest, HelpExplainsEveryOption) {
    RunResult r = run("--help");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"--ini", "--data", "--period", "--set", "--dates", "--layout",
                               "--fields", "--records", "--output", "--version", "Exit status"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST_F(BatchTest, VersionIsTheProjectsVersion) {
    RunResult r = run("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "kesprep-batch (KesPrep) " KES_TEST_PROJECT_VERSION "\n");
    EXPECT_EQ(r.err, "");
}

// A program run from its build folder, or from a folder it was copied or
// unpacked into, keeps its settings file beside itself: --help names the
// file, and a copy prepares with the settings that lie beside the copy.
TEST_F(BatchTest, SettingsFileLiesBesideTheProgramItRunsFrom) {
#ifndef _WIN32
    const RunResult help = run("--help");
    const std::string label = "This copy's settings file: ";
    const size_t at = help.out.find(label);
    ASSERT_NE(at, std::string::npos) << help.out;
    const size_t from = at + label.size();
    EXPECT_EQ(help.out.substr(from, help.out.find('\n', from) - from),
              (fs::canonical(fs::path(KES_BATCH_PROGRAM).parent_path()) / "KesPrep.ini").string());
#endif
    const fs::path unpacked = scratch_.path() / "unpacked";
    fs::create_directory(unpacked);
    const fs::path original(KES_BATCH_PROGRAM);
    const fs::path copy = unpacked / original.filename();
    fs::copy_file(original, copy);
    // A Windows build linked with the compiler's runtime as DLLs needs them beside it.
    for (const auto& entry : fs::directory_iterator(original.parent_path()))
        if (entry.path().extension() == ".dll")
            fs::copy_file(entry.path(), unpacked / entry.path().filename());

    const std::string upload = scratch_.dir() + "unpacked.asc";
    writeFile((unpacked / "KesPrep.ini").string(),
              "[Directories]\r\nORVA Path=" + data_ +
                  "\r\n[Testing Periods]\r\nORVA From=1\r\n"
                  "[ORVA Export]\r\nSearch=0\r\nSelected Dates=1\r\n"
                  "Begin Date=09/01/2005\r\nEnd Date=09/30/2005\r\n"
                  "Include Placement Records=1\r\nInclude Assessment Records=0\r\n"
                  "Include Score Records=0\r\nInclude Purpose and Accommodation=1\r\n"
                  "Include Attempted=1\r\nInclude Subscores=1\r\nInclude Site Code=1\r\n"
                  "File Format=1\r\n[ORVA Auto Export]\r\nFilename=" +
                  upload + "\r\nDate=1\r\n");
    const RunResult r = run("", copy.string());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(upload), golden("batch_virntp1_placement_pipe_all.txt"));
}

} // namespace

namespace {

// --history prints the last entries of the data folder's history, the newest
// last, each as three or four lines; the count defaults to ten.
TEST_F(BatchTest, HistoryPrintsTheLastEntries) {
    std::string text = "\xEF\xBB\xBF" + HistoryHeaderLine() + "\r\n";
    for (int i = 0; i < 10; ++i) {
        HistoryEntry e;
        e.Started = e.Ended = "2004-06-0" + std::to_string(i % 9 + 1) + " 02:00:00";
        e.FrontEnd = "Timed Run";
        e.User = "jdoe";
        e.Period = "1";
        e.Set = "Temporary";
        e.Layout = "Fixed Format";
        e.Rows = "0";
        e.Outcome = HistoryOutcome::NotPrepared;
        e.Reason = "old failure " + std::to_string(i);
        text += HistoryLine(e) + "\r\n";
    }
    HistoryEntry done;
    done.Started = "2004-06-15 02:00:00";
    done.Ended = "2004-06-15 02:03:07";
    done.FrontEnd = "kesprep-batch";
    done.User = "jdoe";
    done.Period = "3";
    done.Set = "Master";
    done.BeginDate = "2005-09-01";
    done.EndDate = "2005-09-30";
    done.Layout = "Comma Delimited";
    done.OptionalFields = "Attempted; Site Code";
    done.Rows = "62";
    done.UploadFile = "/data/upload.asc";
    done.Size = "5518";
    done.Sha256 = std::string(64, 'c');
    done.Outcome = HistoryOutcome::Prepared;
    HistoryEntry failed = done;
    failed.Started = "2004-06-15 23:59:58";
    failed.Ended = "2004-06-16 00:00:01";
    failed.FrontEnd = "Timed Run";
    failed.Rows = "0";
    failed.Size = failed.Sha256 = "";
    failed.Outcome = HistoryOutcome::NotPrepared;
    failed.Reason = "Unable to create /data/upload.asc";
    text += HistoryLine(done) + "\r\n" + HistoryLine(failed) + "\r\n";
    writeFile(data_ + kHistoryFileName, text);

    const std::string last2 =
        "2004-06-15 02:00:00 to 02:03:07  kesprep-batch, jdoe: Prepared\n"
        "  period 3, master tables, 09/01/2005 to 09/30/2005, Comma Delimited with Attempted; "
        "Site Code\n"
        "  62 records to /data/upload.asc (5518 bytes, SHA-256 " +
        std::string(64, 'c') +
        ")\n"
        "2004-06-15 23:59:58 to 2004-06-16 00:00:01  Timed Run, jdoe: Not prepared\n"
        "  period 3, master tables, 09/01/2005 to 09/30/2005, Comma Delimited with Attempted; "
        "Site Code\n"
        "  /data/upload.asc\n"
        "  Unable to create /data/upload.asc\n";
    const std::string data = " --data " + quoted(data_);
    RunResult r = run("--history 2" + data);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, last2);
    EXPECT_EQ(run("--history=2" + data).out, last2);

    // The data directory of the settings file; ten entries unless told.
    writeFile(ini_, "[Directories]\r\nORVA Path=" + data_ + "\r\n");
    r = run("--history --ini " + quoted(ini_));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 45), "2004-06-03 02:00:00 to 02:00:00  Timed Run, j") << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - last2.size()), last2);
    size_t blocks = 0; // the first line of each entry starts in the first column
    for (size_t p = 0; p < r.out.size(); p = r.out.find('\n', p) + 1)
        blocks += r.out[p] != ' ';
    EXPECT_EQ(blocks, 10u) << r.out;

    for (const char* bad : {"--history 0", "--history x", "--history -3"}) {
        r = run(bad + data);
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find("--history"), std::string::npos) << bad << ": " << r.err;
    }

    fs::remove(data_ + kHistoryFileName);
    r = run("--history" + data);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "No preparation in the history of " + data_ + "\n");
}

// Careless uses: files of the wrong kind where tables or the upload file
// should be, upload files that would replace what is not theirs. Each ends
// with its own exit status and a message that names the file; nothing is
// replaced and nothing hangs. An upload file refused is refused before
// anything is gathered (exit status 2).
struct CarelessUse {
    const char* name;
    // Prepares the case in the copy of the sample (`data`, below `scratch`)
    // and returns the upload file; "" skips the case on this system.
    std::function<std::string(const std::string& data, const std::string& scratch)> setUp;
    const char* fields; // the optional fields asked for
    int exitCode;
    const char* message; // what the output must say
};

class CarelessUses : public BatchTest, public ::testing::WithParamInterface<CarelessUse> {};

bool pipeAt(const std::string& path) {
    fs::remove(path);
    return kes::os::createFifoForTesting(path).ok();
}

TEST_P(CarelessUses, EndWithTheirOwnStatusAndMessage) {
    const CarelessUse& c = GetParam();
    const std::string upload = c.setUp(data_, scratch_.dir());
    if (upload.empty()) GTEST_SKIP() << "not possible on this system";
    const bool existed = fs::exists(upload) && fs::is_regular_file(upload);
    const std::string before = existed ? readFile(upload) : std::string();
    RunResult r = run("--ini " + quoted(ini_) + " --data " + quoted(data_) +
                      " --period 1 --set temporary --dates all --layout pipe --fields " + c.fields +
                      " --output " + quoted(upload));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("successfully prepared"), std::string::npos);
    EXPECT_EQ((r.out + r.err).find("Unable to open Table"), std::string::npos);
    if (existed) {
        EXPECT_TRUE(readFile(upload) == before) << "the file was replaced";
    }
}

const CarelessUse kCarelessUses[] = {
    {"PipeAsWorkTable",
     [](const std::string& data, const std::string& scratch) {
         return pipeAt(data + "KESTABLE.dbf") ? scratch + "upload.txt" : "";
     },
     "none", 7, "KESTABLE.dbf"},
    {"PipeAsStagingTable",
     [](const std::string& data, const std::string& scratch) {
         return pipeAt(data + "KESTALEX.dbf") ? scratch + "upload.txt" : "";
     },
     "none", 7, "KESTALEX.dbf"},
    {"PipeAsCodeTable",
     [](const std::string& data, const std::string& scratch) {
         return pipeAt(data + "KESPLACE.DBF") ? scratch + "upload.txt" : "";
     },
     "none", 7, "KESPLACE.DBF"},
    {"PipeAsSiteTable",
     [](const std::string& data, const std::string& scratch) {
         return pipeAt(data + "SETUPSCH.DBF") ? scratch + "upload.txt" : "";
     },
     "sitecode", 7, "SETUPSCH.DBF"},
    {"DeviceAsSiteTable",
     [](const std::string& data, const std::string& scratch) -> std::string {
         if (!fs::exists("/dev/null")) return "";
         fs::remove(data + "SETUPSCH.DBF");
         fs::create_symlink("/dev/null", data + "SETUPSCH.DBF");
         return scratch + "upload.txt";
     },
     "sitecode", 7, "SETUPSCH.DBF"},
    {"DeviceAsUploadFile",
     [](const std::string&, const std::string&) -> std::string {
         return fs::exists("/dev/null") ? "/dev/null" : "";
     },
     "none", 2, "is a device or a pipe"},
    {"PipeAsUploadFile",
     [](const std::string&, const std::string& scratch) {
         return pipeAt(scratch + "upload.fifo") ? scratch + "upload.fifo" : "";
     },
     "none", 2, "is a device or a pipe"},
    {"AnotherDataFoldersRecordTable",
     [](const std::string&, const std::string& scratch) {
         testsupport::copyFolder(testsupport::fixture("virn-sample"), scratch + "other");
         return scratch + BatchTest::native("other/VIRNTP1/PLACTEMP.DBF");
     },
     "none", 2, "has the name of a table, index or lock file"},
    {"AnotherDataFoldersCodeTable",
     [](const std::string&, const std::string& scratch) {
         fs::create_directories(scratch + "other");
         fs::copy_file(std::string(KES_TEST_DATA) + "/formats/cdx/KESPLACE.DBF",
                       scratch + BatchTest::native("other/KESPLACE.DBF"));
         return scratch + BatchTest::native("other/KESPLACE.DBF");
     },
     "none", 2, "has the name of a table, index or lock file"},
    {"PeriodFolderSpeltInLowerCase",
     [](const std::string& data, const std::string&) {
         return data + BatchTest::native("virntp1/upload.txt");
     },
     "none", 2, "which belongs to the testing system"},
    {"TheLockFile",
     [](const std::string& data, const std::string&) { return data + "KESPREP.LCK"; }, "none", 2,
     "is KESPREP.LCK of the data folder"},
    {"ReadOnlyUploadFile",
     [](const std::string&, const std::string& scratch) {
         writeFile(scratch + "upload.txt", "the last upload\r\n");
         fs::permissions(scratch + "upload.txt",
                         fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
         return scratch + "upload.txt";
     },
     "none", 2, "is marked read-only"},
    {"TwoSpellingsOfOneTable",
     [](const std::string& data, const std::string& scratch) -> std::string {
         const std::string other = data + BatchTest::native("VIRNTP1/Scortemp.dbf");
         // A file system that ignores letter case has one file only (and
         // finds it under either spelling).
         if (fs::exists(other)) return "";
         fs::copy_file(data + BatchTest::native("VIRNTP1/SCORTEMP.DBF"), other);
         std::vector<std::string> names;
         kes::os::listDirectory(data + "VIRNTP1", names);
         size_t spellings = 0;
         for (const std::string& n : names)
             spellings += BatchTest::lowered(n) == "scortemp.dbf";
         return spellings == 2 ? scratch + "upload.txt" : "";
     },
     "none", 1, "in different letter case"},
};

INSTANTIATE_TEST_SUITE_P(Cases, CarelessUses, ::testing::ValuesIn(kCarelessUses),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
