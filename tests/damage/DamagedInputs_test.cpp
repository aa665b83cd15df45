// Damage that leaves a table readable but wrong, each case one file of a copy
// of the sample data: a lowered record count, a field of the wrong type, a
// damaged or renamed field name, a damaged index of a code table. Each must
// give its own exit status and a message that names the file and what is
// wrong with it; a damaged file never gives "successfully prepared", and a
// failed run leaves no upload file.
#include "support/Files.h"
#include "support/Manifest.h"
#include "support/Programs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr int kPrepared = 0;
constexpr int kWarnings = 6;
constexpr int kDamaged = 7;

uint32_t le32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}
void put32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
// The descriptor of the field `name` (0 when there is none).
size_t descriptorOf(const std::string& b, const std::string& name) {
    for (size_t at = 32; at + 32 <= b.size() && b[at] != 0x0D; at += 32)
        if (std::string(b.c_str() + at) == name) return at;
    return 0;
}

std::string lowered(std::string text) {
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

using Damage = std::function<void(std::string& bytes)>;

Damage countLoweredBy(uint32_t less) {
    return [less](std::string& b) { put32(b, 4, le32(b, 4) - less); };
}
Damage countSetTo(uint32_t count) {
    return [count](std::string& b) { put32(b, 4, count); };
}
Damage typeOf(const std::string& field, char type) {
    return [field, type](std::string& b) {
        const size_t at = descriptorOf(b, field);
        ASSERT_NE(at, 0u) << field;
        b[at + 11] = type;
    };
}
Damage renamed(const std::string& field, const std::string& to) {
    return [field, to](std::string& b) {
        const size_t at = descriptorOf(b, field);
        ASSERT_NE(at, 0u) << field;
        std::string name = to;
        name.resize(11, '\0');
        b.replace(at, 11, name);
    };
}
Damage byteSet(size_t at, char value) {
    return [at, value](std::string& b) {
        ASSERT_LT(at, b.size());
        b[at] = value;
    };
}

struct DamageCase {
    const char* name;
    const char* file; // relative to the data folder
    Damage damage;
    const char* set;
    const char* fields;  // the optional fields asked for
    int exitCode;        // what kesprep-batch must end with
    const char* message; // what its output must say
};

class DamagedInputs : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedInputs, EndWithTheirOwnStatusAndMessage) {
    const DamageCase& c = GetParam();
    const testsupport::TempDir scratch("damaged");
    const fs::path folder = scratch.path() / "data";
    testsupport::copyFolder(testsupport::fixture("virn-sample"), folder);
    // The code tables of the sample, so that codes are translated.
    for (const char* name : {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF", "KESTEST.cdx"})
        fs::copy_file(testsupport::fixture(std::string("formats/cdx/") + name), folder / name);
    const std::string data = (folder / "").string();
    const std::string path = (folder / c.file).string();
    std::string bytes = readFile(path);
    c.damage(bytes);
    writeFile(path, bytes);

    const std::string ini = scratch.dir() + "KesPrep.ini";
    writeFile(ini, "");
    const std::string output = scratch.dir() + "upload.txt";
    std::string out, err;
    const int rc = testsupport::runProgram({KES_BATCH_PROGRAM, "--ini", ini, "--data", data,
                                            "--period", "1", "--set", c.set, "--dates", "all",
                                            "--layout", "pipe", "--fields", c.fields, "--records",
                                            "placement,assessment,scores", "--output", output},
                                           &out, &err);
    EXPECT_EQ(rc, c.exitCode) << out << err;
    // The file is named as the program opened it: on a file system that
    // ignores letter case, in the spelling it asked for.
    EXPECT_NE(lowered(out + err).find(lowered(c.message)), std::string::npos) << out << err;
    EXPECT_EQ(out.find("Unable to open Table"), std::string::npos) << "damage reported as busy";
    EXPECT_EQ(err.find("Unable to open Table"), std::string::npos) << "damage reported as busy";
    if (rc == kPrepared || rc == kWarnings) {
        EXPECT_TRUE(fs::exists(output));
    } else {
        EXPECT_FALSE(fs::exists(output)) << "a failed run left an upload file";
        EXPECT_EQ(out.find("successfully prepared"), std::string::npos) << out;
    }
    if (rc == kWarnings) {
        // The warning is in the account and on the error output.
        EXPECT_NE(out.find("Warning: "), std::string::npos) << out;
        EXPECT_NE(lowered(err).find(lowered(c.message)), std::string::npos) << err;
    }
}

const DamageCase kDamageCases[] = {
    // Records past the stated end: the testing system may be appending.
    {"RecordTableCountOneLess", "VIRNTP1/PLACTEMP.DBF", countLoweredBy(1), "temporary", "none",
     kWarnings, "PLACTEMP.DBF holds 1 record past the end its header states"},
    // ...but a student table's index names the records its header leaves
    // out: the two do not fit, and no run can say which one is right.
    {"StudentTableCountLowered", "VIRNTP1/STUDTEMP.DBF", countLoweredBy(3), "temporary", "none",
     kDamaged, "SSNTEMP.NTX does not fit its table"},
    {"SiteTableCountZero", "SETUPSCH.DBF", countSetTo(0), "temporary", "sitecode", kWarnings,
     "SETUPSCH.DBF holds 1 record past the end its header states"},
    // Our own code tables: nobody appends to them while we read.
    {"CodeTableCountLowered", "KESPLACE.DBF", countLoweredBy(10), "temporary", "none", kDamaged,
     "KESPLACE.DBF holds 10 records past the end its header states"},
    // Fields whose type is not the one the layout needs.
    {"StudentNameLogical", "VIRNTP1/STUDTEMP.DBF", typeOf("LNAME", 'L'), "temporary", "none",
     kDamaged, "Field LNAME of type L is 20 bytes wide where 1 belong"},
    {"NewCodeDate", "KESTEST.DBF", typeOf("NEWCODE", 'D'), "temporary", "none", kDamaged,
     "Field NEWCODE of type D is 4 bytes wide where 8 belong"},
    {"NewCodeNumber", "KESTEST.DBF", typeOf("NEWCODE", 'N'), "temporary", "none", kDamaged,
     "its field NEWCODE is of type N where type C belongs"},
    {"RecordDateText", "VIRNTP1/SCORES.DBF", typeOf("DATE", 'C'), "master", "none", kDamaged,
     "its field DATE is of type C where type D belongs"},
    {"DuplicateFlagNumber", "VIRNTP1/PLACE.DBF", typeOf("DUPLICATE", 'N'), "master", "none",
     kDamaged, "its field DUPLICATE is of type N where type L belongs"},
    // A field the row means nothing without.
    {"SsnRenamed", "VIRNTP1/PLACTEMP.DBF", renamed("SSN", "SXN"), "temporary", "none", kDamaged,
     "it has no field SSN, which every record needs"},
    {"DateRenamed", "VIRNTP1/SCORTEMP.DBF", renamed("DATE", "DATA"), "temporary", "none", kDamaged,
     "it has no field DATE, which every record needs"},
    {"SiteCodeRenamed", "SETUPSCH.DBF", renamed("SCHSTATION", "SCHSTATIOM"), "temporary",
     "sitecode", kDamaged, "it has no field SCHSTATION"},
    {"NameByteDamaged", "VIRNTP1/ASSETEMP.DBF", renamed("CODE", "CO\x01E"), "temporary", "none",
     kDamaged, "has a damaged name"},
    {"FieldTwice", "VIRNTP1/ASSESS.DBF", renamed("SCORE", "CORRECT"), "master", "none", kDamaged,
     "The field CORRECT occurs twice"},
    // A field the table may lack, there under a damaged name, would read
    // empty on every line.
    {"GroupNumberRenamed", "VIRNTP1/ASSESS.DBF", renamed("GRPNUMBER", "GRxNUMBER"), "master",
     "none", kDamaged, "its field GRxNUMBER is GRPNUMBER with a damaged name"},
    // The subscores come as ten fields: one whose name lost its end would
    // read as zero.
    {"SubscoreRenamed", "VIRNTP1/SCORTEMP.DBF", renamed("SS10", "S"), "temporary", "subscores",
     kDamaged, "it has subscore fields but not SS10"},
    // A binary number or a date of another width than its type has would
    // read empty.
    {"SubscoreIntegerTwoWide", "VIRNTP1/SCORTEMP.DBF", typeOf("SS4", 'I'), "temporary", "subscores",
     kDamaged, "Field SS4 of type I is 2 bytes wide where 4 belong"},
    // A dBASE table's B is a binary memo: no number is read from it.
    {"SubscoreBinaryMemo", "VIRNTP1/SCORES.DBF", typeOf("SS9", 'B'), "master", "subscores",
     kDamaged, "its field SS9 is of type B where type N belongs"},
    {"SubscoreCurrencyTwoWide", "VIRNTP1/PLACE.DBF", typeOf("SS3", 'y'), "master", "subscores",
     kDamaged, "Field SS3 of type Y is 2 bytes wide where 8 belong"},
    // A table that does not open for its damage is named, not asked about.
    {"HeaderLost", "VIRNTP1/PLACTEMP.DBF", byteSet(0, 0x42), "temporary", "none", kDamaged,
     "Not a DBF table (unknown version byte)"},
    {"CodeIndexNodeDamaged", "KESPLACE.cdx", byteSet(0x400, 0x7F), "temporary", "none", kDamaged,
     "KESPLACE.cdx"},
    // The tag's key expression ("CODE" at 0x800): a control byte is damage;
    // another byte makes an expression that cannot be read, and the tag
    // cannot be searched (it failed as "The expression is not compiled").
    {"CodeIndexExpressionControlByte", "KESTEST.cdx", byteSet(0x800, 0x01), "temporary", "none",
     kDamaged, "KESTEST.cdx: corrupt CDX index: tag CODE: its expression holds control characters"},
    {"CodeIndexExpressionUnreadable", "KESTEST.cdx", byteSet(0x800, '\xFF'), "temporary", "none", 1,
     "The index tag CODE cannot be searched"},
};

INSTANTIATE_TEST_SUITE_P(Cases, DamagedInputs, ::testing::ValuesIn(kDamageCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
