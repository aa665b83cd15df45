// A value of the xBase type system as expressions and index keys see it.
// Character values hold the table's stored bytes (its code page), not UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace xbase {

enum class ValueType { Character, Numeric, Date, Logical };

// The Julian day number of 30 December 1899, day zero of Value::date (FoxPro
// stores dates as Julian day numbers in datetime fields and index keys).
inline constexpr int32_t kJulianDayZero = 2415019;

struct Value {
    ValueType type = ValueType::Character;
    std::string str;        // Character
    double num = 0;         // Numeric
    int32_t date = 0;       // Date: days from 30 December 1899 (see dateEmpty)
    bool dateEmpty = false; // Date: an empty date (eight blanks on disk)
    bool logical = false;   // Logical

    static Value character(std::string s) {
        Value v;
        v.type = ValueType::Character;
        v.str = std::move(s);
        return v;
    }
    static Value numeric(double n) {
        Value v;
        v.type = ValueType::Numeric;
        v.num = n;
        return v;
    }
    static Value fromDate(int32_t days, bool empty = false) {
        Value v;
        v.type = ValueType::Date;
        v.date = days;
        v.dateEmpty = empty;
        return v;
    }
    static Value boolean(bool b) {
        Value v;
        v.type = ValueType::Logical;
        v.logical = b;
        return v;
    }
};

} // namespace xbase
