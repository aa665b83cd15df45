// The OS layer's fault injection: every call that changes the disk is one
// numbered point, the chosen one fails as the system would fail it, and in
// crash mode every later one fails too. The replace routine, failed at each
// of its points in turn, keeps its promise: the old file stays whole.
#include "os/Os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace os = kes::os;
using Injection = os::FaultInjectionForTesting;

namespace {

class FaultInjectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = os::temporaryDirectory() + "kes-faults-" + info->name() + "-" +
               std::to_string(os::processId()) + "/";
        fs::remove_all(dir_);
        ASSERT_TRUE(os::createDirectory(dir_).ok());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string path(const std::string& name) const { return dir_ + name; }
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

    // One call of every kind of point, in the order of WritePoint, each
    // checked as it goes; the first failure ends it.
    os::Status touchEveryKind() const {
        os::File file;
        os::Status s = os::File::createExclusive(path("a"), file);
        if (s.ok()) s = file.close();
        if (s.ok()) s = os::File::openReadWrite(path("a"), file);
        if (s.ok()) s = file.writeAt(0, "abcdef", 6);
        if (s.ok()) s = file.truncate(3);
        if (s.ok()) s = file.sync();
        if (s.ok()) s = file.lock(os::LockKind::Exclusive);
        if (s.ok()) s = file.close();
        if (s.ok()) s = os::renameReplacing(path("a"), path("b"));
        if (s.ok()) s = os::removeFile(path("b"));
        if (s.ok()) s = os::createDirectory(path("sub"));
        return s;
    }

    std::string dir_;
};

const os::WritePoint kEveryKind[] = {
    os::WritePoint::Create,    os::WritePoint::OpenForWriting, os::WritePoint::Write,
    os::WritePoint::SetLength, os::WritePoint::Flush,          os::WritePoint::Lock,
    os::WritePoint::Rename,    os::WritePoint::Remove,         os::WritePoint::MakeFolder};

TEST_F(FaultInjectionTest, EveryCallThatChangesTheDiskIsOnePointAndReadsAreNone) {
    Injection counting;
    ASSERT_TRUE(touchEveryKind().ok());
    // Reads, listings and kinds are no points.
    std::string bytes;
    std::vector<std::string> listed;
    EXPECT_TRUE(os::listDirectory(dir_, listed).ok());
    EXPECT_EQ(os::fileKind(path("sub")), os::FileKind::Directory);
    EXPECT_FALSE(os::readFile(path("b"), bytes).ok());

    const std::vector<Injection::Visit> visits = counting.visits();
    ASSERT_EQ(visits.size(), std::size(kEveryKind));
    EXPECT_EQ(counting.points(), std::size(kEveryKind));
    for (size_t i = 0; i < visits.size(); ++i) {
        EXPECT_EQ(visits[i].point, kEveryKind[i]) << os::writePointName(visits[i].point);
        EXPECT_FALSE(visits[i].failed);
    }
    EXPECT_EQ(visits[0].path, path("a"));
    EXPECT_EQ(visits[6].path, path("a") + " to " + path("b"));
    EXPECT_FALSE(counting.struck());
}

// Each kind of point fails alone when its number comes, with the system's
// kind of error and a reason that says it was injected; the calls before it
// went through and none after it is made.
TEST_F(FaultInjectionTest, TheChosenPointFailsAsTheSystemWould) {
    const os::ErrorKind expectedKind[] = {
        os::ErrorKind::AccessDenied, os::ErrorKind::AccessDenied, os::ErrorKind::Other,
        os::ErrorKind::Other,        os::ErrorKind::Other,        os::ErrorKind::Other,
        os::ErrorKind::AccessDenied, os::ErrorKind::AccessDenied, os::ErrorKind::AccessDenied};
    for (size_t n = 1; n <= std::size(kEveryKind); ++n) {
        SCOPED_TRACE(os::writePointName(kEveryKind[n - 1]));
        fs::remove_all(path("sub"));
        for (const char* name : {"a", "b"})
            fs::remove(path(name));
        os::Status status;
        std::vector<Injection::Visit> visits;
        {
            Injection injection(n);
            status = touchEveryKind();
            EXPECT_TRUE(injection.struck());
            visits = injection.visits();
        }
        EXPECT_FALSE(status.ok());
        EXPECT_EQ(status.kind(), expectedKind[n - 1]) << status.message();
        EXPECT_NE(status.reason().find(Injection::kInjectedFaultMark), std::string::npos);
        EXPECT_NE(status.message().find(visits.back().path), std::string::npos) << status.message();
        ASSERT_EQ(visits.size(), n);
        EXPECT_TRUE(visits.back().failed);
        for (size_t i = 0; i + 1 < n; ++i)
            EXPECT_FALSE(visits[i].failed);
    }
    // The injection is gone with its object: the same calls all succeed.
    fs::remove_all(path("sub"));
    for (const char* name : {"a", "b"})
        fs::remove(path(name));
    EXPECT_TRUE(touchEveryKind().ok());
}

TEST_F(FaultInjectionTest, ACrashFailsThePointAndEveryOneAfterUntilDisarmed) {
    Injection crash(2, Injection::Mode::Crash);
    os::File file;
    ASSERT_TRUE(os::File::createExclusive(path("a"), file).ok());
    EXPECT_FALSE(file.writeAt(0, "x", 1).ok());
    EXPECT_FALSE(file.sync().ok());
    EXPECT_FALSE(os::removeFile(path("a")).ok());
    EXPECT_TRUE(crash.struck());
    EXPECT_EQ(crash.points(), 4u);
    crash.disarm();
    EXPECT_TRUE(file.writeAt(0, "y", 1).ok());
    EXPECT_TRUE(file.close().ok());
    EXPECT_EQ(get("a"), "y");
    EXPECT_EQ(crash.points(), 4u) << "a disarmed injection counts no more";
}

// The replace routine failed at each of its points in turn: the old target
// is whole afterwards and, when only that one point failed, no temporary
// file is left; when the program "stopped" there, the next replacement
// clears what it left and succeeds.
TEST_F(FaultInjectionTest, TheReplaceRoutineFailedAtEachPointKeepsTheOldFile) {
    const std::string old = "the old contents";
    const std::string fresh = std::string(10000, 'n');
    ASSERT_TRUE(os::writeFileReplacing(path("t.txt"), old).ok());
    uint64_t total = 0;
    std::vector<Injection::Visit> visits;
    {
        Injection counting;
        ASSERT_TRUE(os::writeFileReplacing(path("t.txt"), old).ok());
        total = counting.points();
        visits = counting.visits();
    }
    ASSERT_GE(total, 4u) << "create, write, flush and rename at least";
    for (Injection::Mode mode : {Injection::Mode::FailOnce, Injection::Mode::Crash}) {
        const bool crash = mode == Injection::Mode::Crash;
        for (uint64_t n = 1; n <= total; ++n) {
            SCOPED_TRACE((crash ? "crash at point " : "failure at point ") + std::to_string(n));
            os::Status status;
            {
                Injection injection(n, mode);
                status = os::writeFileReplacing(path("t.txt"), fresh);
                EXPECT_TRUE(injection.struck());
            }
            // The lock on the temporary only keeps other runs' clean-ups
            // away from it: a writer that cannot take it writes on.
            if (!crash && visits[n - 1].point == os::WritePoint::Lock) {
                EXPECT_TRUE(status.ok()) << status.message();
                EXPECT_EQ(get("t.txt"), fresh);
                ASSERT_TRUE(os::writeFileReplacing(path("t.txt"), old).ok());
                continue;
            }
            EXPECT_FALSE(status.ok());
            EXPECT_NE(status.message().find(path("t.txt")), std::string::npos) << status.message();
            EXPECT_EQ(get("t.txt"), old);
            if (!crash) {
                EXPECT_EQ(names(), std::vector<std::string>{"t.txt"});
            }
            os::removeStaleReplacementTemporaries(path("t.txt"));
            EXPECT_EQ(names(), std::vector<std::string>{"t.txt"});
        }
    }
    ASSERT_TRUE(os::writeFileReplacing(path("t.txt"), fresh).ok());
    EXPECT_EQ(get("t.txt"), fresh);
}

} // namespace
