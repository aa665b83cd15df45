// A whole preparation, as kesprep-batch runs it (a Preparation that gathers
// and writes every record), with each point where it changes the disk
// failing in turn: every run either writes exactly the upload file of a run
// without faults or stops with an error that says what failed; the previous
// upload file, the code tables and the settings file stay as they were, byte
// for byte; nothing is left half written beside them; and the next run,
// without a fault, prepares the right file.
#include "faults_support.h"

#include "app/core/Preparation.h"
#include "common/Clock.h"
#include "support/RecordingOperator.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using faultloop::Injection;

const std::vector<std::string> kCodeTables = {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF",
                                              "KESTEST.cdx"};

// What one preparation did, as kesprep-batch would tell it.
struct Outcome {
    bool prepared = false;
    std::string said; // every message, and the error that ended it
};

class PreparationFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        kes::Clock::instance().setSource([] { return kes::LocalTime{2004, 6, 15, 2, 0, 5, 0}; });
        // The data folder as an office has it: the sample with its code
        // tables, and beside it the settings file and the upload file of an
        // earlier day in another layout.
        template_.copyFolder("virn-sample");
        for (const std::string& name : kCodeTables)
            template_.copy("formats/cdx/" + name, name);
        fs::create_directory(template_.path() / "out");
        settingsText_ = "[Directories]\nORVA Path=" + template_.dir() + "\n";
        ASSERT_TRUE(
            kes::os::writeFileReplacing(template_.dir() + "out/KesPrep.ini", settingsText_).ok());
        {
            const testsupport::TempDir first("first");
            copyTemplateTo(first);
            ASSERT_TRUE(prepare(first, UploadLayout::Comma).prepared);
            previousUpload_ = faultloop::bytesOf(first.dir() + "out/upload.txt");
            ASSERT_TRUE(
                kes::os::writeFileReplacing(template_.dir() + "out/upload.txt", previousUpload_)
                    .ok());
        }
        const testsupport::TempDir clean("clean");
        copyTemplateTo(clean);
        ASSERT_TRUE(prepare(clean, UploadLayout::Pipe).prepared);
        expectedUpload_ = faultloop::bytesOf(clean.dir() + "out/upload.txt");
        ASSERT_NE(expectedUpload_, previousUpload_);
        codeTables_ = faultloop::snapshot(template_.dir(), kCodeTables);
    }
    void TearDown() override { kes::Clock::instance().setSource({}); }

    void copyTemplateTo(const testsupport::TempDir& to) const {
        fs::remove_all(to.path());
        fs::copy(template_.path(), to.path(), fs::copy_options::recursive);
    }

    PreparationPlan planIn(const testsupport::TempDir& folder, UploadLayout layout) const {
        PreparationPlan plan;
        plan.DataDir = folder.dir();
        plan.Period = "1";
        plan.SearchTemporary = true;
        plan.Dates = DateSelection::All();
        plan.Layout = layout;
        plan.OutputFile = folder.dir() + "out/upload.txt";
        plan.SettingsFile = folder.dir() + "out/KesPrep.ini";
        return plan;
    }

    // The batch program's road: a Preparation, its gathering, the export of
    // every record; an error ends it as the program's general handler would.
    Outcome prepare(const testsupport::TempDir& folder, UploadLayout layout) const {
        Outcome run;
        testsupport::RecordingOperator op;
        try {
            Preparation preparation(planIn(folder, layout), PreparationFrontEnd::Batch);
            if (preparation.Gather(op) == GatherResult::Done) {
                const ExportAllResult written = preparation.ExportAll(op);
                run.prepared = written.Outcome == ExportOutcome::Prepared;
                run.said += written.Failure + "\n";
            }
        } catch (const std::exception& e) {
            run.said += std::string(e.what()) + "\n";
        }
        for (const std::string& message : op.messages)
            run.said += message + "\n";
        for (const std::string& question : op.questions)
            run.said += question + "\n";
        return run;
    }

    testsupport::TempDir template_{"template"};
    std::string settingsText_;
    std::string previousUpload_;
    std::string expectedUpload_;
    std::map<std::string, std::string> codeTables_;
};

TEST_F(PreparationFaults, EveryWritePointFailedOnceLeavesTheRightFileOrTheOldOneAndAClearError) {
    const testsupport::TempDir folder("run");
    Outcome run;
    const faultloop::Figures figures = faultloop::everyPoint(
        Injection::Mode::FailOnce,
        [&](Injection&) {
            copyTemplateTo(folder);
            run = prepare(folder, UploadLayout::Pipe);
        },
        [&](uint64_t n) {
            SCOPED_TRACE("the write point " + std::to_string(n) + " failed; the run said:\n" +
                         run.said);
            const std::string upload = faultloop::bytesOf(folder.dir() + "out/upload.txt");
            if (run.prepared) {
                EXPECT_EQ(upload, expectedUpload_) << "a wrong upload file reported as prepared";
            } else {
                EXPECT_EQ(upload, previousUpload_) << "the previous upload file was not kept";
                EXPECT_TRUE(faultloop::mentionsInjectedFault(run.said))
                    << "the failure is not told";
            }
            EXPECT_EQ(
                faultloop::differences(faultloop::snapshot(folder.dir(), kCodeTables), codeTables_),
                "");
            EXPECT_EQ(faultloop::bytesOf(folder.dir() + "out/KesPrep.ini"), settingsText_);
            EXPECT_EQ(faultloop::temporariesIn(folder.dir()), std::vector<std::string>{});
            std::string historyError;
            ReadHistory(folder.dir(), &historyError);
            EXPECT_EQ(historyError, "");
            // What the failed run left does not stand in the next one's way.
            const Outcome next = prepare(folder, UploadLayout::Pipe);
            EXPECT_TRUE(next.prepared) << next.said;
            EXPECT_EQ(faultloop::bytesOf(folder.dir() + "out/upload.txt"), expectedUpload_);
            return run.prepared;
        });
    figures.print("preparation, each point failed once");
    EXPECT_GT(figures.points, 20u);
}

// The program stopped at each point in turn (as a kill or a power cut would
// stop it, after everything before the point reached the disk): the upload
// file is the previous one or the new one, whole; the code tables and the
// settings file are untouched; and the next run clears what the stopped one
// left and prepares the right file.
TEST_F(PreparationFaults, StoppedAtEveryWritePointTheNextRunPreparesTheRightFile) {
    const testsupport::TempDir folder("run");
    const faultloop::Figures figures = faultloop::everyPoint(
        Injection::Mode::Crash,
        [&](Injection&) {
            copyTemplateTo(folder);
            prepare(folder, UploadLayout::Pipe);
        },
        [&](uint64_t n) {
            SCOPED_TRACE("the program stopped at the write point " + std::to_string(n));
            const std::string upload = faultloop::bytesOf(folder.dir() + "out/upload.txt");
            EXPECT_TRUE(upload == previousUpload_ || upload == expectedUpload_)
                << "the upload file is neither the previous one nor the new one";
            EXPECT_EQ(
                faultloop::differences(faultloop::snapshot(folder.dir(), kCodeTables), codeTables_),
                "");
            EXPECT_EQ(faultloop::bytesOf(folder.dir() + "out/KesPrep.ini"), settingsText_);
            const Outcome next = prepare(folder, UploadLayout::Pipe);
            EXPECT_TRUE(next.prepared) << next.said;
            EXPECT_EQ(faultloop::bytesOf(folder.dir() + "out/upload.txt"), expectedUpload_);
            EXPECT_EQ(faultloop::temporariesIn(folder.dir() + "out"), std::vector<std::string>{});
            return upload == expectedUpload_;
        });
    figures.print("preparation, stopped at each point", "had replaced the upload file",
                  "had left the previous one");
    EXPECT_GT(figures.points, 20u);
}

} // namespace
