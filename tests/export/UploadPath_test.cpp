// Where the upload file may not go: over a file the preparation reads or
// writes, or into a testing-period folder, however the name is spelled.
#include "support/Files.h"

#include "export/core/UploadPath.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

TEST(UploadPath, FilesThePreparationUsesAndPeriodFoldersAreRefused) {
    TempDir scratch;
    const std::string root = scratch.dir();
    const std::string data = root + "VIRN/";
    fs::create_directories(data + "VIRNTP1");
    fs::create_directories(root + "out");
    writeFile(data + "KESTABLE.dbf", "");
    writeFile(data + "VIRNTP1/PLACTEMP.DBF", "");
    writeFile(root + "KesPrep.ini", "");
    // Windows without the right to make links skips the cases through links.
    std::error_code noLinks;
    fs::create_symlink(data + "KESTABLE.dbf", root + "out/link-to-work-table.asc", noLinks);
    if (!noLinks) fs::create_directory_symlink(data + "VIRNTP1", root + "out/period", noLinks);
    const bool haveLinks = !noLinks;
    const std::string ini = root + "KesPrep.ini";

    struct Case {
        const char* name;
        std::string upload;
        const char* problem; // part of the message; nullptr when the place is fine
    } cases[] = {
        {"the work table", data + "KESTABLE.dbf", "KESTABLE.dbf"},
        {"the work table in other letter case", data + "kestable.DBF", "KESTABLE.dbf"},
        {"the work table through ..", data + "VIRNTP1/../KESTABLE.dbf", "KESTABLE.dbf"},
        {"the work table through a symbolic link", root + "out/link-to-work-table.asc",
         "KESTABLE.dbf"},
        {"the staging index, not there yet", data + "KESTALEX.CDX", "KESTALEX.cdx"},
        {"a code table backup", data + "kesplacx.dbf", "KESPLACx.DBF"},
        {"the site table", data + "SETUPSCH.DBF", "SetupSch.dbf"},
        {"the settings file", root + "out/../KESPREP.INI", "settings file"},
        {"a table of a period folder", data + "VIRNTP1/PLACTEMP.DBF", "testing period folder"},
        {"a new file in a period folder", data + "VIRNTP1/upload.asc", "testing period folder"},
        {"a period folder reached through a link", root + "out/period/upload.asc",
         "testing period folder"},
        {"a period folder not created yet", data + "virntp7/upload.asc", "testing period folder"},
        {"a folder", root + "out", "folder"},
        {"the data folder itself", data, "folder"},
        {"beside the tables in the data folder", data + "upload.asc", nullptr},
        {"a folder of its own", root + "out/upload.asc", nullptr},
        {"a folder named like a period outside the data folder", root + "VIRNTP1/upload.asc",
         nullptr},
    };
    for (const Case& c : cases) {
        if (!haveLinks && std::string(c.name).find("link") != std::string::npos) continue;
        const std::string problem = UploadPathProblem(c.upload, data, ini);
        if (!c.problem) {
            EXPECT_EQ(problem, "") << c.name;
            continue;
        }
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
        EXPECT_NE(problem.find(c.upload), std::string::npos) << c.name << ": " << problem;
    }
}

} // namespace
