// A testing system at work: while preparations read a period, a second
// process appends records to its placement table, rewrites them in place and
// shortens the table again (a pack), as fast as it can. No preparation may
// die of a signal (a shortened file under a view of it) or take a record
// half written for a record: each ends in an upload file whose every line is
// a whole record, or in an error that names the table.
//
// The writer is this test program again, started with the environment
// variable KES_LIVE_WRITER naming the table; its records carry one digit d in
// every digit of the SSN and in the score of the code ("ENdd"), so a record
// made of two of its writes shows in the upload line.
#include "support/Files.h"
#include "support/Manifest.h"

#include "os/Os.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr const char* kWriterVariable = "KES_LIVE_WRITER";
constexpr int kWriterSeconds = 6;

uint32_t le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

struct Layout {
    uint32_t count = 0, headerLength = 0, recordLength = 0;
    size_t ssn = 0, code = 0, codeLength = 0;
};

Layout layoutOf(const std::string& b) {
    Layout l;
    l.count = le(b, 4, 4);
    l.headerLength = le(b, 8, 2);
    l.recordLength = le(b, 10, 2);
    size_t offset = 1;
    for (size_t at = 32; b[at] != 0x0D; at += 32) {
        const std::string name(b.c_str() + at);
        const size_t length = static_cast<unsigned char>(b[at + 16]);
        if (name == "SSN") l.ssn = offset;
        if (name == "CODE") {
            l.code = offset;
            l.codeLength = length;
        }
        offset += length;
    }
    return l;
}

// The writer's loop: append, rewrite in place, shorten, over and over.
void runWriter(const std::string& table) {
    const std::string original = readFile(table);
    const Layout l = layoutOf(original);
    const std::string model = original.substr(l.headerLength, l.recordLength);
    auto record = [&](int digit) {
        std::string r = model;
        const char d = static_cast<char>('0' + digit);
        r.replace(l.ssn, 11, std::string{d, d, d, '-', d, d, '-', d, d, d, d});
        std::string code = std::string("EN") + d + d;
        code.resize(l.codeLength, ' ');
        r.replace(l.code, l.codeLength, code);
        r[0] = ' ';
        return r;
    };
    kes::os::File file;
    ASSERT_TRUE(kes::os::File::openReadWrite(table, file).ok());
    auto setCount = [&](uint32_t count) {
        char bytes[4] = {static_cast<char>(count & 0xFF), static_cast<char>((count >> 8) & 0xFF),
                         static_cast<char>((count >> 16) & 0xFF),
                         static_cast<char>((count >> 24) & 0xFF)};
        file.writeAt(4, bytes, 4);
    };
    auto at = [&](uint32_t recno) {
        return uint64_t{l.headerLength} + uint64_t{recno - 1} * l.recordLength;
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kWriterSeconds);
    int generation = 0;
    uint32_t count = l.count;
    while (std::chrono::steady_clock::now() < end) {
        const int d = generation++ % 9;
        // Append up to 40 records: the record first, then the count.
        for (int i = 0; i < 40; ++i) {
            const std::string r = record(d) + '\x1A';
            file.writeAt(at(count + 1), r.data(), r.size());
            setCount(++count);
        }
        // Rewrite the appended ones in place with the next digit.
        const int next = generation % 9;
        for (uint32_t n = l.count + 1; n <= count; ++n) {
            const std::string r = record(next);
            file.writeAt(at(n), r.data(), r.size());
        }
        // A pack: back to the table's own records, the file cut after them.
        count = l.count;
        setCount(count);
        const char eof = '\x1A';
        file.writeAt(at(count + 1), &eof, 1);
        file.truncate(at(count + 1) + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(LiveWriter, PreparationsNeverDieNorTakeATornRecord) {
    if (const char* table = std::getenv(kWriterVariable)) {
        // This process is the writer.
        if (*table) runWriter(table);
        return;
    }
    const testsupport::TempDir scratch("live");
    const fs::path folder = scratch.path() / "data";
    testsupport::copyFolder(testsupport::fixture("virn-sample"), folder);
    const std::string data = (folder / "").string();
    const std::string table = (folder / "VIRNTP1" / "PLACTEMP.DBF").string();
    const std::string ini = scratch.dir() + "KesPrep.ini";
    writeFile(ini, "");

    const std::string self = ::testing::internal::GetArgvs()[0];
    int writerExit = -2;
    std::thread writer([&] {
        kes::os::RunOptions options;
        options.environment = {{kWriterVariable, table}};
        options.stdoutFile = scratch.dir() + "writer.txt";
        writerExit = kes::os::runProgram(
            {self, "--gtest_filter=LiveWriter.PreparationsNeverDieNorTakeATornRecord"}, options);
    });

    int runs = 0, prepared = 0, writerLines = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kWriterSeconds - 1);
    while (std::chrono::steady_clock::now() < end) {
        const std::string output = scratch.dir() + "upload" + std::to_string(runs) + ".txt";
        kes::os::RunOptions options;
        options.stdoutFile = scratch.dir() + "out.txt";
        options.stderrFile = scratch.dir() + "err.txt";
        const int rc =
            kes::os::runProgram({KES_BATCH_PROGRAM, "--ini", ini, "--data", data, "--period", "1",
                                 "--set", "temporary", "--dates", "all", "--layout", "pipe",
                                 "--fields", "none", "--records", "placement", "--output", output},
                                options);
        ++runs;
        const std::string said = readFile(options.stdoutFile) + readFile(options.stderrFile);
        SCOPED_TRACE("run " + std::to_string(runs) + ": " + said);
        ASSERT_NE(rc, -1) << "the preparation did not end normally";
        if (rc == 0 || rc == 6) {
            ++prepared;
            // Every line a whole record: the writer's carry one digit throughout.
            const std::string text = readFile(output);
            for (size_t p = 0; p < text.size();) {
                const size_t eol = text.find("\r\n", p);
                const std::string line = text.substr(p, eol - p);
                p = eol == std::string::npos ? text.size() : eol + 2;
                const std::string id = line.substr(0, line.find('|'));
                if (!id.empty() && id[0] == '9') continue; // the sample's own students
                ++writerLines;
                ASSERT_EQ(id.size(), 9u) << line;
                EXPECT_EQ(id, std::string(9, id[0])) << "a torn SSN: " << line;
                EXPECT_NE(line.find("|EN|" + std::string(2, id[0]) + "|"), std::string::npos)
                    << "a record of two writes: " << line;
            }
        } else {
            // Named as the program opened it: where the file system ignores
            // letter case, in the spelling it asked for.
            std::string lower = said;
            for (char& ch : lower)
                if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
            EXPECT_NE(lower.find("plactemp"), std::string::npos) << "an error that names no table";
        }
    }
    writer.join();
    EXPECT_EQ(writerExit, 0);
    EXPECT_GT(runs, 3);
    RecordProperty("runs", runs);
    RecordProperty("prepared", prepared);
    RecordProperty("writer_lines", writerLines);
}

} // namespace
