// Helpers for the expression tests: record layouts built by hand and raw
// record buffers filled the way a DBF stores its fields.
#pragma once

#include "common/Date.h"
#include "data/Value.h"
#include "data/dbf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace exprtest {

struct Layout {
    std::vector<xbase::FieldDef> fields;
    uint32_t recordLength = 1; // byte 0: the deletion flag

    Layout& add(std::string name, char type, uint16_t length, uint8_t decimals = 0) {
        xbase::FieldDef f;
        f.name = std::move(name);
        f.type = type;
        f.offset = recordLength;
        f.length = length;
        f.decimals = decimals;
        f.form = xbase::fieldFormOf(type, length, 0x30); // as a Visual FoxPro table has it
        recordLength += length;
        fields.push_back(f);
        return *this;
    }

    std::string blank() const { return std::string(recordLength, ' '); }

    const xbase::FieldDef& field(std::string_view name) const {
        for (const auto& f : fields)
            if (f.name == name) return f;
        throw std::logic_error("test layout has no field " + std::string(name));
    }

    // Stores `text` as a DBF does: C left-aligned and blank-padded, N and F
    // right-aligned, D and L as given (blank-padded). I takes a decimal number
    // and stores it as a 4-byte little-endian integer.
    void set(std::string& rec, std::string_view name, std::string_view text) const {
        const xbase::FieldDef& f = field(name);
        char* p = rec.data() + f.offset;
        if (f.type == 'I') {
            const auto v = static_cast<uint32_t>(std::stol(std::string(text)));
            for (int k = 0; k < 4; ++k)
                p[k] = static_cast<char>((v >> (8 * k)) & 0xFF);
            return;
        }
        if (text.size() > f.length) throw std::logic_error("value too long for " + f.name);
        std::memset(p, ' ', f.length);
        if (f.type == 'N' || f.type == 'F')
            std::memcpy(p + f.length - text.size(), text.data(), text.size());
        else
            std::memcpy(p, text.data(), text.size());
    }

    using Values = std::vector<std::pair<std::string, std::string>>;

    std::string record(const Values& values, bool deleted = false) const {
        std::string rec = blank();
        rec[0] = deleted ? '*' : ' ';
        for (const auto& [name, text] : values)
            set(rec, name, text);
        return rec;
    }
};

// An expected value, written compactly in case tables.
struct Expect {
    xbase::ValueType type = xbase::ValueType::Logical;
    std::string text; // Character; Date as yyyymmdd ("" = empty date)
    double num = 0;
    bool logical = false;
};
inline Expect L(bool b) {
    return {xbase::ValueType::Logical, {}, 0, b};
}
inline Expect N(double n) {
    return {xbase::ValueType::Numeric, {}, n, false};
}
inline Expect C(std::string s) {
    return {xbase::ValueType::Character, std::move(s), 0, false};
}
inline Expect D(std::string yyyymmdd) {
    return {xbase::ValueType::Date, std::move(yyyymmdd), 0, false};
}

inline const char* typeName(xbase::ValueType t) {
    switch (t) {
    case xbase::ValueType::Character:
        return "C";
    case xbase::ValueType::Numeric:
        return "N";
    case xbase::ValueType::Date:
        return "D";
    case xbase::ValueType::Logical:
        return "L";
    }
    return "?";
}

inline void expectValue(const xbase::Value& v, const Expect& e, const std::string& where) {
    SCOPED_TRACE(where);
    ASSERT_EQ(typeName(v.type), std::string(typeName(e.type)));
    switch (e.type) {
    case xbase::ValueType::Character:
        EXPECT_EQ(v.str, e.text);
        break;
    case xbase::ValueType::Numeric:
        EXPECT_DOUBLE_EQ(v.num, e.num);
        break;
    case xbase::ValueType::Logical:
        EXPECT_EQ(v.logical, e.logical);
        break;
    case xbase::ValueType::Date:
        if (e.text.empty()) {
            EXPECT_TRUE(v.dateEmpty);
            EXPECT_EQ(v.date, 0);
        } else {
            EXPECT_FALSE(v.dateEmpty);
            auto d = kes::Date::fromYyyymmdd(e.text);
            ASSERT_TRUE(d.has_value()) << e.text;
            EXPECT_EQ(v.date, d->days()) << "expected " << e.text;
        }
        break;
    }
}

} // namespace exprtest
