// The clean-up of replacement temporaries and a replacement under way: a
// temporary that a live writer holds is never taken for one a killed run left.
#include "os/Os.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

} // namespace
