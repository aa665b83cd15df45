// Helpers of the NTX tests: the fixture CSV manifests, key values from their
// text, a scratch folder, whole-file byte access.
#pragma once

#include "common/Date.h"
#include "data/Value.h"
#include "support/Manifest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ntxtest {

namespace fs = std::filesystem;

inline std::string dataPath(const std::string& relative) {
    return testsupport::fixture(relative);
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

using testsupport::readCsv;

// The value a manifest shows for a key of type C, N or D.
inline xbase::Value csvValue(char type, const std::string& text) {
    switch (type) {
    case 'N':
        return xbase::Value::numeric(text.empty() ? 0.0 : std::stod(text));
    case 'D': {
        if (text.empty()) return xbase::Value::fromDate(0, true);
        auto date = kes::Date::fromYyyymmdd(text);
        EXPECT_TRUE(date.has_value()) << text;
        return xbase::Value::fromDate(date ? date->days() : 0);
    }
    default:
        return xbase::Value::character(text);
    }
}

// A folder of its own under the system temp folder, removed afterwards.
using ScratchDir = testsupport::TempDir;

inline uint16_t get16(const std::vector<unsigned char>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint32_t get32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline void put16(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

} // namespace ntxtest
