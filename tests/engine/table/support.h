// Helpers of the table tests: a temporary folder per test, fixture copies and
// the manifests' CSV files.
#pragma once

#include "support/Manifest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

inline std::string fixture(const std::string& relative) {
    return std::string(KES_TEST_DATA) + "/" + relative;
}

// A folder that exists for one test and is removed afterwards.
class TempDir {
  public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("kes-") + info->test_suite_name() + "-" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = fs::temp_directory_path() / name;
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    // The folder with a trailing separator, as DatabaseName wants it.
    std::string dir() const { return path_.string() + "/"; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // Copies a fixture file in (writable) and returns its new path.
    std::string copy(const std::string& relative, const std::string& as = "") const {
        fs::path from = fixture(relative);
        fs::path to = path_ / (as.empty() ? from.filename().string() : as);
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
        return to.string();
    }

  private:
    fs::path path_;
};

using Row = std::vector<std::string>;

inline std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace testsupport
