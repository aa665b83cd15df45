// Helpers of the table tests: file names in messages, manifest rows.
#pragma once

#include "support/Files.h"
#include "support/Manifest.h"
#include "support/Programs.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tabletest {

namespace fs = std::filesystem;

using Row = std::vector<std::string>;

// True when `message` names `fileName` in any letter case: where names
// ignore case (Windows) the program keeps the spelling it was given.
inline bool namesFile(const std::string& message, std::string fileName) {
    std::string lower = message;
    for (std::string* s : {&lower, &fileName})
        for (char& c : *s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(fileName) != std::string::npos;
}

inline std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace tabletest
