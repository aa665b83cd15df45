// The preparation history file: its lines as a spreadsheet reads them, the
// entries it gives back, a line a killed append left behind, the trimming to
// the newest entries, and which failure the main window tells of.
#include "app/core/PreparationHistory.h"

#include "os/Os.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using testsupport::readFile;
using testsupport::writeFile;

HistoryEntry entry(const std::string& started, HistoryOutcome outcome = HistoryOutcome::Prepared,
                   PreparationFrontEnd frontEnd = PreparationFrontEnd::Batch) {
    HistoryEntry e;
    e.Started = started;
    e.Ended = started;
    e.FrontEnd = FrontEndName(frontEnd);
    e.User = "jdoe";
    e.Period = "1";
    e.Set = "Temporary";
    e.Layout = "Fixed Format";
    e.Rows = "62";
    e.UploadFile = "/data/upload.asc";
    e.Outcome = outcome;
    if (outcome == HistoryOutcome::Prepared) {
        e.Size = "5518";
        e.Sha256 = std::string(64, 'a');
    } else {
        e.Rows = "0";
        e.Reason = "Unable to create /data/upload.asc";
    }
    return e;
}

const std::string kBom = "\xEF\xBB\xBF";
const std::string kHeader = "Started,Ended,Front End,User,Period,Set,Begin Date,End Date,Layout,"
                            "Optional Fields,Rows,Upload File,Size,SHA-256,Outcome,Reason";

class HistoryFileTest : public ::testing::Test {
  protected:
    std::string file() const { return dir_.dir() + kHistoryFileName; }
    void append(const HistoryEntry& e) { ASSERT_EQ(AppendHistoryEntry(dir_.dir(), e), ""); }
    std::vector<HistoryEntry> read() const {
        std::string error;
        auto entries = ReadHistory(dir_.dir(), &error);
        EXPECT_EQ(error, "");
        return entries;
    }
    // A history of `count` entries, written as the program writes them.
    void writeHistory(size_t count) const {
        std::string text = kBom + kHeader + "\r\n";
        for (size_t i = 0; i < count; ++i)
            text += HistoryLine(entry(timeOf(i))) + "\r\n";
        writeFile(file(), text);
    }
    static std::string timeOf(size_t i) {
        kes::LocalTime t{2004, 6, 1, 0, 0, 0, 0};
        t.day += static_cast<int>(i / 1440);
        t.hour = static_cast<int>(i / 60 % 24);
        t.minute = static_cast<int>(i % 60);
        return HistoryTime(t);
    }

    testsupport::TempDir dir_;
};

// Every value comes back as it went in, whatever it holds; a line break or
// tab inside a value becomes a blank, so that an entry stays one line.
TEST(HistoryLine, ValuesComeBackAsTheyWentIn) {
    const struct Case {
        const char* what;
        std::string value;
        std::string back;
    } cases[] = {
        {"plain", "Unable to create /data/upload.asc", "Unable to create /data/upload.asc"},
        {"a comma", "C:\\VIRN\\a,b.asc", "C:\\VIRN\\a,b.asc"},
        {"quotes", "the \"upload\" file", "the \"upload\" file"},
        {"a leading and a trailing blank", " x ", " x "},
        {"a line break", "Export File has been not prepared.\r\nUnable to create x",
         "Export File has been not prepared.  Unable to create x"},
        {"a tab", "a\tb", "a b"},
        {"UTF-8", "D:\\Données\\envoi.asc", "D:\\Données\\envoi.asc"},
        {"nothing", "", ""},
        {"a lone quote", "\"", "\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HistoryEntry e = entry("2004-06-15 10:30:00", HistoryOutcome::NotPrepared);
        e.Reason = c.value;
        e.UploadFile = c.value;
        e.User = c.value;
        const std::string line = HistoryLine(e);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        const auto back = ParseHistoryLine(line);
        ASSERT_TRUE(back.has_value()) << line;
        EXPECT_EQ(back->Reason, c.back);
        EXPECT_EQ(back->UploadFile, c.back);
        EXPECT_EQ(back->User, c.back);
        e.Reason = e.UploadFile = e.User = c.back;
        EXPECT_EQ(*back, e);
    }
}

TEST(HistoryLine, EveryOutcomeAndFrontEndHasItsName) {
    EXPECT_STREQ(OutcomeName(HistoryOutcome::Prepared), "Prepared");
    EXPECT_STREQ(OutcomeName(HistoryOutcome::PreparedWithWarnings), "Prepared with warnings");
    EXPECT_STREQ(OutcomeName(HistoryOutcome::NotPrepared), "Not prepared");
    EXPECT_STREQ(FrontEndName(PreparationFrontEnd::FindAndExport), "Find and Export");
    EXPECT_STREQ(FrontEndName(PreparationFrontEnd::PrepareExportFile), "Prepare Export File");
    EXPECT_STREQ(FrontEndName(PreparationFrontEnd::TimedRun), "Timed Run");
    EXPECT_STREQ(FrontEndName(PreparationFrontEnd::Batch), "kesprep-batch");
    for (HistoryOutcome o : {HistoryOutcome::Prepared, HistoryOutcome::PreparedWithWarnings,
                             HistoryOutcome::NotPrepared}) {
        HistoryEntry e = entry("2004-06-15 10:30:00", o);
        EXPECT_EQ(ParseHistoryLine(HistoryLine(e))->Outcome, o);
    }
    EXPECT_EQ(HistoryTime({2004, 6, 5, 7, 8, 9, 999}), "2004-06-05 07:08:09");
}

TEST(HistoryLine, WhatIsNoEntryIsNoEntry) {
    const std::string good = HistoryLine(entry("2004-06-15 10:30:00"));
    ASSERT_TRUE(ParseHistoryLine(good).has_value());
    for (const std::string& line :
         {kHeader, std::string(), good + ",extra", good.substr(0, good.rfind(',')),
          good.substr(0, good.find("Prepared")) + "Done,", "\"unclosed," + good}) {
        EXPECT_FALSE(ParseHistoryLine(line).has_value()) << line;
    }
}

TEST(HistoryLine, AnEndlessReasonIsCut) {
    HistoryEntry e = entry("2004-06-15 10:30:00", HistoryOutcome::NotPrepared);
    e.Reason = std::string(kHistoryReasonLimit - 1, 'x') + "é and more";
    const auto back = ParseHistoryLine(HistoryLine(e));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Reason, std::string(kHistoryReasonLimit - 1, 'x')) << "not half a character";
}

TEST_F(HistoryFileTest, EntriesAreAppendedAfterAHeaderOneLineEach) {
    EXPECT_TRUE(read().empty()) << "no file, no history";
    const std::vector<HistoryEntry> written = {
        entry("2004-06-15 02:00:00", HistoryOutcome::NotPrepared, PreparationFrontEnd::TimedRun),
        entry("2004-06-15 10:30:00", HistoryOutcome::Prepared, PreparationFrontEnd::FindAndExport),
        entry("2004-06-16 02:00:00", HistoryOutcome::PreparedWithWarnings)};
    for (const HistoryEntry& e : written)
        append(e);
    EXPECT_EQ(read(), written);
    std::string expected = kBom + kHeader + "\r\n";
    for (const HistoryEntry& e : written)
        expected += HistoryLine(e) + "\r\n";
    EXPECT_EQ(readFile(file()), expected);
}

// A spreadsheet's reader (Python's csv module, as Excel and LibreOffice read
// the format) finds the header and one row of sixteen values per entry.
TEST_F(HistoryFileTest, ASpreadsheetReaderReadsItAsItIs) {
#ifdef _WIN32
    GTEST_SKIP() << "no Python beside the Windows build";
#else
    if (kes::os::fileKind("/usr/bin/python3") != kes::os::FileKind::Regular)
        GTEST_SKIP() << "no /usr/bin/python3";
    HistoryEntry awkward = entry("2004-06-15 10:30:00", HistoryOutcome::NotPrepared);
    awkward.UploadFile = "/data/Données, \"neu\"/upload.asc";
    awkward.Reason = "Export File has been not prepared.\r\nUnable to create x";
    append(entry("2004-06-15 02:00:00"));
    append(awkward);
    const std::string script = dir_.dir() + "read.py";
    writeFile(script,
              "import csv, sys\n"
              "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8-sig', newline='')))\n"
              "print(len(rows), set(len(r) for r in rows))\n"
              "print(rows[0][0], rows[0][13], rows[0][15])\n"
              "print(rows[2][11])\n"
              "print(rows[2][14], '|', rows[2][15])\n");
    kes::os::RunOptions options;
    options.stdoutFile = dir_.dir() + "out.txt";
    ASSERT_EQ(kes::os::runProgram({"/usr/bin/python3", script, file()}, options), 0);
    EXPECT_EQ(readFile(options.stdoutFile),
              "3 {16}\n"
              "Started SHA-256 Reason\n"
              "/data/Données, \"neu\"/upload.asc\n"
              "Not prepared | Export File has been not prepared.  Unable to create x\n");
#endif
}

// A program killed in the middle of an append leaves a line without its end:
// readers ignore it, and the next append cuts it off before it writes.
TEST_F(HistoryFileTest, ALineAKilledAppendLeftIsIgnoredAndCleanedAway) {
    const HistoryEntry first = entry("2004-06-15 02:00:00");
    const HistoryEntry second = entry("2004-06-15 10:30:00", HistoryOutcome::NotPrepared);
    const HistoryEntry third = entry("2004-06-16 02:00:00");
    append(first);
    append(second);
    const std::string whole = readFile(file());
    const std::string line = HistoryLine(third) + "\r\n";
    // The killed append wrote an entry longer than the next one.
    HistoryEntry longer = second;
    longer.Reason += std::string(line.size(), 'x');
    const std::string torn = HistoryLine(longer) + "\r\n";
    for (size_t cut : {size_t(1), line.size() / 2, torn.size() - 1}) {
        SCOPED_TRACE(cut);
        writeFile(file(), whole + torn.substr(0, cut));
        EXPECT_EQ(read(), (std::vector<HistoryEntry>{first, second}));
        append(third);
        EXPECT_EQ(readFile(file()), whole + line);
    }

    // Only a piece of the header: the file starts again.
    writeFile(file(), kBom + kHeader.substr(0, 20));
    EXPECT_TRUE(read().empty());
    append(third);
    EXPECT_EQ(readFile(file()), kBom + kHeader + "\r\n" + line);
}

// Past kHistoryTrimAt entries the file keeps the newest kHistoryKeep; it is
// written anew through the replace routine and nothing else is left beside it.
TEST_F(HistoryFileTest, ALongHistoryKeepsItsNewestEntries) {
    writeHistory(kHistoryTrimAt - 1);
    append(entry("2010-01-01 00:00:00"));
    EXPECT_EQ(read().size(), kHistoryTrimAt) << "not trimmed before it is due";

    const HistoryEntry newest = entry("2010-01-02 00:00:00", HistoryOutcome::NotPrepared);
    append(newest);
    const std::vector<HistoryEntry> kept = read();
    ASSERT_EQ(kept.size(), kHistoryKeep);
    EXPECT_EQ(kept.back(), newest);
    EXPECT_EQ(kept[kHistoryKeep - 2].Started, "2010-01-01 00:00:00");
    EXPECT_EQ(kept.front().Started, timeOf(kHistoryTrimAt - kHistoryKeep + 1));
    EXPECT_EQ(readFile(file()).substr(0, kBom.size() + kHeader.size() + 2),
              kBom + kHeader + "\r\n");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{kHistoryFileName});

    append(entry("2010-01-03 00:00:00"));
    EXPECT_EQ(read().size(), kHistoryKeep + 1) << "appended again, not trimmed again";
}

TEST_F(HistoryFileTest, AFolderThatCannotTakeTheFileIsReportedNotThrown) {
    const std::string missing = dir_.dir() + "missing/";
    std::string problem;
    EXPECT_NO_THROW(problem = AppendHistoryEntry(missing, entry("2004-06-15 02:00:00")));
    EXPECT_NE(problem.find(missing), std::string::npos) << problem;
    EXPECT_TRUE(ReadHistory(missing).empty());
}

// The main window tells of the newest timed or kesprep-batch run ended since
// the history was last seen, when that run failed; the runs at the window
// (Find and Export, Prepare Export File) were seen by the person who made them.
TEST(MissedFailure, TheNewestUnattendedRunSinceLastSeenWhenItFailed) {
    using O = HistoryOutcome;
    using F = PreparationFrontEnd;
    const HistoryEntry timedFailed = entry("2004-06-15 02:00:00", O::NotPrepared, F::TimedRun);
    const HistoryEntry batchFailed = entry("2004-06-15 03:00:00", O::NotPrepared, F::Batch);
    const HistoryEntry batchDone = entry("2004-06-15 04:00:00", O::Prepared, F::Batch);
    const HistoryEntry batchWarned =
        entry("2004-06-15 04:00:00", O::PreparedWithWarnings, F::Batch);
    const HistoryEntry findFailed = entry("2004-06-15 09:00:00", O::NotPrepared, F::FindAndExport);
    const HistoryEntry nowFailed =
        entry("2004-06-15 09:30:00", O::NotPrepared, F::PrepareExportFile);
    const struct Case {
        const char* what;
        std::vector<HistoryEntry> history;
        std::string lastSeen;
        std::optional<HistoryEntry> expected;
    } cases[] = {
        {"no history", {}, "", std::nullopt},
        {"a failed timed run, never seen", {timedFailed}, "", timedFailed},
        {"seen after it ended", {timedFailed}, "2004-06-15 02:00:00", std::nullopt},
        {"seen before it ended", {timedFailed}, "2004-06-15 01:59:59", timedFailed},
        {"the newest of two failures", {timedFailed, batchFailed}, "", batchFailed},
        {"a success came after", {timedFailed, batchDone}, "", std::nullopt},
        {"warnings are no failure", {timedFailed, batchWarned}, "", std::nullopt},
        {"runs at the window do not count", {timedFailed, findFailed, nowFailed}, "", timedFailed},
        {"only runs at the window", {findFailed, nowFailed}, "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MissedFailure(c.history, c.lastSeen), c.expected);
    }
}

} // namespace
