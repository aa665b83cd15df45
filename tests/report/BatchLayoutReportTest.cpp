// kesprep-batch --layout-report: the report as a PDF file without Qt, for the
// layout and fields of the settings file or of the command line, read back
// with pdftotext.
#include "tests/report/PdfText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

using namespace reporttest;
namespace fs = std::filesystem;

namespace {

class BatchLayoutReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kes-report-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        ini_ = dir_ + "KesPrep.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeSettings(const std::string& text) { std::ofstream(ini_, std::ios::binary) << text; }

    int run(const std::string& args) {
        const std::string cmd = std::string("'") + KES_BATCH_PROGRAM + "' --ini '" + ini_ + "' " +
                                args + " >'" + dir_ + "out.txt' 2>'" + dir_ + "err.txt'";
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string dir_, ini_;
};

TEST_F(BatchLayoutReportTest, LayoutAndFieldsComeFromTheSettingsFile) {
    // No period and no upload file: the report needs neither.
    writeSettings("[ORVA Export]\r\nFile Format=2\r\nInclude Attempted=1\r\n"
                  "Include Subscores=1\r\nInclude Purpose and Accommodation=1\r\n"
                  "Include Site Code=1\r\n");
    const std::string pdf = dir_ + "layout.pdf";
    ASSERT_EQ(run("--layout-report '" + pdf + "'"), 0);
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
        ASSERT_EQ(run(std::string(c.options) + " --layout-report '" + pdf + "'"), 0);
        const PdfLines lines = pdfTextLines(pdf);
        ASSERT_GE(lines.size(), 3u) << describe(lines);
        EXPECT_EQ(lines[0], std::vector<std::string>{"Upload File Format"});
        EXPECT_EQ(lines[1], c.fileTypeLine);
        EXPECT_EQ(lines.back(), c.lastLine);
    }
}

TEST_F(BatchLayoutReportTest, AnUnwritableFileOrARefusedLayoutWritesNothing) {
    writeSettings("");
    EXPECT_EQ(run("--layout-report '" + dir_ + "no-such-folder/layout.pdf'"), 1);
    EXPECT_FALSE(fs::exists(dir_ + "no-such-folder"));
    EXPECT_EQ(run("--layout-report ''"), 2);
    // A layout the preparation would refuse is refused here too.
    writeSettings("[ORVA Export]\r\nFile Format=7\r\n");
    EXPECT_EQ(run("--layout-report '" + dir_ + "layout.pdf'"), 2);
    EXPECT_FALSE(fs::exists(dir_ + "layout.pdf"));
}

// The PDF goes to a temporary name of the run's own: a file or a planted link
// that happens to be called "<report>.tmp" is neither overwritten nor
// followed, and the report replaces an earlier one whole.
TEST_F(BatchLayoutReportTest, TheReportNeverWritesThroughAFixedTemporaryName) {
    writeSettings("[ORVA Export]\r\nFile Format=2\r\n");
    const std::string pdf = dir_ + "layout.pdf";
    const std::string victim = dir_ + "victim.txt";
    std::ofstream(victim, std::ios::binary) << "somebody's file";
    std::ofstream(pdf, std::ios::binary) << "an earlier report";
    fs::create_symlink(victim, pdf + ".tmp");
    ASSERT_EQ(run("--layout-report '" + pdf + "'"), 0);
    EXPECT_TRUE(fs::is_symlink(pdf + ".tmp"));
    EXPECT_FALSE(fs::is_symlink(pdf));
    std::ifstream kept(victim, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "somebody's file");
    const PdfLines lines = pdfTextLines(pdf);
    ASSERT_GE(lines.size(), 2u) << describe(lines);
    EXPECT_EQ(lines[1], std::vector<std::string>{"Filetype: Comma Delimited"});
    // Nothing of the run is left beside the report.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"KesPrep.ini", "err.txt", "layout.pdf",
                                               "layout.pdf.tmp", "out.txt", "victim.txt"}));
}

} // namespace
