// The copies taken before the settings dialog and put back after a Cancel.
#include "settings/core/CodeTableBackup.h"

#include "settings_core_support.h"

#include <gtest/gtest.h>

namespace {

using namespace codetest;
using testsupport::readFile;
using testsupport::writeFile;

const char* const kFiles[] = {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF", "KESTEST.cdx"};
const char* const kBackups[] = {"KESPLACx.DBF", "KESPLACx.CDX", "KESTESTx.DBF", "KESTESTx.CDX"};

TEST(CodeTableBackup, RestoreBringsBackEveryByteAndRemovesTheCopies) {
    DataDir data;
    data.addCodeTables();
    // An older backup is replaced, not kept.
    writeFile(data.file("KESPLACx.DBF"), "older");
    const CodeTableBackup backup = BackUpCodeTables(data.dir());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(backup.backedUp[i]) << kFiles[i];
        EXPECT_EQ(readFile(data.file(kBackups[i])), readFile(data.file(kFiles[i])));
    }
    for (const char* file : kFiles)
        writeFile(data.file(file), "changed in the dialog");

    EXPECT_TRUE(RestoreCodeTables(backup).empty());
    for (const char* file : kFiles)
        EXPECT_EQ(readFile(data.file(file)), readFile(fixture(std::string("formats/cdx/") + file)))
            << file;
    for (const char* copy : kBackups)
        EXPECT_FALSE(fs::exists(data.file(copy))) << copy;
}

// Tables that were not there when the dialog opened are gone again after a
// Cancel: a table made and filled in the dialog, every code unticked, would
// otherwise drop every record of the next gathering.
TEST(CodeTableBackup, TablesMadeInTheDialogAreRemovedAgain) {
    DataDir data;
    data.copy("formats/cdx/KESTEST.DBF", "KESTEST.DBF"); // its index is missing
    const CodeTableBackup backup = BackUpCodeTables(data.dir());
    EXPECT_FALSE(fs::exists(data.file("KESPLACx.DBF")));
    data.addCodeTables();

    EXPECT_TRUE(RestoreCodeTables(backup).empty());
    EXPECT_FALSE(fs::exists(data.file("KESPLACE.DBF")));
    EXPECT_FALSE(fs::exists(data.file("KESPLACE.cdx")));
    EXPECT_FALSE(fs::exists(data.file("KESTEST.cdx")));
    EXPECT_EQ(readFile(data.file("KESTEST.DBF")), readFile(fixture("formats/cdx/KESTEST.DBF")));
}

// A copy that could not be made is never stood in for by an older one, and
// the operator hears that this table could not be put back.
TEST(CodeTableBackup, AFileWithoutAFreshCopyIsReportedNotOverwritten) {
    DataDir data;
    data.addCodeTables();
    fs::create_directories(data.file("KESPLACx.DBF/in-the-way"));
    const CodeTableBackup backup = BackUpCodeTables(data.dir());
    EXPECT_FALSE(backup.backedUp[0]);
    writeFile(data.file("KESPLACE.DBF"), "changed in the dialog");

    const std::vector<std::string> problems = RestoreCodeTables(backup);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("KESPLACE.DBF"), std::string::npos) << problems[0];
    EXPECT_EQ(readFile(data.file("KESPLACE.DBF")), "changed in the dialog");
    EXPECT_EQ(readFile(data.file("KESTEST.DBF")), readFile(fixture("formats/cdx/KESTEST.DBF")));
}

} // namespace
