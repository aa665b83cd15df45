// The settings file: reading with the profile-function rules, writing that keeps
// every other line, and writes that never leave a damaged file behind.
#include "app/core/IniFile.h"
#include "os/Os.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tmp_ = std::make_unique<testsupport::TempDir>();
        dir_ = tmp_->path();
        path_ = (dir_ / "KesPrep.ini").string();
    }
    void TearDown() override { tmp_.reset(); }

    void put(const std::string& content) { testsupport::writeFile(path_, content); }
    std::string get() const { return testsupport::readFile(path_); }

    std::unique_ptr<testsupport::TempDir> tmp_;
    fs::path dir_;
    std::string path_;
};

const char* const kSample = "; KesPrep settings\r\n"
                            "[Directories]\r\n"
                            "ORVA Path=C:\\VIRN\\\r\n"
                            "\r\n"
                            "[ORVA Export]\r\n"
                            "; layout chosen by the office\r\n"
                            "  File Format = 2  \r\n"
                            "Search=-1\r\n"
                            "Selected Dates=2\r\n"
                            "Include Attempted=True\r\n"
                            "Include Subscores=\r\n"
                            "Time=12abc\r\n"
                            "Big=99999999999\r\n"
                            "Plus=+7\r\n"
                            "Hex=0x1F\r\n"
                            "Zero=0\r\n"
                            "Lowest=-2147483648\r\n"
                            "JustOver=2147483648\r\n"
                            "Spaced=- 1\r\n"
                            "Quoted=\"C:\\My Files\\up.txt\"\r\n"
                            "Filename=first\r\n"
                            "FILENAME=second\r\n"
                            "\r\n"
                            "[orva export]\r\n"
                            "Late=in the second section of that name\r\n";

TEST_F(IniFileTest, ReadsStringsWithProfileRules) {
    put(kSample);
    TIniFile ini(path_);
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"Directories", "ORVA Path", "C:\\VIRN\\"},
        {"directories", "orva path", "C:\\VIRN\\"},        // case of section and key ignored
        {"ORVA Export", "File Format", "2"},               // blanks around key and value dropped
        {"ORVA Export", "Include Subscores", ""},          // present but empty: not the default
        {"ORVA Export", "Quoted", "C:\\My Files\\up.txt"}, // one pair of quotes removed
        {"ORVA Export", "Filename", "first"},              // the first of two spellings wins
        {"ORVA Export", "Late", "default"},                // only the first section counts
        {"ORVA Export", "; layout chosen by the office", "default"}, // comments are no keys
        {"Missing", "ORVA Path", "default"},
        {"ORVA Export", "Missing", "default"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "default"), c.expected)
            << c.section << "/" << c.key;
}

TEST_F(IniFileTest, ReadsIntegersAndBooleans) {
    put(kSample);
    TIniFile ini(path_);
    struct Case {
        const char* key;
        int expected;
    } cases[] = {
        {"File Format", 2},
        {"Search", -1},
        {"Selected Dates", 2},
        {"Plus", 7},
        {"Zero", 0},
        {"Lowest", -2147483647 - 1},
        {"JustOver", 77},
        {"Time", 77}, // trailing text: not an integer
        {"Hex", 77},  // decimal only
        {"Spaced", 77},
        {"Big", 77},
        {"Include Attempted", 77},
        {"Include Subscores", 77},
        {"Missing", 77},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.ReadInteger("ORVA Export", c.key, 77), c.expected) << c.key;

    EXPECT_TRUE(ini.ReadBool("ORVA Export", "Selected Dates", false)); // 2 is true
    EXPECT_TRUE(ini.ReadBool("ORVA Export", "Search", false));         // -1 is true
    EXPECT_FALSE(ini.ReadBool("ORVA Export", "Zero", true));           // 0 is false
    EXPECT_TRUE(ini.ReadBool("ORVA Export", "Time", true));            // "12abc": default
    EXPECT_FALSE(ini.ReadBool("ORVA Export", "Time", false));
    EXPECT_TRUE(ini.ReadBool("ORVA Export", "Include Attempted", true)); // a word: default
    EXPECT_FALSE(ini.ReadBool("ORVA Export", "Include Attempted", false));
    EXPECT_FALSE(ini.ReadBool("ORVA Export", "Missing", false));
}

TEST_F(IniFileTest, LongValuesComeBackCutTo2047Characters) {
    std::string value(3000, 'x');
    TIniFile ini(path_);
    ini.WriteString("S", "K", value);
    EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2047, 'x'));
    // A cut never splits a character: 2046 x then a two-byte character.
    ini.WriteString("S", "K", std::string(2046, 'x') + "\xC3\x9C" + "tail");
    EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2046, 'x'));
}

// Files saved by other editors: a byte-order mark before the first section must
// not hide that section (the data folder would silently become the default),
// and lines that end in a lone CR are lines.
TEST_F(IniFileTest, ReadsFilesWithAByteOrderMarkOrCarriageReturnLineEnds) {
    struct Case {
        const char* name;
        const char* content;
    } cases[] = {
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF[Directories]\r\nORVA Path=D:\\DATA\\\r\n"
                                  "[ORVA Export]\r\nFile Format=3\r\n"},
        {"CR only", "[Directories]\rORVA Path=D:\\DATA\\\r[ORVA Export]\rFile Format=3\r"},
        {"mark and CR only", "\xEF\xBB\xBF[Directories]\rORVA Path=D:\\DATA\\\r"
                             "[ORVA Export]\rFile Format=3"},
    };
    for (const Case& c : cases) {
        put(c.content);
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("Directories", "ORVA Path", "C:\\VIRN\\"), "D:\\DATA\\") << c.name;
        EXPECT_EQ(ini.ReadInteger("ORVA Export", "File Format", 0), 3) << c.name;
    }
}

TEST_F(IniFileTest, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Directories", "ORVA Path", "C:\\VIRN\\"), "C:\\VIRN\\");
    EXPECT_EQ(ini.ReadInteger("ORVA Auto Export", "Time", -1), -1);
    EXPECT_TRUE(ini.ReadBool("ORVA Export", "Include Placement Records", true));
    EXPECT_FALSE(fs::exists(path_));
    ini.WriteInteger("ORVA Auto Export", "Time", -1);
    ini.WriteBool("ORVA Export", "Selected Dates", true);
    EXPECT_EQ(get(), "[ORVA Auto Export]\r\nTime=-1\r\n\r\n[ORVA Export]\r\nSelected Dates=1\r\n");
    EXPECT_EQ(ini.ReadInteger("ORVA Auto Export", "Time", 5), -1);
}

TEST_F(IniFileTest, WritesKeepEveryOtherLine) {
    struct Case {
        const char* name;
        const char* before;
        const char* section;
        const char* key;
        const char* value;
        const char* after;
    } cases[] = {
        {"existing key keeps its place and spelling", "; c\r\n[A]\r\n  Key One = old \r\nx=1\r\n",
         "a", "KEY ONE", "new", "; c\r\n[A]\r\nKey One=new\r\nx=1\r\n"},
        {"new key after the last line of its section, before blank lines",
         "[A]\r\nx=1\r\n; note\r\n\r\n[B]\r\ny=2\r\n", "A", "z", "3",
         "[A]\r\nx=1\r\n; note\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
        {"new key in the last section without a final line break", "[A]\r\nx=1", "A", "z", "3",
         "[A]\r\nx=1\r\nz=3\r\n"},
        {"new section at the end", "[A]\r\nx=1\r\n", "B", "y", "2",
         "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"},
        {"LF-only file stays LF-only", "[A]\nx=1\n", "A", "y", "2", "[A]\nx=1\ny=2\n"},
        {"line breaks in a value become blanks", "[A]\r\n", "A", "f", "a\r\nb",
         "[A]\r\nf=a  b\r\n"},
        {"empty value", "[A]\r\nx=1\r\n", "A", "x", "", "[A]\r\nx=\r\n"},
        {"byte-order mark kept in front", "\xEF\xBB\xBF[A]\r\nx=1\r\n", "A", "x", "2",
         "\xEF\xBB\xBF[A]\r\nx=2\r\n"},
        {"CR-only file stays CR-only", "[A]\rx=1\r", "A", "y", "2", "[A]\rx=1\ry=2\r"},
    };
    for (const Case& c : cases) {
        put(c.before);
        TIniFile(path_).WriteString(c.section, c.key, c.value);
        EXPECT_EQ(get(), c.after) << c.name;
    }
}

TEST_F(IniFileTest, FailedWriteThrowsAndNamesTheFile) {
    // The parent of the path is a file: no file can be created there, not even by root.
    std::string blocker = (dir_ / "plain").string();
    testsupport::writeFile(blocker, "x");
    std::string path = blocker + "/KesPrep.ini";
    TIniFile ini(path);
    try {
        ini.WriteString("A", "x", "1");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
}

TEST_F(IniFileTest, WriteThatRunsOutOfSpaceLeavesTheOldFileWhole) {
    const std::string old = "[A]\r\nx=1\r\n; keep me\r\n";
    put(old);
    // A file size limit makes the write of the new, longer content fail half way,
    // like a full disk; root is subject to it too.
    bool threw = false;
    {
        kes::os::FileSizeLimitForTesting limit(64);
        ASSERT_TRUE(limit.active());
        try {
            TIniFile(path_).WriteString("A", "y", std::string(500, 'v'));
        } catch (const std::runtime_error& e) {
            threw = std::string(e.what()) == "Unable to write to " + path_;
        }
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(get(), old);
    // No temporary file is left beside it.
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir_)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

// A write killed before its rename leaves a temporary file beside the
// settings file; the next write removes it, and nothing of any other name.
TEST_F(IniFileTest, AWriteRemovesWhatAKilledWriteLeftBesideTheFile) {
    put("[A]\r\nx=1\r\n");
    const std::string left = path_ + ".kes-k1ll3d.tmp";
    const std::string mine = path_ + ".tmp";
    testsupport::writeFile(left, "[A]\r\nx=");
    testsupport::writeFile(mine, "a user's file");
    TIniFile(path_).WriteString("A", "y", "2");
    EXPECT_EQ(get(), "[A]\r\nx=1\r\ny=2\r\n");
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(mine));
}

TEST_F(IniFileTest, SettingsFilePathFindsAnyLetterCase) {
    std::string dir = (dir_ / "").string();
    fs::remove(path_);
    EXPECT_EQ(SettingsFilePath(dir), dir + "KesPrep.ini");
    EXPECT_EQ(SettingsFilePath(dir_.string()), dir + "KesPrep.ini"); // separator added
    testsupport::writeFile(dir + "KESPREP.INI", "[A]\r\nx=5\r\n");
    // Where names ignore case (Windows) the file system finds any spelling.
    if (!testsupport::fileNamesIgnoreCase(dir_)) {
        EXPECT_EQ(SettingsFilePath(dir), dir + "KESPREP.INI");
    }
    EXPECT_EQ(TIniFile(SettingsFilePath(dir)).ReadInteger("a", "X", 0), 5);
}

} // namespace
