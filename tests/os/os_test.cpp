#include "os/Os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace os = kes::os;

namespace {

// Paths are UTF-8 text; std::filesystem takes them as such only from u8 strings.
fs::path u8path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

class OsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = os::temporaryDirectory() + "kes-os-" + info->name() + "-" +
               std::to_string(os::processId()) + "/";
        fs::remove_all(u8path(dir_));
        ASSERT_TRUE(os::createDirectory(dir_).ok());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(u8path(dir_), ec);
    }

    std::string path(const std::string& name) const { return dir_ + name; }
    void put(const std::string& name, const std::string& bytes) const {
        ASSERT_TRUE(os::writeFileReplacing(path(name), bytes).ok());
    }
    std::string get(const std::string& name) const {
        std::string bytes;
        EXPECT_TRUE(os::readFile(path(name), bytes).ok()) << name;
        return bytes;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        EXPECT_TRUE(os::listDirectory(dir_, out).ok());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string dir_;
};

TEST_F(OsTest, ExclusiveCreationRefusesEveryExistingName) {
    put("existing", "old");
    const bool haveLinks = [&] {
        std::error_code ec;
        fs::create_symlink(u8path(path("existing")), u8path(path("link")), ec);
        fs::create_symlink(u8path(path("nowhere")), u8path(path("dangling")), ec);
        return !ec;
    }();
    struct Case {
        const char* name;
        bool needsLinks;
    } cases[] = {{"existing", false}, {"link", true}, {"dangling", true}};
    for (const Case& c : cases) {
        if (c.needsLinks && !haveLinks) continue; // Windows without the right to make links
        os::File file;
        const os::Status status = os::File::createExclusive(path(c.name), file);
        EXPECT_EQ(status.kind(), os::ErrorKind::Exists) << c.name << ": " << status.message();
        EXPECT_FALSE(file.isOpen()) << c.name;
    }
    // Nothing was written through the links.
    EXPECT_EQ(get("existing"), "old");
    EXPECT_EQ(os::fileKind(path("nowhere")), os::FileKind::Missing);

    os::File fresh;
    ASSERT_TRUE(os::File::createExclusive(path("fresh"), fresh).ok());
    EXPECT_TRUE(fresh.writeAt(0, "abc", 3).ok());
    EXPECT_TRUE(fresh.close().ok());
    EXPECT_EQ(get("fresh"), "abc");
}

TEST_F(OsTest, ReplacingWritesWholeFilesAndLeavesNoTemporary) {
    put("t.txt", "first");
    put("t.txt", "second, longer");
    EXPECT_EQ(get("t.txt"), "second, longer");
    put("t.txt", "");
    EXPECT_EQ(get("t.txt"), "");
    EXPECT_EQ(names(), std::vector<std::string>{"t.txt"});

    // Streaming, and a writer dropped before commit changes nothing.
    {
        os::ReplacingWriter writer;
        ASSERT_TRUE(writer.open(path("t.txt")).ok());
        EXPECT_TRUE(
            os::isReplacementTemporary(writer.temporaryPath().substr(dir_.size()), "t.txt"));
        EXPECT_TRUE(writer.write("never").ok());
    }
    EXPECT_EQ(get("t.txt"), "");
    os::ReplacingWriter writer;
    ASSERT_TRUE(writer.open(path("t.txt")).ok());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writer.write("part ").ok());
    ASSERT_TRUE(writer.commit().ok());
    EXPECT_EQ(get("t.txt"), "part part part ");
    EXPECT_EQ(names(), std::vector<std::string>{"t.txt"});
}

TEST_F(OsTest, FailedReplacementLeavesTheOldFileAndNoTemporary) {
    const std::string old = "the old contents";
    struct Case {
        const char* what;
        std::string target;
        std::string bytes;
        bool limitSize;
    } cases[] = {
        {"the disk fills up", "t.txt", std::string(4096, 'x'), true},
        {"the folder does not exist", "missing/t.txt", "new", false},
        {"a folder holds the name", "folder", "new", false},
    };
    ASSERT_TRUE(os::createDirectory(path("folder")).ok());
    put("t.txt", old);
    for (const Case& c : cases) {
        os::Status status;
        {
            os::FileSizeLimitForTesting limit(c.limitSize ? 1024 : 0);
            if (c.limitSize) {
                ASSERT_TRUE(limit.active());
            }
            status = os::writeFileReplacing(path(c.target), c.bytes);
        }
        EXPECT_FALSE(status.ok()) << c.what;
        EXPECT_FALSE(status.reason().empty()) << c.what;
        EXPECT_EQ(get("t.txt"), old) << c.what;
        EXPECT_EQ(names(), (std::vector<std::string>{"folder", "t.txt"})) << c.what;
        EXPECT_EQ(os::fileKind(path("folder")), os::FileKind::Directory) << c.what;
    }
}

#ifndef _WIN32
TEST_F(OsTest, ReplacementKeepsThePermissionsOfTheFileItReplaces) {
    put("t.txt", "old");
    fs::permissions(u8path(path("t.txt")), fs::perms::owner_read | fs::perms::owner_write);
    put("t.txt", "new");
    EXPECT_EQ(fs::status(u8path(path("t.txt"))).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}
#endif

TEST_F(OsTest, CopyReplacesTheTarget) {
    std::string big(3 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 4096);
    put("source", big);
    put("target", "old");
    ASSERT_TRUE(os::copyFileReplacing(path("source"), path("target")).ok());
    EXPECT_TRUE(get("target") == big);
    EXPECT_FALSE(os::copyFileReplacing(path("absent"), path("target")).ok());
    EXPECT_TRUE(get("target") == big);
    EXPECT_EQ(names(), (std::vector<std::string>{"source", "target"}));
}

TEST_F(OsTest, StaleTemporariesOfOneTargetAreRemoved) {
    for (const char* name :
         {"T.DBF", "T.DBF.kes-ab12cd.tmp", "t.dbf.kes-zz99zz.tmp", "T.DBF.kes-ab1.tmp",
          "T.DBF.kes-AB34CD.tmp", "U.DBF.kes-ab12cd.tmp", "T.DBF.kes-ab12cd.tmp.keep"})
        put(name, "x");
    EXPECT_EQ(os::removeStaleReplacementTemporaries(path("T.DBF")), 2);
    EXPECT_EQ(names(),
              (std::vector<std::string>{"T.DBF", "T.DBF.kes-AB34CD.tmp", "T.DBF.kes-ab1.tmp",
                                        "T.DBF.kes-ab12cd.tmp.keep", "U.DBF.kes-ab12cd.tmp"}));
}

TEST_F(OsTest, PositionedIoBeyondFourGigabytes) {
    os::File file;
    ASSERT_TRUE(os::File::createExclusive(path("sparse"), file).ok());
    const uint64_t far = (uint64_t(5) << 30) + 3;
    if (!file.writeAt(far, "12345678", 8).ok()) GTEST_SKIP() << "no room for a sparse file";
    EXPECT_TRUE(file.writeAt(0, "head", 4).ok());
    uint64_t size = 0;
    ASSERT_TRUE(file.size(size).ok());
    EXPECT_EQ(size, far + 8);
    char back[8] = {};
    ASSERT_TRUE(file.readAt(far + 2, back, 6).ok());
    EXPECT_EQ(std::string(back, 6), "345678");
    // A read past the end says so.
    EXPECT_EQ(file.readAt(far + 4, back, 8).kind(), os::ErrorKind::EndOfFile);
    ASSERT_TRUE(file.truncate(4).ok());
    ASSERT_TRUE(file.size(size).ok());
    EXPECT_EQ(size, 4u);
    ASSERT_TRUE(file.readAt(0, back, 4).ok());
    EXPECT_EQ(std::string(back, 4), "head");
}

TEST_F(OsTest, LocksConflictBetweenOpensAndProcesses) {
    put("table", "x");
    const std::string probe = os::executableDirectory() + KES_LOCK_PROBE_NAME;
    auto probeExit = [&](const char* kind) {
        os::Status status;
        const int code = os::runProgram({probe, path("table"), kind}, {}, &status);
        EXPECT_TRUE(code >= 0) << status.message();
        return code;
    };
    constexpr int kTaken = 0, kConflict = 3;
    struct Case {
        os::LockKind held;
        const char* wanted;
        int expected;
    } cases[] = {
        {os::LockKind::Shared, "shared", kTaken},
        {os::LockKind::Shared, "exclusive", kConflict},
        {os::LockKind::Exclusive, "shared", kConflict},
        {os::LockKind::Exclusive, "exclusive", kConflict},
    };
    for (const Case& c : cases) {
        os::File holder, other;
        ASSERT_TRUE(os::File::openReadWrite(path("table"), holder).ok());
        ASSERT_TRUE(holder.lock(c.held).ok());
        // Another open in this process.
        ASSERT_TRUE(os::File::openRead(path("table"), other).ok());
        const os::Status second = other.lock(
            std::string(c.wanted) == "exclusive" ? os::LockKind::Exclusive : os::LockKind::Shared);
        EXPECT_EQ(second.kind(),
                  c.expected == kTaken ? os::ErrorKind::None : os::ErrorKind::LockConflict)
            << c.wanted;
        other.close();
        // Another process.
        EXPECT_EQ(probeExit(c.wanted), c.expected) << c.wanted;
        // A locked file is still read and written through other opens.
        ASSERT_TRUE(os::File::openReadWrite(path("table"), other).ok());
        EXPECT_TRUE(other.writeAt(0, "y", 1).ok());
        char byte = 0;
        EXPECT_TRUE(holder.readAt(0, &byte, 1).ok());
        EXPECT_EQ(byte, 'y');
        // Released, the lock is free at once.
        holder.unlock();
        EXPECT_EQ(probeExit("exclusive"), kTaken);
    }
    // The probe's own exclusive lock ended with it.
    os::File after;
    ASSERT_TRUE(os::File::openRead(path("table"), after).ok());
    EXPECT_TRUE(after.lock(os::LockKind::Exclusive).ok());
}

// A File's handle and lock travel with it when it moves; the one moved from
// is closed, and a File given another closes its own first (its lock free).
TEST_F(OsTest, MovesCarryTheHandleAndTheLock) {
    put("a", "a");
    put("b", "b");
    auto exclusiveTaken = [&](const char* name) {
        os::File probe;
        EXPECT_TRUE(os::File::openRead(path(name), probe).ok());
        return probe.lock(os::LockKind::Exclusive).ok();
    };
    os::File first;
    ASSERT_TRUE(os::File::openRead(path("a"), first).ok());
    ASSERT_TRUE(first.lock(os::LockKind::Exclusive).ok());

    os::File moved(std::move(first));
    EXPECT_FALSE(first.isOpen());
    EXPECT_FALSE(first.locked());
    EXPECT_TRUE(first.close().ok()); // closing a closed file does nothing
    EXPECT_TRUE(moved.isOpen());
    EXPECT_TRUE(moved.locked());
    EXPECT_EQ(moved.path(), path("a"));
    char byte = 0;
    EXPECT_TRUE(moved.readAt(0, &byte, 1).ok());
    EXPECT_EQ(byte, 'a');
    EXPECT_FALSE(exclusiveTaken("a")); // still held, through the new owner

    os::File other;
    ASSERT_TRUE(os::File::openRead(path("b"), other).ok());
    ASSERT_TRUE(other.lock(os::LockKind::Exclusive).ok());
    other = std::move(moved); // b is closed and its lock let go
    EXPECT_TRUE(exclusiveTaken("b"));
    EXPECT_FALSE(exclusiveTaken("a"));
    EXPECT_TRUE(other.readAt(0, &byte, 1).ok());
    EXPECT_EQ(byte, 'a');

    EXPECT_TRUE(other.close().ok());
    EXPECT_FALSE(other.isOpen());
    EXPECT_TRUE(exclusiveTaken("a"));
}

TEST_F(OsTest, ProgramsRunWithoutAShell) {
    const std::string probe = os::executableDirectory() + KES_LOCK_PROBE_NAME;
    put("with space & 'quote'", "x");
    // Arguments with blanks and quotes arrive as one argument each.
    EXPECT_EQ(os::runProgram({probe, path("with space & 'quote'"), "shared"}), 0);
    EXPECT_EQ(
        os::runProgram({probe, "--argument", "say \"hi\" & a\\\"b c:\\dir\\ $HOME|* c:\\dir\\"}),
        0);
    EXPECT_EQ(os::runProgram({probe, path("absent"), "shared"}), 2);
    os::Status status;
    EXPECT_EQ(os::runProgram({path("no-such-program")}, {}, &status), -1);
    EXPECT_FALSE(status.ok());
}

// A program that runs too long is stopped when its time is up, and one that
// crashed is told from one that ended with an exit code.
TEST_F(OsTest, ProgramsAreStoppedWhenTheirTimeIsUpAndCrashesAreTold) {
    const std::string probe = os::executableDirectory() + KES_LOCK_PROBE_NAME;
    os::RunOptions quick;
    quick.timeoutSeconds = 1;
    const auto started = std::chrono::steady_clock::now();
    const os::ProgramEnding slow = os::runProgramToItsEnd({probe, "--sleep", "60"}, quick);
    EXPECT_EQ(slow.how, os::ProgramEnding::How::TimedOut) << slow.status.message();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_FALSE(slow.status.message().empty());

    os::RunOptions patient;
    patient.timeoutSeconds = 60;
    const os::ProgramEnding ended = os::runProgramToItsEnd({probe, "--sleep", "0"}, patient);
    EXPECT_EQ(ended.how, os::ProgramEnding::How::Exited);
    EXPECT_EQ(ended.exitCode, 0);

    const os::ProgramEnding crashed = os::runProgramToItsEnd({probe, "--crash", "now"});
    EXPECT_EQ(crashed.how, os::ProgramEnding::How::Crashed);
    EXPECT_NE(crashed.crash, 0);
    os::Status status;
    EXPECT_EQ(os::runProgram({probe, "--crash", "now"}, {}, &status), -1);
    EXPECT_FALSE(status.ok());

    const os::ProgramEnding missing = os::runProgramToItsEnd({path("no-such-program")});
    EXPECT_EQ(missing.how, os::ProgramEnding::How::NotStarted);
    EXPECT_FALSE(missing.status.ok());
}

// The user name is the system's own: the account `id -un` names where that
// program is there to ask.
TEST_F(OsTest, TheUserNameIsTheAccountTheProgramRunsAs) {
    const std::string name = os::userName();
    ASSERT_FALSE(name.empty());
    for (char c : name)
        EXPECT_GE(static_cast<unsigned char>(c), 0x20) << name;
#ifndef _WIN32
    if (os::fileKind("/usr/bin/id") != os::FileKind::Regular) GTEST_SKIP() << "no /usr/bin/id";
    os::RunOptions options;
    options.stdoutFile = path("id.txt");
    ASSERT_EQ(os::runProgram({"/usr/bin/id", "-un"}, options), 0);
    EXPECT_EQ(name + "\n", get("id.txt"));
#endif
}

TEST_F(OsTest, EnvironmentAndHomeFolderAsAChildReadsThem) {
    const std::string probe = os::executableDirectory() + KES_LOCK_PROBE_NAME;
    const std::string folder = dir_ + "Donn\xC3\xA9"
                                      "es";
#ifdef _WIN32
    const char* homeVariable = "USERPROFILE";
    const char separator = '\\';
#else
    const char* homeVariable = "HOME";
    const char separator = '/';
#endif
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> environment;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"a UTF-8 value comes back whole",
         {{"KES_PROBE_VALUE", folder}},
         {"--environment", "KES_PROBE_VALUE", folder}},
        {"a variable set to nothing reads as unset",
         {{"KES_PROBE_VALUE", ""}},
         {"--environment", "KES_PROBE_VALUE", ""}},
        {"an unset variable reads as nothing", {}, {"--environment", "KES_PROBE_UNSET_NAME", ""}},
        {"the home folder gains its separator",
         {{homeVariable, folder}},
         {"--home", folder + separator}},
        {"a home folder with its separator keeps it",
         {{homeVariable, folder + separator}},
         {"--home", folder + separator}},
    };
    for (const Case& c : cases) {
        os::RunOptions options;
        options.environment = c.environment;
        std::vector<std::string> argv{probe};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(os::runProgram(argv, options), 0) << c.what;
    }
    // The probe does say no.
    os::RunOptions other;
    other.environment = {{"KES_PROBE_VALUE", "one"}};
    EXPECT_EQ(os::runProgram({probe, "--environment", "KES_PROBE_VALUE", "two"}, other), 5);
}

TEST_F(OsTest, Utf8PathsReachTheFileSystem) {
    const std::string folder = dir_ + "Donn\xC3\xA9"
                                      "es/";
    ASSERT_TRUE(os::createDirectory(folder).ok());
    EXPECT_EQ(os::fileKind(folder), os::FileKind::Directory);
    ASSERT_TRUE(os::writeFileReplacing(folder + "\xC3\xA9t\xC3\xA9.txt", "summer").ok());
    std::vector<std::string> entries;
    ASSERT_TRUE(os::listDirectory(folder, entries).ok());
    EXPECT_EQ(entries, std::vector<std::string>{"\xC3\xA9t\xC3\xA9.txt"});
    std::string bytes;
    ASSERT_TRUE(os::readFile(folder + "\xC3\xA9t\xC3\xA9.txt", bytes).ok());
    EXPECT_EQ(bytes, "summer");
    // The same name as the file system sees it.
    EXPECT_TRUE(fs::exists(u8path(folder) / u8path("\xC3\xA9t\xC3\xA9.txt")));
}

TEST_F(OsTest, FileKindsAndMissingFiles) {
    put("file", "x");
    EXPECT_EQ(os::fileKind(path("file")), os::FileKind::Regular);
    EXPECT_EQ(os::fileKind(dir_), os::FileKind::Directory);
    EXPECT_EQ(os::fileKind(path("absent")), os::FileKind::Missing);
    os::File file;
    EXPECT_EQ(os::File::openRead(path("absent"), file).kind(), os::ErrorKind::NotFound);
    EXPECT_FALSE(os::File::openRead(dir_, file).ok());
    EXPECT_EQ(os::removeFile(path("absent")).kind(), os::ErrorKind::NotFound);
    EXPECT_TRUE(os::removeFile(path("file")).ok());
    EXPECT_EQ(os::fileKind(path("file")), os::FileKind::Missing);
}

TEST(LocalTime, BreaksAMomentDown) {
    // Noon UTC on 1 January 2000 is that day in every time zone within 11 hours.
    const os::CalendarTime t = os::localTime(std::time_t(946684800) + 12 * 3600);
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.minute % 15, 0);
    EXPECT_EQ(t.second, 0);
}

} // namespace

// The memory a process holds shows in its resident and peak figures (64 MB
// touched cannot hide in rounding), and its work in its processor time.
TEST(ProcessFigures, MemoryTouchedAndWorkDoneShow) {
    const uint64_t peakBefore = os::peakResidentMemoryBytes();
    const double processorBefore = os::processorSeconds();
    ASSERT_GT(peakBefore, 0u);
    ASSERT_GT(os::residentMemoryBytes(), 0u);
    constexpr size_t kSize = 64u << 20;
    char* block = static_cast<char*>(os::allocatePages(kSize));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < kSize; i += 4096)
        block[i] = static_cast<char>(i >> 12);
    const uint64_t resident = os::residentMemoryBytes();
    const uint64_t peak = os::peakResidentMemoryBytes();
    volatile uint64_t sum = 0;
    for (int round = 0; round < 20; ++round)
        for (size_t i = 0; i < kSize; i += 64)
            sum = sum + static_cast<unsigned char>(block[i]);
    os::freePages(block, kSize);
    EXPECT_GE(resident, kSize);
    EXPECT_GE(peak, resident);
    EXPECT_GE(peak, peakBefore);
    EXPECT_GT(os::processorSeconds(), processorBefore);
}

// Pages that grow keep their bytes, and the part they grow by reads as zero,
// whether they grow where they are or move: blocks taken between the steps
// stand in the way of growing in place.
TEST(Pages, GrownPagesKeepTheirBytesAndGrowByZeros) {
    constexpr size_t kStep = 2u << 20;
    size_t size = kStep;
    char* data = static_cast<char*>(os::allocatePages(size));
    ASSERT_NE(data, nullptr);
    auto byteAt = [](size_t i) { return static_cast<char>((i * 131 + i / 4096) | 1); };
    for (size_t i = 0; i < size; ++i)
        data[i] = byteAt(i);
    std::vector<void*> inTheWay;
    for (int step = 0; step < 6; ++step) {
        SCOPED_TRACE("growing to " + std::to_string((size + kStep * (step + 1)) >> 20) + " MB");
        inTheWay.push_back(os::allocatePages(kStep));
        static_cast<char*>(inTheWay.back())[0] = 1;
        const size_t grown = size + kStep * (step + 1);
        char* moved = static_cast<char*>(os::growPages(data, size, grown));
        ASSERT_NE(moved, nullptr);
        for (size_t i = 0; i < size; ++i)
            ASSERT_EQ(moved[i], byteAt(i)) << "byte " << i;
        for (size_t i = size; i < grown; ++i)
            ASSERT_EQ(moved[i], 0) << "byte " << i;
        for (size_t i = size; i < grown; ++i)
            moved[i] = byteAt(i);
        data = moved;
        size = grown;
    }
    os::freePages(data, size);
    for (void* block : inTheWay)
        os::freePages(block, kStep);
}
