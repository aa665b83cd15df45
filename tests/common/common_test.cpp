#include "common/CodePage.h"
#include "common/Date.h"
#include "common/Paths.h"
#include "common/Sha256.h"
#include "common/Text.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

TEST(ZeroPad, PadsInFrontOfTheSignAndNeverShortens) {
    struct Case {
        int64_t value;
        int width;
        const char* expected;
    } cases[] = {
        {7, 4, "0007"},
        {512, 4, "0512"},
        {-5, 4, "00-5"},
        {12345, 4, "12345"},
        {0, 3, "000"},
        {12, 3, "012"},
        {7, 0, "7"},
        {7, -3, "7"},
        {-1234, 4, "-1234"},
        {0, 25, "0000000000000000000000000"},
        {999999999999999999, 18, "999999999999999999"},
        {1000000000000000000, 18, "1000000000000000000"},
        {5, 18, "000000000000000005"},
        {INT64_MAX, 4, "9223372036854775807"},
        {INT64_MIN, 4, "-9223372036854775808"},
        {INT64_MIN, 22, "00-9223372036854775808"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " width " + std::to_string(c.width));
        EXPECT_EQ(ZeroPad(c.value, c.width), c.expected);
        // The buffer form writes the same bytes and nothing beyond them.
        char buffer[40];
        std::memset(buffer, '#', sizeof buffer);
        const size_t n = kes::zeroPadInto(buffer, c.value, c.width);
        EXPECT_EQ(std::string(buffer, n), c.expected);
        EXPECT_EQ(buffer[n], '#');
    }
}

TEST(ParseDigits, ReadsDigitsAloneAndNothingElse) {
    constexpr int64_t kRefused = -1;
    struct Case {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"0042", 42},
        {"7", 7},
        {"0", 0},
        {"999999999999999999", 999999999999999999}, // 18 digits, the most
        {"1000000000000000000", kRefused},          // 19
        {"", kRefused},
        {" 42", kRefused},
        {"42 ", kRefused},
        {"4 2", kRefused},
        {"-5", kRefused},
        {"+5", kRefused},
        {"4.2", kRefused},
        {"/", kRefused}, // the bytes either side of the digits
        {":", kRefused},
        {"\xB2", kRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t value = kRefused;
        EXPECT_EQ(kes::parseDigits(c.text, value), c.expected != kRefused);
        EXPECT_EQ(value, c.expected); // untouched when refused
    }
}

TEST(SsnToId, DropsTheHyphensAndToleratesShortTexts) {
    struct Case {
        const char* ssn;
        const char* id;
    } cases[] = {
        {"123-45-6789", "123456789"},
        {"999887777", "9998777"}, // no hyphens: digits 1-3, 5-6, 8-9
        {"123-45", "12345"},
        {"12", "12"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SsnToId(c.ssn), c.id) << c.ssn;
}

TEST(NormalizePath, AppendsTheSeparatorAsFarAsTheLengthAllows) {
    const std::string sep(1, PathDelim);
    EXPECT_EQ(NormalizePath(""), sep);
    EXPECT_EQ(NormalizePath("data"), "data" + sep);
    EXPECT_EQ(NormalizePath("data" + sep), "data" + sep);
    // "/" separates on every system (on Windows beside "\\"): a folder typed
    // with it at the end gets no second separator.
    EXPECT_EQ(NormalizePath("C:/VIRN/"), "C:/VIRN/");
    const std::string long255(255, 'a');
    EXPECT_EQ(NormalizePath(long255), long255);
    EXPECT_EQ(NormalizePath(long255 + "bbb"), long255); // cut to 255, then unchanged
    const std::string long254(254, 'a');
    EXPECT_EQ(NormalizePath(long254), long254 + sep);
}

TEST(Date, DayZeroIsThirtiethDecember1899) {
    EXPECT_EQ(kes::Date().toYyyymmdd(), "18991230");
    EXPECT_EQ(kes::Date::fromYmd(1899, 12, 30)->days(), 0);
    EXPECT_EQ(kes::Date::fromYmd(1900, 1, 1)->days(), 2);
    EXPECT_EQ(kes::Date::fromYmd(2004, 3, 5)->toShortText(), "03/05/2004");
    EXPECT_EQ(kes::Date::fromYmd(1899, 7, 4)->toYyyymmdd(), "18990704");
}

TEST(Date, ShortTextReadsAsAPersonTypesIt) {
    struct Case {
        const char* text;
        const char* expected; // yyyymmdd, or nullptr when rejected
    } cases[] = {
        {"03/05/2004", "20040305"}, {"3/5/2004", "20040305"}, {"02/29/2004", "20040229"},
        {"12/31/49", "20491231"},   {"01/01/50", "19500101"}, {"6/7/05", "20050607"},
        {"02/30/2004", nullptr},    {"02/29/2005", nullptr},  {"13/01/2004", nullptr},
        {"00/10/2004", nullptr},    {"2004-03-05", nullptr},  {"", nullptr},
        {"03/05", nullptr},         {"03/05/200", nullptr},   {"ab/cd/efgh", nullptr},
    };
    for (const Case& c : cases) {
        auto d = kes::Date::fromShortText(c.text);
        if (c.expected) {
            ASSERT_TRUE(d.has_value()) << c.text;
            EXPECT_EQ(d->toYyyymmdd(), c.expected) << c.text;
        } else {
            EXPECT_FALSE(d.has_value()) << c.text;
        }
    }
}

TEST(Date, EightDigitTextBothWays) {
    for (const char* text : {"20060915", "18991230", "20000229", "19991231"}) {
        auto d = kes::Date::fromYyyymmdd(text);
        ASSERT_TRUE(d) << text;
        EXPECT_EQ(d->toYyyymmdd(), text);
    }
    for (const char* bad : {"        ", "20060931", "2006091", "2006-9-1", "19000229"})
        EXPECT_FALSE(kes::Date::fromYyyymmdd(bad)) << bad;
}

TEST(CodePage, RoundTripsTheLettersOfEachPage) {
    struct Case {
        kes::CodePage cp;
        std::string bytes;
        std::string utf8;
    } cases[] = {
        {kes::CodePage::Oem437,
         "M\x9ALLER Ren\x82 Pe\xA4"
         "a",
         "MÜLLER René Peña"},
        {kes::CodePage::Oem850, "\x9D\xB5\xE4", "ØÁõ"},
        {kes::CodePage::Windows1252, "\xDC\xE9\x80\x9A", "Üé€š"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kes::toUtf8(c.bytes, c.cp), c.utf8);
        EXPECT_EQ(kes::fromUtf8(c.utf8, c.cp), c.bytes);
    }
}

TEST(CodePage, MissingCharactersBecomeQuestionMarks) {
    EXPECT_EQ(kes::fromUtf8("a€b", kes::CodePage::Oem437), "a?b");
    EXPECT_EQ(kes::fromUtf8("日本", kes::CodePage::Windows1252), "??");
    EXPECT_EQ(kes::fromUtf8("x\xC3", kes::CodePage::Oem437), "x?"); // cut-off sequence
    EXPECT_EQ(kes::fromUtf8("ÜÖ", kes::CodePage::Windows1252), "\xDC\xD6");
}

class CaseInsensitiveFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        tmp = std::make_unique<testsupport::TempDir>();
        dir = tmp->path();
        fs::create_directories(dir / "VIRNTP2");
        testsupport::writeFile(dir / "VIRNTP2" / "PlacTemp.dbf", "x");
        root = dir.string() + "/";
    }
    void TearDown() override { tmp.reset(); }
    // Where names ignore case (Windows) any spelling names the file, and the
    // file system, not the program, finds it.
    void expectSpelling(const std::string& got, const std::string& expected) const {
        if (testsupport::fileNamesIgnoreCase(dir))
            EXPECT_TRUE(kes::equalsIgnoreCase(got, expected)) << got << " for " << expected;
        else
            EXPECT_EQ(got, expected);
    }
    std::unique_ptr<testsupport::TempDir> tmp;
    fs::path dir;
    std::string root;
};

TEST_F(CaseInsensitiveFiles, FindsEveryComponentUnderAnySpelling) {
    const std::string expected = root + "VIRNTP2/PlacTemp.dbf";
    for (const char* spelling :
         {"VIRNTP2/PlacTemp.dbf", "virntp2/PLACTEMP.DBF", "Virntp2/plactemp.Dbf"})
        expectSpelling(kes::resolveCaseInsensitive(root + spelling), expected);
    EXPECT_TRUE(kes::fileExists(root + "VIRNTP2/PLACTEMP.DBF"));
    EXPECT_FALSE(kes::fileExists(root + "VIRNTP2/PLACE.DBF"));
    EXPECT_FALSE(kes::fileExists(root + "virntp2")); // a folder is not a file
    EXPECT_EQ(kes::resolveCaseInsensitive(root + "VIRNTP3/PlacTemp.dbf"), "");
}

TEST_F(CaseInsensitiveFiles, NewFilesKeepTheSpellingTheyWereGiven) {
    expectSpelling(kes::resolveForWriting(root + "virntp2/KESTABLE.dbf"),
                   root + "VIRNTP2/KESTABLE.dbf");
    expectSpelling(kes::resolveForWriting(root + "virntp2/PLACTEMP.DBF"),
                   root + "VIRNTP2/PlacTemp.dbf");
    EXPECT_TRUE(kes::deleteFile(root + "VIRNTP2/PLACTEMP.dbf"));
    EXPECT_FALSE(kes::deleteFile(root + "VIRNTP2/PLACTEMP.dbf"));
}

TEST(PathParts, SplitsDirectoryNameAndExtension) {
    EXPECT_EQ(kes::directoryOf("/a/b/SSN.NTX"), "/a/b/");
    EXPECT_EQ(kes::fileNameOf("/a/b/SSN.NTX"), "SSN.NTX");
    EXPECT_EQ(kes::baseNameOf("/a/b/SSN.NTX"), "SSN");
    EXPECT_TRUE(kes::hasExtension("KESTABLE.dbf"));
    EXPECT_FALSE(kes::hasExtension("/a.b/KESTABLE"));
}

// The published test vectors and messages around the block boundaries
// (their digests from coreutils' sha256sum), whole and fed in uneven pieces.
TEST(Sha256, DigestsAgreeWithTheStandardAndWithSha256sum) {
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        {std::string(63, 'x'), "75220b47218278e656f2013bb8f0c455a25eaf01e86c64924e9d48d89776d6f2"},
        {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
        {std::string(119, 'x'), "000b48d4edf0fa7bee3c6236ecd2785baa5db4eeb8bb54341b029e0d9fa5fb0c"},
        {std::string(120, 'x'), "13f05a0b594787f5ecd315edc96141bd3243203d1b7d4f0836f37308b276ba98"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.size());
        EXPECT_EQ(kes::sha256Hex(c.message), c.digest);
        kes::Sha256 pieces;
        for (size_t at = 0, step = 1; at < c.message.size(); at += step, step = step * 3 % 97 + 1)
            pieces.update(std::string_view(c.message).substr(at, step));
        EXPECT_EQ(pieces.hexDigest(), c.digest);
    }
}

TEST(Sha256, AFileIsDigestedWithItsSize) {
    testsupport::TempDir dir;
    const std::string path = dir.dir() + "upload.asc";
    std::string bytes;
    for (int i = 0; i < 300000; ++i)
        bytes += static_cast<char>('A' + i % 26);
    testsupport::writeFile(path, bytes);
    kes::FileDigest digest;
    std::string error;
    ASSERT_TRUE(kes::digestFile(path, digest, error)) << error;
    EXPECT_EQ(digest.size, bytes.size());
    EXPECT_EQ(digest.sha256, kes::sha256Hex(bytes));

    EXPECT_FALSE(kes::digestFile(dir.dir() + "absent.asc", digest, error));
    EXPECT_NE(error.find("absent.asc"), std::string::npos) << error;
}
