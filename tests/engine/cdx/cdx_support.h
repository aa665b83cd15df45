// Helpers of the CDX tests: the fixtures' CSV manifests, a scratch folder,
// and Debian's Perl XBase::Index (index_dump) run as an independent reader.
#pragma once

#include "common/Date.h"
#include "data/Value.h"
#include "data/cdx.h"
#include "support/Files.h"
#include "support/Manifest.h"
#include "support/Programs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace cdxtest {

inline std::string fixtureDir() {
    return std::string(KES_TEST_DATA) + "/formats/cdx";
}

using testsupport::readCsv;

// A key value as the manifests write it.
inline xbase::Value parseValue(xbase::ValueType type, const std::string& text) {
    using xbase::Value;
    switch (type) {
    case xbase::ValueType::Character:
        return Value::character(text);
    case xbase::ValueType::Numeric:
        return Value::numeric(std::strtod(text.c_str(), nullptr));
    case xbase::ValueType::Date: {
        if (text.empty()) return Value::fromDate(0, true);
        const auto d = kes::Date::fromYyyymmdd(text);
        EXPECT_TRUE(d.has_value()) << "bad date in a manifest: " << text;
        return Value::fromDate(d ? d->days() : 0);
    }
    case xbase::ValueType::Logical:
        return Value::boolean(text == "T");
    }
    return Value();
}

// The field types of the sample tables; tags are named after their field.
inline xbase::ValueType sampleFieldType(const std::string& expr) {
    if (expr == "BORN") return xbase::ValueType::Date;
    if (expr == "AMOUNT") return xbase::ValueType::Numeric;
    if (expr == "ACTIVE") return xbase::ValueType::Logical;
    return xbase::ValueType::Character;
}

// The number an 8-byte numeric or date key stands for.
inline double keyToDouble(const unsigned char* k) {
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i)
        u = (u << 8) | k[i];
    u = (u >> 63) ? (u & ~(uint64_t(1) << 63)) : ~u;
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

inline bool haveIndexDump() {
    return !testsupport::findOnPath("index_dump").empty();
}

struct DumpRow {
    std::string key;
    uint32_t recno = 0;
};

// Runs index_dump on one tag; each output line is "<key> <recno>".
inline std::vector<DumpRow> indexDump(const std::string& file, const std::string& tag,
                                      const std::string& type, std::string& error) {
    std::vector<DumpRow> rows;
    const std::string program = testsupport::findOnPath("index_dump");
    std::string out;
    const int code = program.empty()
                         ? -1
                         : testsupport::runProgram({program, "--type=" + type, file, tag}, &out);
    out += "#rc=" + std::to_string(code) + "\n";
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        if (line.rfind("#rc=", 0) == 0) {
            if (line != "#rc=0") error = "index_dump failed (" + line + ")";
            continue;
        }
        const size_t sp = line.rfind(' ');
        if (sp == std::string::npos) {
            error = "unexpected index_dump line: " + line;
            continue;
        }
        rows.push_back(
            {line.substr(0, sp), uint32_t(std::strtoul(line.c_str() + sp + 1, nullptr, 10))});
    }
    return rows;
}

// Checks that index_dump reads `tag` of `file` as the same keys in the same
// order as `expected` (character and logical keys as text without trailing
// blanks, numeric and date keys as numbers).
inline void expectIndexDumpReads(const std::string& file, const xbase::CdxTag& expected) {
    const bool numeric =
        expected.keyType == xbase::ValueType::Numeric || expected.keyType == xbase::ValueType::Date;
    std::string error;
    const std::vector<DumpRow> rows =
        indexDump(file, expected.name, numeric ? "num" : "char", error);
    ASSERT_EQ(error, "") << file << " tag " << expected.name;
    const xbase::KeyEntries& e = expected.entries;
    ASSERT_EQ(rows.size(), e.size()) << file << " tag " << expected.name;
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].recno, e.recnos[i]) << file << " tag " << expected.name << " entry " << i;
        if (numeric) {
            const double want = keyToDouble(e.key(i));
            const double got = std::strtod(rows[i].key.c_str(), nullptr);
            ASSERT_NEAR(got, want, 1e-9 * std::max(1.0, std::abs(want)))
                << file << " tag " << expected.name << " entry " << i;
        } else {
            // XBase::Index takes the leading bytes a key shares with the one
            // before from that key with its trailing blanks as zero bytes
            // (it does so on the fixtures too): compare those as blanks.
            std::string got = rows[i].key;
            std::replace(got.begin(), got.end(), '\0', ' ');
            std::string want(reinterpret_cast<const char*>(e.key(i)), e.keyLength);
            while (!want.empty() && want.back() == ' ')
                want.pop_back();
            ASSERT_EQ(got, want) << file << " tag " << expected.name << " entry " << i;
        }
    }
}

inline void expectSameTags(const std::vector<xbase::CdxTag>& got,
                           const std::vector<xbase::CdxTag>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t t = 0; t < got.size(); ++t) {
        const xbase::CdxTag& a = got[t];
        const xbase::CdxTag& b = want[t];
        EXPECT_EQ(a.name, b.name) << what;
        EXPECT_EQ(a.keyExpression, b.keyExpression) << what;
        EXPECT_EQ(a.forExpression, b.forExpression) << what;
        EXPECT_EQ(a.keyType, b.keyType) << what;
        EXPECT_EQ(a.unique, b.unique) << what;
        EXPECT_EQ(a.descending, b.descending) << what;
        EXPECT_EQ(a.entries.keyLength, b.entries.keyLength) << what << " tag " << b.name;
        EXPECT_TRUE(a.entries.recnos == b.entries.recnos) << what << " tag " << b.name;
        EXPECT_TRUE(a.entries.keys == b.entries.keys) << what << " tag " << b.name;
    }
}

} // namespace cdxtest
