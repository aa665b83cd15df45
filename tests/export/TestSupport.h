// Helpers shared by the export tests: golden files and file access.
#pragma once

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
using ScratchDir = testsupport::TempDir;

} // namespace exporttest
