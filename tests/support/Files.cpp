#include "support/Files.h"

#include "os/Os.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
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

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, std::string_view bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void copyFolder(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive);
    for (auto& entry : fs::recursive_directory_iterator(to))
        makeWritable(entry.path());
}

bool fileNamesIgnoreCase(const fs::path& folder) {
    const fs::path probe = folder / "kes-case-probe";
    { std::ofstream(probe) << "x"; }
    std::error_code error;
    const bool ignores = fs::exists(folder / "KES-CASE-PROBE", error);
    fs::remove(probe, error);
    return ignores;
}

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
    return (path_ / "").string(); // the system's own separator at the end
}

std::string TempDir::file(const std::string& name) const {
    return (path_ / name).string();
}

std::string TempDir::copy(const std::string& relative, const std::string& as) const {
    fs::path from = fixture(relative);
    fs::path to = path_ / (as.empty() ? from.filename().string() : as);
    // Through the program's own copy: std::filesystem's refuses to replace a
    // file with mingw-w64's runtime.
    const kes::os::Status copied = kes::os::copyFileReplacing(from.string(), to.string());
    if (!copied.ok()) throw std::runtime_error(copied.message());
    makeWritable(to);
    return to.string();
}

void TempDir::copyFolder(const std::string& relative) const {
    testsupport::copyFolder(fixture(relative), path_);
}

} // namespace testsupport
