// The property that matters most to an office: a preparation on damaged files
// either fails or writes exactly the upload file of the undamaged files; it
// never reports success with a wrong file. Each case damages one file of a
// copy of the sample data in a deterministic way (the same bytes every run)
// and runs kesprep-batch on it.
//
// The damage is of the kinds a disk or an interrupted copy does to the
// structure of the files: header counts and lengths, field widths, types and
// names, the field terminator, deletion flags, a cut file, any byte of an
// index. A record count below the records may also be a table the testing
// system is adding to: such a run may end "prepared with warnings" (exit
// status 6) when it says so. A name changed into another valid name of a
// field the preparation does not need leaves a valid table, which no reader
// can tell from the real thing; one the preparation needs is missed.
#include "support/Manifest.h"
#include "support/Programs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// A small deterministic generator: the same damage on every machine.
struct Lcg {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t below(uint32_t n) { return n ? next() % n : 0; }
};

uint16_t le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}
uint32_t le32(const std::string& b, size_t at) {
    return le16(b, at) | (static_cast<uint32_t>(le16(b, at + 2)) << 16);
}
void put16(std::string& b, size_t at, uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, size_t at, uint32_t v) {
    put16(b, at, static_cast<uint16_t>(v & 0xFFFF));
    put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}
size_t fieldCount(const std::string& b) {
    size_t n = 0;
    while (32 + 32 * n < b.size() && b[32 + 32 * n] != 0x0D)
        ++n;
    return n;
}

using Damage = std::function<void(std::string& bytes, Lcg& random)>;

struct Kind {
    const char* name;
    std::vector<const char*> files; // in VIRNTP1 of the sample
    Damage damage;
};

const std::vector<const char*> kTables = {"PLACTEMP.DBF", "ASSETEMP.DBF", "SCORTEMP.DBF",
                                          "STUDTEMP.DBF", "PLACE.DBF",    "ASSESS.DBF",
                                          "SCORES.DBF",   "STUDENT.DBF"};
const std::vector<const char*> kIndexes = {"SSNTEMP.NTX", "SSN.NTX"};

const Kind kKinds[] = {
    {"RecordCountAboveTheRecords", kTables,
     [](std::string& b, Lcg& r) { put32(b, 4, le32(b, 4) + 1 + r.below(5)); }},
    {"RecordCountBelowTheRecords", kTables,
     [](std::string& b, Lcg& r) {
         const uint32_t count = le32(b, 4);
         put32(b, 4, count - std::min(count, 1 + r.below(5)));
     }},
    {"FieldTypeChanged", kTables,
     [](std::string& b, Lcg& r) {
         const size_t field = r.below(static_cast<uint32_t>(fieldCount(b)));
         char& type = b[32 + 32 * field + 11];
         const char types[] = "CDLN";
         char to;
         do
             to = types[r.below(4)];
         while (to == type);
         type = to;
     }},
    {"FieldNameByteChanged", kTables,
     [](std::string& b, Lcg& r) {
         const size_t field = r.below(static_cast<uint32_t>(fieldCount(b)));
         const size_t at = 32 + 32 * field +
                           r.below(static_cast<uint32_t>(std::strlen(b.c_str() + 32 + 32 * field)));
         b[at] = static_cast<char>(b[at] ^ (1 + r.below(255)));
     }},
    {"HeaderLengthMoved", kTables,
     [](std::string& b, Lcg& r) {
         const int shifts[] = {-32, -2, -1, 1, 2, 32, 263};
         put16(b, 8, static_cast<uint16_t>(le16(b, 8) + shifts[r.below(7)]));
     }},
    {"RecordLengthChanged", kTables,
     [](std::string& b, Lcg& r) {
         put16(b, 10, static_cast<uint16_t>(le16(b, 10) + 1 + r.below(3)));
     }},
    {"FieldWidthChanged", kTables,
     [](std::string& b, Lcg& r) {
         const size_t field = r.below(static_cast<uint32_t>(fieldCount(b)));
         b[32 + 32 * field + 16] = static_cast<char>(b[32 + 32 * field + 16] + 1 + r.below(3));
     }},
    {"FieldTerminatorLost", kTables,
     [](std::string& b, Lcg& r) {
         b[32 + 32 * fieldCount(b)] = static_cast<char>('A' + r.below(26));
     }},
    {"DeletionFlagDamaged", kTables,
     [](std::string& b, Lcg& r) {
         const uint32_t count = le32(b, 4);
         if (count == 0) return;
         const size_t at = le16(b, 8) + static_cast<size_t>(r.below(count)) * le16(b, 10);
         char flag;
         do
             flag = static_cast<char>(r.below(256));
         while (flag == ' ' || flag == '*');
         b[at] = flag;
     }},
    {"FileCutShort", kTables,
     [](std::string& b, Lcg& r) {
         const size_t header = le16(b, 8);
         const size_t records = b.size() - 1 - header;
         if (records == 0) return;
         b.resize(header + r.below(static_cast<uint32_t>(records)));
     }},
    {"IndexByteChanged", kIndexes,
     [](std::string& b, Lcg& r) {
         const size_t at = r.below(static_cast<uint32_t>(b.size()));
         b[at] = static_cast<char>(b[at] ^ (1 + r.below(255)));
     }},
    {"IndexPageByteChanged", kIndexes,
     [](std::string& b, Lcg& r) {
         if (b.size() <= 1024) return;
         const size_t at = 1024 + r.below(static_cast<uint32_t>(b.size() - 1024));
         b[at] = static_cast<char>(b[at] ^ (1 + r.below(255)));
     }},
    {"IndexFlagsSet", kIndexes, [](std::string& b, Lcg& r) { b[r.below(2) ? 280 : 278] = 1; }},
};

constexpr int kCasesPerKind = 12;

class MutatedFolder : public ::testing::TestWithParam<Kind> {
  protected:
    // Runs one preparation of period 1 (all record kinds, all dates) on `data`.
    // `errors` receives what the program wrote on its error output.
    static int prepare(const std::string& data, const std::string& set, const std::string& output,
                       const std::string& work, std::string* errors = nullptr) {
        const std::string ini = work + "KesPrep.ini";
        writeFile(ini, "");
        return testsupport::runProgram({KES_BATCH_PROGRAM, "--ini", ini, "--data", data, "--period",
                                        "1", "--set", set, "--dates", "all", "--layout", "pipe",
                                        "--fields", "none", "--records",
                                        "placement,assessment,scores", "--output", output},
                                       nullptr, errors);
    }
};

TEST_P(MutatedFolder, FailsOrWritesTheFileOfTheUndamagedFolder) {
    const Kind& kind = GetParam();
    const testsupport::TempDir scratch("damage");
    const std::string work = scratch.dir();
    // Folders are copied by names without a separator at the end, which
    // Windows' file functions refuse.
    const fs::path cleanFolder = scratch.path() / "clean";
    fs::copy(testsupport::fixture("virn-sample"), cleanFolder, fs::copy_options::recursive);
    const std::string clean = (cleanFolder / "").string();

    // The file of each set from the undamaged folder.
    std::string expected[2];
    const char* sets[2] = {"temporary", "master"};
    for (int s = 0; s < 2; ++s) {
        const std::string out = work + "expected-" + sets[s] + ".txt";
        ASSERT_EQ(prepare(clean, sets[s], out, work), 0) << sets[s];
        expected[s] = readFile(out);
        ASSERT_FALSE(expected[s].empty());
    }

    uint64_t seed = 1469598103934665603ull; // FNV-1a of the kind's name
    for (const char* c = kind.name; *c; ++c)
        seed = (seed ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    Lcg random{seed};
    int failed = 0, identical = 0;
    for (int i = 0; i < kCasesPerKind; ++i) {
        const std::string file = kind.files[random.below(static_cast<uint32_t>(kind.files.size()))];
        const fs::path dataFolder = scratch.path() / ("case" + std::to_string(i));
        fs::copy(cleanFolder, dataFolder, fs::copy_options::recursive);
        const std::string data = (dataFolder / "").string();
        const std::string path = (dataFolder / "VIRNTP1" / file).string();
        std::string bytes = readFile(path);
        kind.damage(bytes, random);
        writeFile(path, bytes);
        // The temporary set reads the *TEMP files, the master set the others.
        const bool temporary = file.find("TEMP") != std::string::npos;
        const int s = temporary ? 0 : 1;
        const std::string out = work + "upload" + std::to_string(i) + ".txt";
        std::string errors;
        const int rc = prepare(data, sets[s], out, work, &errors);
        SCOPED_TRACE(std::string(kind.name) + " case " + std::to_string(i) + " on " + file);
        if (rc == 0) {
            EXPECT_EQ(readFile(out), expected[s]) << "success with a wrong upload file";
            ++identical;
        } else if (rc == 6) {
            // Prepared with warnings: the warning names what was not read.
            EXPECT_NE(errors.find("past the end its header states"), std::string::npos) << errors;
            ++failed;
        } else {
            EXPECT_FALSE(fs::exists(out)) << "a failed run left an upload file";
            EXPECT_NE(rc, -1) << "kesprep-batch did not end normally: " << errors;
            ++failed;
        }
        fs::remove_all(dataFolder);
    }
    RecordProperty("failed", failed);
    RecordProperty("identical", identical);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MutatedFolder, ::testing::ValuesIn(kKinds),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
