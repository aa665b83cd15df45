// Helpers of the NTX tests: key values from the fixture manifests' text, and
// a whole index file as bytes with its little-endian fields.
#pragma once

#include "common/Date.h"
#include "data/Value.h"
#include "support/Files.h"
#include "support/Manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ntxtest {

namespace fs = std::filesystem;

using testsupport::fixture;
using testsupport::readCsv;
using testsupport::TempDir;

// A whole file as unsigned bytes, for the page arithmetic below.
inline std::vector<unsigned char> readBytes(const std::string& path) {
    const std::string bytes = testsupport::readFile(path);
    return {bytes.begin(), bytes.end()};
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    testsupport::writeFile(path, std::string(bytes.begin(), bytes.end()));
}

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
