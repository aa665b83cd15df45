// The operator of kesprep-batch: status and outcome lines on standard output,
// errors on standard error, a progress bar only on a terminal, and questions
// that nobody is there to answer reported and answered Cancel.
#include "app/core/TerminalOperator.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(TerminalOperatorTest, LinesWithoutATerminal) {
    std::ostringstream out, err;
    TerminalOperator op(out, err, false);
    op.ShowStatus("Adding Placement Records");
    op.SetProgressRange(0, 10);
    op.SetProgress(5); // no bar in a file
    op.ShowStatus("");
    op.ShowInformation("Export File has been successfully prepared.");
    op.ShowError("Export File has been not prepared.");
    EXPECT_EQ(out.str(), "Adding Placement Records\nExport File has been successfully prepared.\n");
    EXPECT_EQ(err.str(), "Export File has been not prepared.\n");
    EXPECT_EQ(op.CreateExportProgress(), nullptr);
}

TEST(TerminalOperatorTest, QuestionsAreReportedAndAnsweredCancel) {
    std::ostringstream out, err;
    TerminalOperator op(out, err, false);
    EXPECT_FALSE(op.AskRetry("Unable to open Table: /d/VIRNTP1/Place.CDX.\r\nOK to retry?"));
    op.ShowCancelled("Cancelled.  The program will be terminated.");
    EXPECT_FALSE(op.Confirm("Replace the code tables?\r\nAll rows go."));
    EXPECT_EQ(err.str(), "Unable to open Table: /d/VIRNTP1/Place.CDX.\n"
                         "Replace the code tables? All rows go. (no one to answer: Cancel)\n");
    EXPECT_EQ(out.str(), "");
}

TEST(TerminalOperatorTest, BarRedrawsInPlaceAndIsClearedBeforeTheNextLine) {
    std::ostringstream out, err;
    TerminalOperator op(out, err, true);
    op.SetProgressRange(0, 4);
    op.SetProgress(1);
    op.SetProgress(1); // the same percentage is not drawn again
    op.SetProgress(4);
    op.ShowStatus("Processing...");
    const std::string text = out.str();
    EXPECT_EQ(text.find("\r[##########"), 0u) << text;
    EXPECT_NE(text.find("] 25%"), std::string::npos);
    EXPECT_EQ(text.find("] 25%", text.find("] 25%") + 1), std::string::npos);
    EXPECT_NE(text.find("] 100%"), std::string::npos);
    // The status line starts at the left edge, after the bar was blanked.
    EXPECT_NE(text.find("\rProcessing...\n"), std::string::npos) << text;

    // The upload file's progress is one line, blanked when the window goes.
    std::ostringstream exportOut, exportErr;
    TerminalOperator exporting(exportOut, exportErr, true);
    {
        auto progress = exporting.CreateExportProgress();
        ASSERT_NE(progress, nullptr);
        progress->Initialize(pmExport, pbRecords, "upload.asc", 200, 0);
        progress->Show();
        progress->UpdateProgress(50, 4096);
    }
    const std::string lines = exportOut.str();
    EXPECT_NE(lines.find("\rWriting: 50 of 200 records 25%"), std::string::npos) << lines;
    EXPECT_EQ(lines.back(), '\r');
}

} // namespace
