// Helpers of the NTX tests: the fixture CSV manifests, key values from their
// text, a scratch folder, whole-file byte access.
#pragma once

#include "common/Date.h"
#include "data/Value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace ntxtest {

namespace fs = std::filesystem;

inline std::string dataPath(const std::string& relative) {
    return std::string(KES_TEST_DATA) + "/" + relative;
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

// Rows of a manifest CSV without its header line. Quoted fields keep their
// bytes as they are (code page 437, blank padding), "" stands for one quote.
inline std::vector<std::vector<std::string>> readCsv(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
        } else if (c != '\r') {
            field += c;
        }
    }
    if (!field.empty() || !row.empty()) {
        row.push_back(field);
        rows.push_back(row);
    }
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
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

// A folder of its own under the system temp folder, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        std::random_device rd;
        path_ =
            fs::temp_directory_path() / ("kes_ntx_" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

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
