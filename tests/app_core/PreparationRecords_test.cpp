// Every preparation leaves its entry in the data folder's history: the
// unattended run (one entry, written before its outcome message), each export
// of the selection window, a gathering that fails or is given up, a run
// refused because another holds the folder, and kesprep-batch from its own
// process. The sample data directory is copied for each test.
#include "app/core/Preparation.h"

#include "common/Clock.h"
#include "common/Paths.h"
#include "common/Sha256.h"
#include "os/Os.h"
#include "prep/core/WorkTable.h"
#include "support/Files.h"
#include "support/OtherPreparation.h"
#include "support/Programs.h"
#include "support/RecordingOperator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The system's words for a file that cannot be made in a folder that does
// not exist, as the writer reports them after its own.
std::string cannotCreateReason(const std::string& path) {
    kes::os::File file;
    return kes::os::File::createExclusive(path, file).reason();
}

size_t lineCount(const std::string& path) {
    const std::string text = testsupport::readFile(path);
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string lowered(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A RecordingOperator that also notes how many history entries there were
// when each outcome message came.
class WatchingOperator : public testsupport::RecordingOperator {
  public:
    explicit WatchingOperator(std::string dataDir) : dataDir_(std::move(dataDir)) {}
    std::vector<size_t> entriesAtMessage;

    void ShowError(const std::string& text) override {
        entriesAtMessage.push_back(ReadHistory(dataDir_).size());
        RecordingOperator::ShowError(text);
    }
    void ShowInformation(const std::string& text) override {
        entriesAtMessage.push_back(ReadHistory(dataDir_).size());
        RecordingOperator::ShowInformation(text);
    }

  private:
    std::string dataDir_;
};

class PreparationRecordsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kes::Clock::instance().setSource([] { return kes::LocalTime{2004, 6, 15, 2, 0, 5, 0}; });
        data_.copyFolder("virn-sample");
        plan_.DataDir = data_.dir();
        plan_.Period = "1";
        plan_.SearchTemporary = true;
        plan_.Dates = DateSelection::All();
        plan_.OutputFile = upload();
        plan_.SettingsFile = out_.dir() + "KesPrep.ini";
    }
    void TearDown() override { kes::Clock::instance().setSource({}); }

    std::string upload() const { return out_.dir() + "upload.asc"; }
    std::vector<HistoryEntry> history() const {
        std::string error;
        auto entries = ReadHistory(data_.dir(), &error);
        EXPECT_EQ(error, "");
        return entries;
    }

    testsupport::TempDir data_{"data"};
    testsupport::TempDir out_{"out"};
    PreparationPlan plan_;
};

// An unattended run is one entry with everything it was asked to do and what
// it wrote; the entry is in the file before the outcome message appears.
TEST_F(PreparationRecordsTest, AnUnattendedRunIsOneEntryWrittenBeforeItsMessage) {
    plan_.Dates =
        DateSelection::Between(*kes::Date::fromYmd(2005, 9, 1), *kes::Date::fromYmd(2005, 12, 31));
    plan_.Layout = UploadLayout::Comma;
    plan_.Fields = OptionalFields{true, false, false, true};
    WatchingOperator op(data_.dir());
    {
        Preparation run(plan_, PreparationFrontEnd::TimedRun);
        kes::Clock::instance().setSource([] { return kes::LocalTime{2004, 6, 15, 2, 3, 7, 0}; });
        ASSERT_EQ(run.Gather(op), GatherResult::Done);
        EXPECT_TRUE(history().empty()) << "a gathering alone is no entry";
        EXPECT_EQ(run.ExportAll(op).Outcome, ExportOutcome::Prepared);
        EXPECT_EQ(run.HistoryProblem(), "");
    }
    EXPECT_EQ(op.entriesAtMessage, std::vector<size_t>{1});

    const std::vector<HistoryEntry> entries = history();
    ASSERT_EQ(entries.size(), 1u);
    const HistoryEntry& e = entries[0];
    EXPECT_EQ(e.Started, "2004-06-15 02:00:05");
    EXPECT_EQ(e.Ended, "2004-06-15 02:03:07");
    EXPECT_EQ(e.FrontEnd, "Timed Run");
    EXPECT_EQ(e.User, kes::os::userName());
    EXPECT_EQ(e.Period, "1");
    EXPECT_EQ(e.Set, "Temporary");
    EXPECT_EQ(e.BeginDate, "2005-09-01");
    EXPECT_EQ(e.EndDate, "2005-12-31");
    EXPECT_EQ(e.Layout, "Comma Delimited");
    EXPECT_EQ(e.OptionalFields, "Attempted; Site Code");
    EXPECT_EQ(e.Rows, std::to_string(lineCount(upload())));
    EXPECT_GT(lineCount(upload()), 0u);
    EXPECT_EQ(e.UploadFile, upload());
    const std::string written = testsupport::readFile(upload());
    EXPECT_EQ(e.Size, std::to_string(written.size()));
    EXPECT_EQ(e.Sha256, kes::sha256Hex(written));
    EXPECT_EQ(e.Outcome, HistoryOutcome::Prepared);
    EXPECT_EQ(e.Reason, "");
}

// The selection window: one entry for each Export, named by the file of that
// export, the failed ones with the writer's reason; the gathering adds none.
TEST_F(PreparationRecordsTest, EachExportOfTheSelectionWindowIsOneEntry) {
    testsupport::RecordingOperator op;
    Preparation find(plan_, PreparationFrontEnd::FindAndExport);
    ASSERT_EQ(find.Gather(op), GatherResult::Done);
    TAdsTable work;
    ASSERT_TRUE(OpenWorkTable(work, plan_.DataDir, op));
    const std::vector<TBookmark> all = SelectAllInOrder(work);
    const std::vector<TBookmark> three(all.begin(), all.begin() + 3);
    const std::string missing = out_.dir() + "missing/upload.asc";
    TExportWriter writer;
    EXPECT_EQ(find.Export(writer, work, three, upload(), op), ExportOutcome::Prepared);
    EXPECT_EQ(find.Export(writer, work, all, missing, op), ExportOutcome::NotPrepared);
    EXPECT_EQ(find.Export(writer, work, {}, upload(), op), ExportOutcome::NoData);
    work.Close();

    const std::vector<HistoryEntry> entries = history();
    ASSERT_EQ(entries.size(), 3u);
    for (const HistoryEntry& e : entries)
        EXPECT_EQ(e.FrontEnd, "Find and Export");
    EXPECT_EQ(entries[0].UploadFile, upload());
    EXPECT_EQ(entries[0].Rows, "3");
    EXPECT_EQ(entries[0].Outcome, HistoryOutcome::Prepared);
    EXPECT_EQ(entries[0].Sha256, kes::sha256Hex(testsupport::readFile(upload())));
    EXPECT_EQ(entries[1].UploadFile, missing);
    EXPECT_EQ(entries[1].Rows, "0");
    EXPECT_EQ(entries[1].Size, "");
    EXPECT_EQ(entries[1].Outcome, HistoryOutcome::NotPrepared);
    EXPECT_EQ(entries[1].Reason,
              "Unable to create " + missing + ": " + cannotCreateReason(missing));
    EXPECT_EQ(entries[2].Outcome, HistoryOutcome::NotPrepared);
    EXPECT_EQ(entries[2].Reason, "No data in date range.");
}

// A gathering that fails on a table, or whose table the operator gives up
// on, is one entry, not prepared, that says why; Find has no file yet.
TEST_F(PreparationRecordsTest, AGatheringThatFailsOrIsGivenUpIsOneEntry) {
    fs::create_directory(data_.path() / "VIRNTP9"); // a period folder without its tables
    const struct Case {
        const char* what;
        const char* period;
        PreparationFrontEnd frontEnd;
        const char* reasonHas; // in lower case
        std::string uploadFile;
    } cases[] = {
        {"a table error", "4", PreparationFrontEnd::FindAndExport, "ssntemp.ntx", ""},
        {"given up", "9", PreparationFrontEnd::Batch,
         "a table could not be opened and the run was given up: ", upload()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(data_.path() / kHistoryFileName);
        plan_.Period = c.period;
        testsupport::RecordingOperator op; // gives up at the first question
        {
            Preparation run(plan_, c.frontEnd);
            try {
                EXPECT_EQ(run.Gather(op), GatherResult::Cancelled);
            } catch (const std::exception&) {
            }
        }
        const std::vector<HistoryEntry> entries = history();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Outcome, HistoryOutcome::NotPrepared);
        EXPECT_EQ(entries[0].Period, c.period);
        EXPECT_EQ(entries[0].UploadFile, c.uploadFile);
        EXPECT_NE(lowered(entries[0].Reason).find(c.reasonHas), std::string::npos)
            << entries[0].Reason;
    }
}

// Refused because another process prepares from the folder: one entry that
// says so. Refused for a missing folder: nothing is written anywhere.
TEST_F(PreparationRecordsTest, ARunRefusedForABusyFolderIsOneEntry) {
    {
        testsupport::OtherPreparation other(KES_LOCK_HOLDER, data_.dir());
        ASSERT_TRUE(other.holding());
        EXPECT_THROW(Preparation(plan_, PreparationFrontEnd::TimedRun), EPreparationBusy);
    }
    const std::vector<HistoryEntry> entries = history();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].FrontEnd, "Timed Run");
    EXPECT_EQ(entries[0].Outcome, HistoryOutcome::NotPrepared);
    EXPECT_EQ(entries[0].Reason, "Another preparation is running on the data folder " +
                                     data_.dir() + ". Try again when it has finished.");

    fs::remove(data_.path() / kHistoryFileName);
    plan_.Period = "7";
    EXPECT_THROW(Preparation(plan_, PreparationFrontEnd::TimedRun), std::runtime_error);
    EXPECT_FALSE(fs::exists(data_.path() / kHistoryFileName));
}

// kesprep-batch records its runs as "kesprep-batch", the prepared one with
// the file's size and checksum, the failed one with the writer's reason.
TEST_F(PreparationRecordsTest, KesprepBatchRecordsItsRuns) {
    const std::string missing = out_.dir() + "missing" + PathDelim + "upload.asc";
    testsupport::writeFile(plan_.SettingsFile, "");
    for (const std::string& output : {upload(), missing}) {
        kes::os::RunOptions options;
        options.stdoutFile = out_.dir() + "stdout.txt";
        options.stderrFile = out_.dir() + "stderr.txt";
        kes::os::runProgram({KES_BATCH_PROGRAM, "--ini", plan_.SettingsFile, "--data", data_.dir(),
                             "--period", "1", "--set", "master", "--dates", "all", "--layout",
                             "pipe", "--output", output},
                            options);
    }
    const std::vector<HistoryEntry> entries = history();
    ASSERT_EQ(entries.size(), 2u);
    for (const HistoryEntry& e : entries) {
        EXPECT_EQ(e.FrontEnd, "kesprep-batch");
        EXPECT_EQ(e.User, kes::os::userName());
        EXPECT_EQ(e.Set, "Master");
        EXPECT_EQ(e.Layout, "Pipe Delimited");
        EXPECT_LE(e.Started, e.Ended);
        EXPECT_EQ(e.Started.size(), 19u) << e.Started;
    }
    const std::string written = testsupport::readFile(upload());
    EXPECT_EQ(entries[0].Outcome, HistoryOutcome::Prepared);
    EXPECT_EQ(entries[0].Rows, std::to_string(lineCount(upload())));
    EXPECT_EQ(entries[0].Size, std::to_string(written.size()));
    EXPECT_EQ(entries[0].Sha256, kes::sha256Hex(written));
    EXPECT_EQ(entries[1].Outcome, HistoryOutcome::NotPrepared);
    EXPECT_EQ(entries[1].UploadFile, missing);
    EXPECT_EQ(entries[1].Reason,
              "Unable to create " + missing + ": " + cannotCreateReason(missing));
}

} // namespace
