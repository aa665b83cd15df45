#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <random>
#include <system_error>

namespace testsupport {

namespace fs = std::filesystem;

std::string fixture(const std::string& relative) {
    return std::string(KES_TEST_DATA) + "/" + relative;
}

namespace {

// The start of the running test's name, fit for a file name; "" outside a
// test. Kept short: local sockets live in such folders, and their paths have
// a small limit.
std::string testName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) return {};
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) c = '_';
    return name.substr(0, 24);
}

void makeWritable(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

} // namespace

TempDir::TempDir(const std::string& tag) {
    // Test programs run side by side (ctest -j), and one test may hold
    // several folders: a random part keeps the names apart.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string base = "kes-" + testName() + (tag.empty() ? "" : "-" + tag) + "-";
    for (int attempt = 0;; ++attempt) {
        fs::path candidate = fs::temp_directory_path() /
                             (base + std::to_string(random()) + "-" + std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            fs::permissions(candidate, fs::perms::owner_all); // private, as runtime folders must be
            path_ = candidate;
            return;
        }
        if (attempt > 100) throw std::runtime_error("cannot create a temporary folder");
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::dir() const {
    return path_.string() + "/";
}

std::string TempDir::file(const std::string& name) const {
    return (path_ / name).string();
}

std::string TempDir::copy(const std::string& relative, const std::string& as) const {
    fs::path from = fixture(relative);
    fs::path to = path_ / (as.empty() ? from.filename().string() : as);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    makeWritable(to);
    return to.string();
}

void TempDir::copyFolder(const std::string& relative) const {
    fs::copy(fixture(relative), path_, fs::copy_options::recursive);
    for (auto& entry : fs::recursive_directory_iterator(path_))
        makeWritable(entry.path());
}

} // namespace testsupport
