// How a DBF field's bytes hold its value: as text, or in a binary form of Visual
// FoxPro tables (I, Y, B, T) that the type letter and, for B, the version byte
// decide. Fields and expressions read binary fields through these decoders only.
//
// docs/formats.md, "Binary fields", gives every reading.
#pragma once

#include "data/Coding.h"

#include <bit>
#include <cstdint>
#include <string>

namespace xbase {

enum class FieldForm : uint8_t {
    Text,     // C, D, L, N, F and the rest read as text
    Integer,  // I (and +): 4-byte little-endian signed integer
    Currency, // Y: 8-byte little-endian signed integer, in ten-thousandths
    Double,   // B of a Visual FoxPro table: 8-byte little-endian IEEE double
    DateTime, // T: 4-byte little-endian Julian day, then 4-byte milliseconds
              // since midnight; all zero when empty
    NotRead,  // bytes that hold no value of their own (memo references: M, G,
              // P, and B of dBASE tables, which is a binary memo), binary
              // types of other engines (O, @, Q, W, the null flags 0), and a
              // binary type of the wrong length
};

// The version bytes of Visual FoxPro tables (0x30, 0x31, 0x32).
bool isVisualFoxPro(uint8_t version);

// The form of a field of this type letter and length in a table of this
// version byte.
FieldForm fieldFormOf(char type, uint16_t length, uint8_t version);

// The decoders of the binary forms; `bytes` points at the field.
inline int32_t binaryInteger(const char* bytes) {
    return static_cast<int32_t>(coding::getLe32(bytes));
}
// A currency value in ten-thousandths (12.3456 is 123456).
inline int64_t binaryCurrencyUnits(const char* bytes) {
    return static_cast<int64_t>(coding::getLe64(bytes));
}
inline double binaryDouble(const char* bytes) {
    return std::bit_cast<double>(coding::getLe64(bytes));
}

// The number a field of form Integer, Currency or Double holds; 0 for any
// other form.
inline double binaryNumber(FieldForm form, const char* bytes) {
    switch (form) {
    case FieldForm::Integer:
        return binaryInteger(bytes);
    case FieldForm::Currency:
        return static_cast<double>(binaryCurrencyUnits(bytes)) / 10000.0;
    case FieldForm::Double:
        return binaryDouble(bytes);
    default:
        return 0;
    }
}

// The text of a binary number, locale-free: an integer in decimal ("-7"), a
// currency value exactly with its four decimals ("12.3456", "0.0000"), a
// double with the field's decimals when it has some (rounded half away from
// zero, as a numeric field stores it), else the shortest decimal text that
// reads back as the same double, never with an exponent ("1.5", "0.1",
// "-22500000000"); "" for a double that is not finite and for other forms.
std::string binaryNumberText(FieldForm form, const char* bytes, int decimals);

// A datetime field's value: its day as a count of days from 30 December
// 1899 (day zero of dates, Value::date) and the milliseconds since midnight.
// Empty when the eight bytes are zeros or blanks, and when they hold no
// moment from 0001-01-01 to 9999-12-31 (a damaged field).
struct BinaryDateTime {
    bool empty = true;
    int32_t day = 0;
    uint32_t milliseconds = 0;
};
BinaryDateTime binaryDateTime(const char* bytes);
// Its text: "mm/dd/yyyy hh:mm:ss" (the date as dates show it, the seconds
// cut), "" when empty.
std::string binaryDateTimeText(const char* bytes);

} // namespace xbase
