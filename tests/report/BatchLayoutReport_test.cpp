// kesprep-batch --layout-report: the report as a PDF file without Qt, for the
// layout and fields of the settings file or of the command line, read back
// with pdftotext.
#include "report_support.h"

#include "support/Files.h"
#include "support/Programs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace reporttest;
namespace fs = std::filesystem;

namespace {

class BatchLayoutReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!havePdfToText()) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    }

    void writeSettings(const std::string& text) { testsupport::writeFile(ini_, text); }

    // `words` are kesprep-batch's options separated by blanks, then the
    // report's file name, which may be empty.
    int run(const std::string& words, const std::string& reportFile) {
        std::vector<std::string> argv{KES_BATCH_PROGRAM, "--ini", ini_};
        std::istringstream in(words);
        for (std::string word; in >> word;)
            argv.push_back(word);
        argv.push_back("--layout-report");
        argv.push_back(reportFile);
        return testsupport::runProgram(argv);
    }

    testsupport::TempDir temp_{"report"};
    std::string dir_ = temp_.dir();
    std::string ini_ = dir_ + "KesPrep.ini";
};

TEST_F(BatchLayoutReportTest, LayoutAndFieldsComeFromTheSettingsFile) {
    // No period and no upload file: the report needs neither.
    writeSettings("[ORVA Export]\r\nFile Format=2\r\nInclude Attempted=1\r\n"
                  "Include Subscores=1\r\nInclude Purpose and Accommodation=1\r\n"
                  "Include Site Code=1\r\n");
    const std::string pdf = dir_ + "layout.pdf";
    ASSERT_EQ(run("", pdf), 0);
    EXPECT_EQ(describe(pdfTextLines(pdf)), describe(commaReportWithEveryField()));
}

TEST_F(BatchLayoutReportTest, OptionsOverrideTheSettings) {
    struct Case {
        const char* settings;
        const char* options;
        std::vector<std::string> fileTypeLine, lastLine;
    };
    const Case cases[] = {
        {"File Format=2\r\nInclude Attempted=1\r\n",
         "--layout fixed --fields subscores,sitecode",
         {"Filetype: Fixed"},
         {"Site Code", "SITECODE", "2", "79-80"}},
        {"File Format=0\r\n",
         "--layout tab --fields none",
         {"Filetype: Tab Delimited"},
         {"Test Date (yyyymmdd)", "DATE", "8", "Character"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        writeSettings(std::string("[ORVA Export]\r\n") + c.settings);
        const std::string pdf = dir_ + "layout.pdf";
        ASSERT_EQ(run(c.options, pdf), 0);
        const PdfLines lines = pdfTextLines(pdf);
        ASSERT_GE(lines.size(), 3u) << describe(lines);
        EXPECT_EQ(lines[0], std::vector<std::string>{"Upload File Format"});
        EXPECT_EQ(lines[1], c.fileTypeLine);
        EXPECT_EQ(lines.back(), c.lastLine);
    }
}

TEST_F(BatchLayoutReportTest, AnUnwritableFileOrARefusedLayoutWritesNothing) {
    writeSettings("");
    EXPECT_EQ(run("", dir_ + "no-such-folder/layout.pdf"), 1);
    EXPECT_FALSE(fs::exists(dir_ + "no-such-folder"));
    EXPECT_EQ(run("", ""), 2);
    // A layout the preparation would refuse is refused here too.
    writeSettings("[ORVA Export]\r\nFile Format=7\r\n");
    EXPECT_EQ(run("", dir_ + "layout.pdf"), 2);
    EXPECT_FALSE(fs::exists(dir_ + "layout.pdf"));
}

// The PDF goes to a temporary name of the run's own: a file or a planted link
// that happens to be called "<report>.tmp" is neither overwritten nor
// followed, and the report replaces an earlier one whole.
TEST_F(BatchLayoutReportTest, TheReportNeverWritesThroughAFixedTemporaryName) {
    writeSettings("[ORVA Export]\r\nFile Format=2\r\n");
    const std::string pdf = dir_ + "layout.pdf";
    const std::string victim = dir_ + "victim.txt";
    testsupport::writeFile(victim, "somebody's file");
    testsupport::writeFile(pdf, "an earlier report");
    // Without the right to make links (Windows) a plain file takes the name.
    std::error_code noLinks;
    fs::create_symlink(victim, pdf + ".tmp", noLinks);
    if (noLinks) testsupport::writeFile(pdf + ".tmp", "somebody's other file");
    ASSERT_EQ(run("", pdf), 0);
    EXPECT_EQ(fs::is_symlink(pdf + ".tmp"), !noLinks);
    EXPECT_FALSE(fs::is_symlink(pdf));
    EXPECT_EQ(testsupport::readFile(victim), "somebody's file");
    const PdfLines lines = pdfTextLines(pdf);
    ASSERT_GE(lines.size(), 2u) << describe(lines);
    EXPECT_EQ(lines[1], std::vector<std::string>{"Filetype: Comma Delimited"});
    // Nothing of the run is left beside the report.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"KesPrep.ini", "layout.pdf", "layout.pdf.tmp",
                                               "victim.txt"}));
}

} // namespace
