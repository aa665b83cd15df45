// The settings dialog's work on the code tables through settings/core, with
// each point where it changes the disk failing in turn, and stopped at each:
// a session backs the tables up, rebuilds KESPLACE from a period, edits rows
// of both tables (a ticked code, a new code, a code changed), deletes a row,
// and ends with OK (the settings file written) or Cancel. Failed once, a run
// ends as planned or with an error that says what failed, after which the
// operator cancels; stopped, the next start (a preparation or a session)
// finds the session's mark. Either way the code tables are afterwards, byte
// for byte, as before the session or as the finished session left them, and
// the settings file is the old one or the new one. And an edited row is on
// the disk, with its index, before its edit returns.
#include "faults_support.h"

#include "app/core/Preparation.h"
#include "app/core/Settings.h"
#include "common/Clock.h"
#include "data/AdsTable.h"
#include "settings/core/CodeTableBackup.h"
#include "settings/core/CodeTables.h"
#include "support/RecordingOperator.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using faultloop::Injection;

const std::vector<std::string> kCodeTables = {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF",
                                              "KESTEST.cdx"};

enum class Ending { Ok, Cancel };

// The data folder the settings file names: the same text in every run's folder.
constexpr const char* kDataDirSetting = "D:\\ORVA\\";

// A settings file the dialog's OK was writing: the group writes key after
// key, each by replacing the whole file, and stops at a key that fails, so
// the file may hold some new values and some old (as its Part allows), but
// every line of it is a line of the old file or of the new one, whole.
bool wholeLinesOf(const std::string& file, const std::string& old, const std::string& fresh) {
    auto lines = [](const std::string& text) {
        std::vector<std::string> out;
        size_t from = 0;
        for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
            out.push_back(text.substr(from, end - from));
        if (from < text.size()) out.push_back(text.substr(from));
        return out;
    };
    const std::vector<std::string> known = [&] {
        std::vector<std::string> both = lines(old);
        for (const std::string& line : lines(fresh))
            both.push_back(line);
        return both;
    }();
    for (const std::string& line : lines(file))
        if (std::find(known.begin(), known.end(), line) == known.end()) return false;
    return !file.empty() && file.back() == '\n';
}

// Which of two states the tables are in: "before", "after", or what differs.
std::string stateOf(const std::map<std::string, std::string>& tables,
                    const std::map<std::string, std::string>& before,
                    const std::map<std::string, std::string>& after) {
    if (tables == before) return "before";
    if (tables == after) return "after";
    return "neither: from before" + faultloop::differences(tables, before) + "; from after" +
           faultloop::differences(tables, after);
}

// What a session did: whether it ended as planned, and what it said.
struct Outcome {
    bool completed = false;
    std::string said;
};

class TestOperator : public testsupport::RecordingOperator {
  public:
    TestOperator() { confirmAnswer = true; } // Yes to the rebuild's question
};

// One edit of the grid: the row at `position` in code order gets new values.
void editRow(TAdsTable& table, int position, const char* field, const std::string& value) {
    table.First();
    table.MoveBy(position);
    table.Edit();
    table.FieldByName(field).SetAsString(value);
    table.Post();
}

class CodeTableFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        kes::Clock::instance().setSource([] { return kes::LocalTime{2004, 6, 15, 2, 0, 5, 0}; });
        template_.copyFolder("virn-sample");
        for (const std::string& name : kCodeTables)
            template_.copy("formats/cdx/" + name, name);
        settingsText_ = "[Directories]\nORVA Path=" + std::string(kDataDirSetting) + "\n";
        ASSERT_TRUE(
            kes::os::writeFileReplacing(template_.dir() + "KesPrep.ini", settingsText_).ok());
        before_ = faultloop::snapshot(template_.dir(), kCodeTables);

        const testsupport::TempDir clean("clean");
        copyTemplateTo(clean);
        const Outcome outcome = session(clean, Ending::Ok);
        ASSERT_TRUE(outcome.completed) << outcome.said;
        after_ = faultloop::snapshot(clean.dir(), kCodeTables);
        newSettings_ = faultloop::bytesOf(clean.dir() + "KesPrep.ini");
        ASSERT_NE(after_, before_);
        ASSERT_NE(newSettings_, settingsText_);
    }
    void TearDown() override { kes::Clock::instance().setSource({}); }

    void copyTemplateTo(const testsupport::TempDir& to) const {
        fs::remove_all(to.path());
        fs::copy(template_.path(), to.path(), fs::copy_options::recursive);
    }

    // The dialog's work, as its window does it through settings/core. An
    // error ends the step; the operator then presses Cancel.
    static Outcome session(const testsupport::TempDir& folder, Ending ending) {
        Outcome outcome;
        const std::string dir = folder.dir();
        TestOperator op;
        CodeTableSession codeTables(dir);
        if (!codeTables.editable()) {
            outcome.said = codeTables.refusal();
            return outcome;
        }
        TAdsTable placement, test;
        bool confirmed = false; // the dialog closed with OK: no Cancel after that
        try {
            if (!OpenCodeTable(placement, CodeTableKind::Placement, dir, op))
                throw std::runtime_error("gave up on KESPLACE");
            if (RebuildCodeTable(placement, CodeTableKind::Placement, dir, 1, op) !=
                RebuildResult::Rebuilt)
                throw std::runtime_error("KESPLACE was not rebuilt");
            editRow(placement, 1, "Include", "T");
            editRow(placement, 2, "NewCode", "ZZ9");
            editRow(placement, 0, "Code", "AAAA"); // the key: the index changes
            if (!OpenCodeTable(test, CodeTableKind::TestScore, dir, op))
                throw std::runtime_error("gave up on KESTEST");
            editRow(test, 3, "Include", "F");
            test.First();
            test.MoveBy(1);
            if (!DeleteCodeRow(test, CodeTableKind::TestScore, dir, op))
                throw std::runtime_error("gave up on KESTEST");
            if (ending == Ending::Ok) {
                // The dialog closes: its tables with it, then its session.
                confirmed = true;
                placement.Close();
                test.Close();
                const std::string notKept = codeTables.keep();
                if (!notKept.empty()) outcome.said += notKept + "\n"; // told; the dialog goes on
                SaveDialogSettings(dir + "KesPrep.ini", kDataDirSetting, RecordKinds{}, 2,
                                   OptionalFields{});
            }
        } catch (const std::exception& e) {
            outcome.said += std::string(e.what()) + "\n";
        }
        for (const std::string& message : op.messages)
            if (message.rfind("confirm: ", 0) != 0) outcome.said += message + "\n";
        for (const std::string& question : op.questions)
            outcome.said += question + "\n";
        outcome.completed = outcome.said.empty();
        const bool cancel = !confirmed;
        if (cancel) {
            placement.Cancel();
            test.Cancel();
            try {
                placement.Close();
            } catch (const std::exception& e) {
                outcome.said += std::string(e.what()) + "\n";
            }
            try {
                test.Close();
            } catch (const std::exception& e) {
                outcome.said += std::string(e.what()) + "\n";
            }
            for (const std::string& problem : codeTables.restore())
                outcome.said += problem + "\n";
        }
        return outcome;
    }

    // The upload file a preparation (as kesprep-batch runs it) writes from
    // the folder's tables; "" when it failed.
    static std::string prepare(const testsupport::TempDir& folder) {
        PreparationPlan plan;
        plan.DataDir = folder.dir();
        plan.Period = "1";
        plan.Dates = DateSelection::All();
        plan.Layout = UploadLayout::Pipe;
        plan.OutputFile = folder.dir() + "upload.txt";
        plan.SettingsFile = folder.dir() + "KesPrep.ini";
        fs::remove(plan.OutputFile);
        testsupport::RecordingOperator op;
        try {
            Preparation preparation(plan, PreparationFrontEnd::Batch);
            if (preparation.Gather(op) != GatherResult::Done) return "";
            if (preparation.ExportAll(op).Outcome != ExportOutcome::Prepared) return "";
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            return "";
        }
        return faultloop::bytesOf(plan.OutputFile);
    }

    testsupport::TempDir template_{"template"};
    std::string settingsText_;
    std::string newSettings_;
    std::map<std::string, std::string> before_;
    std::map<std::string, std::string> after_;
};

TEST_F(CodeTableFaults, EveryWritePointOfASessionFailedOnceLeavesTheTablesBeforeOrAfterIt) {
    const testsupport::TempDir folder("run");
    for (Ending ending : {Ending::Ok, Ending::Cancel}) {
        const char* name = ending == Ending::Ok ? "OK" : "Cancel";
        Outcome outcome;
        const faultloop::Figures figures = faultloop::everyPoint(
            Injection::Mode::FailOnce,
            [&](Injection&) {
                copyTemplateTo(folder);
                outcome = session(folder, ending);
            },
            [&](uint64_t n) {
                SCOPED_TRACE(std::string("a session ended with ") + name + ", the write point " +
                             std::to_string(n) + " failed; it said:\n" + outcome.said);
                // The settings file's own message is the one its Part gives:
                // "Unable to write to" and the file.
                if (!outcome.completed) {
                    EXPECT_TRUE(faultloop::mentionsInjectedFault(outcome.said) ||
                                outcome.said.find("Unable to write to " + folder.dir() +
                                                  "KesPrep.ini") != std::string::npos)
                        << "the failure is not told";
                }
                // What a failed restore left, the next start puts back.
                const UnendedSession unended = PutBackUnendedSession(folder.dir());
                EXPECT_TRUE(unended.problems.empty()) << unended.problems.front();
                const std::string state =
                    stateOf(faultloop::snapshot(folder.dir(), kCodeTables), before_, after_);
                const std::string settings = faultloop::bytesOf(folder.dir() + "KesPrep.ini");
                if (outcome.completed) {
                    EXPECT_EQ(state, ending == Ending::Ok ? "after" : "before")
                        << "a session ended as planned with other tables";
                    EXPECT_EQ(settings, ending == Ending::Ok ? newSettings_ : settingsText_);
                } else {
                    EXPECT_TRUE(state == "before" || state == "after") << state;
                    EXPECT_TRUE(wholeLinesOf(settings, settingsText_, newSettings_)) << settings;
                }
                EXPECT_EQ(faultloop::bytesOf(folder.dir() + kSessionMark), "<missing>");
                EXPECT_EQ(faultloop::temporariesIn(folder.dir()), std::vector<std::string>{});
                return outcome.completed;
            });
        figures.print(std::string("code-table session ending with ") + name +
                      ", each point failed once");
        EXPECT_GT(figures.points, 30u);
    }
}

// The next start after the stop is the next preparation (for a session
// that was to end with OK) or the next settings session (for one that was
// to end with Cancel). The preparation writes the upload file of the tables
// as before the session or as after it, never of a table half rebuilt; the
// session opens editable and tells of the tables it put back.
TEST_F(CodeTableFaults, StoppedAtEveryWritePointOfASessionTheNextStartPutsTheTablesBack) {
    const testsupport::TempDir folder("run");
    std::map<std::string, std::string> uploadOf; // by the tables' state
    {
        uploadOf["before"] = prepare(template_);
        const testsupport::TempDir clean("clean");
        copyTemplateTo(clean);
        ASSERT_TRUE(session(clean, Ending::Ok).completed);
        uploadOf["after"] = prepare(clean);
        ASSERT_NE(uploadOf["before"], uploadOf["after"]) << "the session changes no upload";
    }
    for (Ending ending : {Ending::Ok, Ending::Cancel}) {
        const char* name = ending == Ending::Ok ? "OK" : "Cancel";
        const faultloop::Figures figures = faultloop::everyPoint(
            Injection::Mode::Crash,
            [&](Injection&) {
                copyTemplateTo(folder);
                session(folder, ending);
            },
            [&](uint64_t n) {
                SCOPED_TRACE(std::string("a session to end with ") + name +
                             " stopped at the write point " + std::to_string(n));
                const bool marked = faultloop::bytesOf(folder.dir() + kSessionMark) != "<missing>";
                std::string state;
                if (ending == Ending::Ok) {
                    const std::string upload = prepare(folder);
                    state =
                        stateOf(faultloop::snapshot(folder.dir(), kCodeTables), before_, after_);
                    EXPECT_TRUE(state == "before" || state == "after") << state;
                    EXPECT_EQ(upload, uploadOf[state]) << "the upload file of other code tables";
                } else {
                    CodeTableSession next(folder.dir());
                    EXPECT_TRUE(next.editable()) << next.refusal();
                    EXPECT_EQ(next.notice().empty(), !marked);
                    state =
                        stateOf(faultloop::snapshot(folder.dir(), kCodeTables), before_, after_);
                    EXPECT_EQ(state, "before");
                    EXPECT_TRUE(next.restore().empty());
                }
                EXPECT_EQ(faultloop::bytesOf(folder.dir() + kSessionMark), "<missing>");
                const std::string settings = faultloop::bytesOf(folder.dir() + "KesPrep.ini");
                EXPECT_TRUE(wholeLinesOf(settings, settingsText_, newSettings_)) << settings;
                if (settings == newSettings_) {
                    EXPECT_EQ(state, "after");
                }
                return state == "after";
            });
        figures.print(std::string("code-table session ending with ") + name +
                          ", stopped at each point",
                      "had kept the session's tables", "had the tables of before it");
        EXPECT_GT(figures.points, 30u);
    }
}

// The session is confirmed (its mark removed) only once every file it
// changed is flushed to the disk after its last write: a power cut right
// after the OK loses nothing that the OK confirmed.
TEST_F(CodeTableFaults, TheSessionIsConfirmedOnlyOnceEveryChangeIsOnTheDisk) {
    const testsupport::TempDir folder("run");
    copyTemplateTo(folder);
    std::vector<Injection::Visit> visits;
    {
        Injection watching;
        ASSERT_TRUE(session(folder, Ending::Ok).completed);
        visits = watching.visits();
    }
    std::map<std::string, bool> unflushed;
    bool confirmed = false;
    for (const Injection::Visit& v : visits) {
        if (v.point == kes::os::WritePoint::Write || v.point == kes::os::WritePoint::SetLength)
            unflushed[v.path] = true;
        if (v.point == kes::os::WritePoint::Flush) unflushed[v.path] = false;
        if (v.point == kes::os::WritePoint::Remove &&
            v.path.find(kSessionMark) != std::string::npos) {
            confirmed = true;
            for (const auto& [path, pending] : unflushed)
                EXPECT_FALSE(pending) << path << " was not flushed when the session was confirmed";
        }
    }
    EXPECT_TRUE(confirmed);
    EXPECT_GT(unflushed.size(), 4u);
}

// An edited row is on the disk before Post returns: the table's records
// flushed after their last write, the index (when the key changed) written
// whole, flushed and renamed into place; another open reads the edit.
TEST_F(CodeTableFaults, AnEditedRowIsOnTheDiskWithItsIndexBeforeItsPostReturns) {
    const std::string dir = template_.dir();
    TestOperator op;
    TAdsTable table;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, dir, op));
    struct Case {
        const char* field;
        const char* value;
        bool keyChanges;
        const char* reads; // what the field reads afterwards
    } cases[] = {{"NewCode", "QQ1", false, "QQ1"},
                 {"Include", "T", false, "True"},
                 {"Code", "0000", true, "0000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        std::vector<Injection::Visit> visits;
        {
            Injection watching;
            editRow(table, 2, c.field, c.value);
            visits = watching.visits();
        }
        const std::string dbf = table.File().path();
        // Every file written is flushed after its last write; the index
        // arrives whole, by a rename.
        std::map<std::string, bool> unflushed;
        bool indexRenamed = false;
        for (const Injection::Visit& v : visits) {
            if (v.point == kes::os::WritePoint::Write || v.point == kes::os::WritePoint::SetLength)
                unflushed[v.path] = true;
            if (v.point == kes::os::WritePoint::Flush) unflushed[v.path] = false;
            if (v.point == kes::os::WritePoint::Rename &&
                v.path.find("KESPLACE.cdx") != std::string::npos)
                indexRenamed = true;
        }
        EXPECT_TRUE(unflushed.count(dbf)) << "the row was not written";
        for (const auto& [path, pending] : unflushed)
            EXPECT_FALSE(pending) << path << " is not flushed";
        EXPECT_EQ(indexRenamed, c.keyChanges);
        // Another open reads the edit from the file.
        TAdsTable other;
        other.DatabaseName = dir;
        other.TableType = ttAdsCDX;
        other.SetTableName("KESPLACE");
        other.Open();
        other.GotoBookmark(table.GetBookmark());
        EXPECT_EQ(other.FieldByName(c.field).AsString(), c.reads);
    }
}

} // namespace
