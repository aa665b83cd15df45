// Helpers shared by the export tests: a scratch directory and file access.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace exporttest {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string golden(const std::string& name) {
    return readFile(std::string(KES_EXPORT_GOLDEN) + "/" + name);
}

// A fresh directory for the running test, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = std::filesystem::temp_directory_path() /
                ("kes_export_" + std::to_string(::getpid()) + "_" + name);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    // The directory with a trailing separator.
    std::string dir() const { return path_.string() + "/"; }

  private:
    std::filesystem::path path_;
};

} // namespace exporttest
