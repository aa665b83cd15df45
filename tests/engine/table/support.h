// Helpers of the table tests: a temporary folder per test, fixture copies and
// the manifests' CSV files.
#pragma once

#include "support/Manifest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

using Row = std::vector<std::string>;

inline std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace testsupport
