// The code tables and a preparation in another process: a preparation looks
// codes up in KESPLACE and KESTEST throughout its gathering, so no rewrite of
// them may run beside it, and none may start while a rewrite runs.
#include "settings/core/CodeTableBackup.h"

#include "common/Paths.h"
#include "common/PreparationLock.h"
#include "os/Os.h"
#include "settings_core_support.h"
#include "support/OtherPreparation.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using namespace codetest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

std::string busyText(const std::string& dir) {
    return "The code tables cannot be changed while a preparation is running on the data "
           "folder " +
           dir + ". Try again when it has finished.";
}

// Every file of the folder with its bytes, the lock file aside.
std::map<std::string, std::string> filesOf(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename() != PreparationLock::kFileName)
            files[entry.path().filename().string()] = readFile(entry.path().string());
    return files;
}

// Another preparation on the folder, as another process.
class OtherPreparation : public testsupport::OtherPreparation {
  public:
    explicit OtherPreparation(const std::string& dataDir)
        : testsupport::OtherPreparation(KES_LOCK_HOLDER, dataDir) {}
};

// Whether a preparation in another process can take the folder now: 0 when
// it could (and let go at once), 1 when it was refused.
int preparationStarts(const std::string& dataDir, std::string* refusal = nullptr) {
    TempDir files("probe");
    writeFile(files.file("release"), "");
    kes::os::RunOptions options;
    options.stderrFile = files.file("err");
    const int exit = kes::os::runProgram(
        {KES_LOCK_HOLDER, dataDir, files.file("held"), files.file("release")}, options);
    if (refusal) *refusal = readFile(files.file("err"));
    return exit;
}

// While another process prepares from the folder, every operation that
// writes a code table is refused before it writes anything: no file of the
// folder changes, no question is asked, and an open table stays open.
TEST(CodeTablesBesideAPreparation, EveryRewriteIsRefusedAndChangesNothing) {
    struct Scene {
        DataDir data;
        TAdsTable table; // KESPLACE, open, every row ticked since the backup
        TestOperator prompt;
        CodeTableBackup backup;
    };
    struct Case {
        const char* what;
        std::function<void(Scene&)> act;
    } cases[] = {
        {"backup", [](Scene& s) { BackUpCodeTables(s.data.dir()); }},
        {"restore after a Cancel", [](Scene& s) { RestoreCodeTables(s.backup); }},
        {"rebuild of a table with rows",
         [](Scene& s) {
             RebuildCodeTable(s.table, CodeTableKind::Placement, s.data.dir(), 1, s.prompt);
         }},
        {"fill",
         [](Scene& s) {
             FillCodeTable(s.table, CodeTableKind::Placement, s.data.dir(), 1, s.prompt);
         }},
        {"creation of a missing table",
         [](Scene& s) {
             TAdsTable test;
             OpenCodeTable(test, CodeTableKind::TestScore, s.data.dir(), s.prompt);
         }},
        {"Select All", [](Scene& s) { SetIncludeOnEveryRow(s.table, false); }},
        {"row deletion",
         [](Scene& s) {
             DeleteCodeRow(s.table, CodeTableKind::Placement, s.data.dir(), s.prompt);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene s;
        s.data.addCodeTables();
        fs::remove(s.data.file("KESTEST.DBF"));
        fs::remove(s.data.file("KESTEST.cdx"));
        s.backup = BackUpCodeTables(s.data.dir());
        ASSERT_TRUE(OpenCodeTable(s.table, CodeTableKind::Placement, s.data.dir(), s.prompt));
        SetIncludeOnEveryRow(s.table, true);
        s.table.MoveBy(3);
        const uint32_t row = s.table.RecNo();
        const auto before = filesOf(s.data.dir());

        OtherPreparation other(s.data.dir());
        ASSERT_TRUE(other.holding());
        try {
            c.act(s);
            ADD_FAILURE() << "went ahead beside the preparation";
        } catch (const EPreparationBusy& e) {
            EXPECT_EQ(std::string(e.what()), busyText(s.data.dir()));
        }
        EXPECT_EQ(filesOf(s.data.dir()), before);
        EXPECT_TRUE(s.prompt.messages.empty()) << s.prompt.messages.front();
        ASSERT_TRUE(s.table.Active());
        EXPECT_EQ(s.table.RecNo(), row);
        s.table.Close();
    }
}

// The settings dialog's session while another process prepares: it backs
// nothing up (an older backup stays as it was), says why the code tables
// cannot be changed, and its restore after a Cancel puts nothing back.
TEST(CodeTablesBesideAPreparation, TheDialogsSessionIsRefusedAndRestoresNothing) {
    DataDir data;
    data.addCodeTables();
    writeFile(data.file("KESPLACx.DBF"), "an older backup");
    const auto before = filesOf(data.dir());
    OtherPreparation other(data.dir());
    ASSERT_TRUE(other.holding());
    CodeTableSession session(data.dir());
    EXPECT_FALSE(session.editable());
    EXPECT_EQ(session.refusal(), busyText(data.dir()));
    EXPECT_TRUE(session.restore().empty());
    EXPECT_EQ(filesOf(data.dir()), before);
}

// The other way round: while the dialog's session lives, and while a rebuild
// runs, a preparation in another process is refused; once they end it can
// start. A data folder that does not exist holds nothing back.
TEST(CodeTablesBesideAPreparation, NoPreparationStartsWhileTheTablesAreHeld) {
    DataDir data;
    data.addCodeTables();
    {
        CodeTableSession session(data.dir());
        ASSERT_TRUE(session.editable()) << session.refusal();
        std::string refusal;
        EXPECT_EQ(preparationStarts(data.dir(), &refusal), 1);
        EXPECT_NE(refusal.find("Another preparation is running on the data folder"),
                  std::string::npos)
            << refusal;
        EXPECT_TRUE(fs::exists(data.file("KESPLACx.DBF")));
    }
    EXPECT_EQ(preparationStarts(data.dir()), 0);

    // The question before a rebuild comes when the tables are already held.
    struct Probing : TestOperator {
        std::string dir;
        int during = -1;
        bool Confirm(const std::string& text) override {
            during = preparationStarts(dir);
            return TestOperator::Confirm(text);
        }
    } prompt;
    prompt.dir = data.dir();
    TAdsTable table;
    ASSERT_TRUE(OpenCodeTable(table, CodeTableKind::Placement, data.dir(), prompt));
    EXPECT_EQ(RebuildCodeTable(table, CodeTableKind::Placement, data.dir(), 1, prompt),
              RebuildResult::Rebuilt);
    EXPECT_EQ(prompt.during, 1);
    table.Close();
    EXPECT_EQ(preparationStarts(data.dir()), 0);

    CodeTableSession nowhere(data.dir() + "missing" + PathDelim);
    EXPECT_TRUE(nowhere.editable()) << nowhere.refusal();
}

} // namespace
