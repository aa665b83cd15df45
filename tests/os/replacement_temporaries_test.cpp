// The clean-up of replacement temporaries and a replacement under way: a
// temporary that a live writer holds is never taken for one a killed run left;
// a run ended from outside removes its own temporaries on its way out.
#include "os/Os.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace os = kes::os;

namespace {

TEST(ReplacementTemporaries, TheCleanUpLeavesTheTemporaryOfAWriterAtWork) {
    const std::string dir =
        os::temporaryDirectory() + "kes-os-live-temporary-" + std::to_string(os::processId()) + "/";
    fs::remove_all(dir);
    ASSERT_TRUE(os::createDirectory(dir).ok());
    const std::string target = dir + "same.txt";

    // Another run writes the same file and is half way through it.
    os::ReplacingWriter live;
    ASSERT_TRUE(live.open(target).ok());
    ASSERT_TRUE(live.write("first half, ").ok());
    // A killed run left a temporary of its own.
    ASSERT_TRUE(os::writeFileReplacing(dir + "stale", "left").ok());
    const std::string stale = target + ".kes-ab12cd.tmp";
    fs::rename(dir + "stale", stale);

    EXPECT_EQ(os::removeStaleReplacementTemporaries(target), 1);
    EXPECT_FALSE(fs::exists(stale)) << "the killed run's temporary stayed";
    EXPECT_TRUE(fs::exists(live.temporaryPath())) << "the live writer's temporary went";
    ASSERT_TRUE(live.write("second half").ok());
    EXPECT_TRUE(live.commit().ok());
    std::string bytes;
    ASSERT_TRUE(os::readFile(target, bytes).ok());
    EXPECT_EQ(bytes, "first half, second half");
    fs::remove_all(dir);
}

#ifndef _WIN32
std::vector<std::string> temporariesIn(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".kes-") != std::string::npos)
            found.push_back(entry.path().filename().string());
    return found;
}

// The program ends by the signal it was sent, as it would have without the
// handler, and the half-written upload file's temporary goes with it; the
// previous file stays.
TEST(ReplacementTemporaries, ARunEndedFromOutsideLeavesNoTemporary) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir =
        os::temporaryDirectory() + "kes-os-terminated-" + std::to_string(os::processId()) + "/";
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        fs::remove_all(dir);
        ASSERT_TRUE(os::createDirectory(dir).ok());
        const std::string target = dir + "upload.asc";
        ASSERT_TRUE(os::writeFileReplacing(target, "previous").ok());
        EXPECT_EXIT(
            {
                os::removeTemporariesOnTermination();
                os::ReplacingWriter writer;
                if (!writer.open(target).ok() || !writer.write("half of the new file").ok())
                    std::_Exit(3);
                std::raise(signal);
                std::_Exit(4); // the signal did not end the program
            },
            testing::KilledBySignal(signal), "");
        EXPECT_EQ(temporariesIn(dir), std::vector<std::string>{});
        std::string bytes;
        ASSERT_TRUE(os::readFile(target, bytes).ok());
        EXPECT_EQ(bytes, "previous");
    }
    fs::remove_all(dir);
}
#endif

} // namespace
