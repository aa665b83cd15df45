// Where the settings file lies: beside a program run from its build folder or
// an unpacked folder, in the user's configuration folder for the installed copy.
#include "app/core/SettingsLocation.h"
#include "app/core/IniFile.h"
#include "common/Paths.h"
#include "os/Os.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// The rule speaks in the platform's separator; the cases are written with "/".
std::string native(std::string path) {
    for (char& c : path)
        if (c == '/') c = PathDelim;
    return path;
}

TEST(SettingsLocation, InstalledCopyUsesTheUserConfigurationFolder) {
    struct Case {
        const char* what;
        SettingsLocationFacts facts;
        const char* expected;
    };
    const Case cases[] = {
        {"a build folder keeps the file beside the program",
         {"/home/ann/kesprep/build/dev/app/", "/usr/bin", "", "/home/ann/"},
         "/home/ann/kesprep/build/dev/app/"},
        {"an unpacked folder keeps the file beside the program, separator added",
         {"/opt/kesprep", "/usr/bin", "/home/ann/.cfg", "/home/ann/"},
         "/opt/kesprep/"},
        {"the installed copy goes to ~/.config",
         {"/usr/bin/", "/usr/bin", "", "/home/ann/"},
         "/home/ann/.config/kesprep/"},
        {"trailing separators do not matter on either side",
         {"/usr/bin", "/usr/bin/", "", "/home/ann"},
         "/home/ann/.config/kesprep/"},
        {"$XDG_CONFIG_HOME wins over the home folder",
         {"/usr/bin/", "/usr/bin", "/home/ann/.cfg/", "/home/ann/"},
         "/home/ann/.cfg/kesprep/"},
        {"a relative $XDG_CONFIG_HOME is ignored",
         {"/usr/bin/", "/usr/bin", "cfg", "/home/ann/"},
         "/home/ann/.config/kesprep/"},
        {"no configuration folder at all leaves the file beside the program",
         {"/usr/bin/", "/usr/bin", "", ""},
         "/usr/bin/"},
        {"a folder inside the installed one is not the installed copy",
         {"/usr/bin/kesprep/", "/usr/bin", "", "/home/ann/"},
         "/usr/bin/kesprep/"},
        {"a folder whose name only begins like the installed one is not it",
         {"/usr/bin2/", "/usr/bin", "", "/home/ann/"},
         "/usr/bin2/"},
        {"a build configured for another prefix",
         {"/usr/bin/", "/usr/local/bin", "", "/home/ann/"},
         "/usr/bin/"},
        {"no installed folder (Windows): always beside the program",
         {"/usr/bin/", "", "", "/home/ann/"},
         "/usr/bin/"},
        {"an unknown program folder is never the installed one",
         {"", "/usr/bin", "", "/home/ann/"},
         ""},
    };
    for (const Case& c : cases) {
        SettingsLocationFacts facts = c.facts;
        facts.ProgramDir = native(facts.ProgramDir);
        facts.InstalledProgramDir = native(facts.InstalledProgramDir);
        facts.ConfigHome = native(facts.ConfigHome);
        facts.HomeDir = native(facts.HomeDir);
        EXPECT_EQ(SettingsDirectoryFor(facts), native(c.expected)) << c.what;
    }
}

// A program in a folder of its own (a test folder is never the installed bin
// folder) reads and writes the file beside itself, and nothing is created
// anywhere else.
TEST(SettingsLocation, ProgramOutsideTheInstalledFolderKeepsItsFileBesideIt) {
    testsupport::TempDir tmp;
    const std::string dir = (tmp.path() / "").string();
    EXPECT_EQ(SettingsDirectory(dir), dir);
    EXPECT_EQ(SettingsFilePath(dir), dir + "KesPrep.ini");
    TIniFile(SettingsFilePath(dir)).WriteInteger("ORVA Export", "File Format", 2);
    EXPECT_TRUE(fs::exists(tmp.path() / "KesPrep.ini"));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

// The installed folder the program compares itself with is the bin folder the
// build installs into, and only on Linux.
TEST(SettingsLocation, InstalledFolderIsTheBuildsBinFolder) {
    const SettingsLocationFacts facts = CurrentSettingsLocationFacts("/somewhere/");
    EXPECT_EQ(facts.ProgramDir, "/somewhere/");
#ifdef _WIN32
    EXPECT_EQ(facts.InstalledProgramDir, "");
#else
    EXPECT_EQ(facts.InstalledProgramDir, KES_TEST_INSTALLED_BINDIR);
    EXPECT_FALSE(facts.InstalledProgramDir.empty());
#endif
}

} // namespace
