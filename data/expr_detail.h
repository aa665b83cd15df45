// Private parts of the expression engine (data/expr*.cpp): the compiled form
// of an expression, the evaluator's entry points and the small number, date
// and comparison helpers the evaluator and the parser share. Nothing outside
// data/expr*.cpp and its tests includes this.
#pragma once

#include "common/Date.h"
#include "data/Value.h"
#include "data/expr.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace xbase::exprdetail {

// Operations of the compiled form. The first letter says the result type:
// C character, N numeric, D date, L logical.
enum class Op : uint8_t {
    // character
    CField,     // the stored bytes, trailing blanks included
    CDtosField, // DTOS(<date field>): the stored bytes when they are a valid date, else 8 blanks
    CLit,
    CConcat,     // a + b
    CConcatTrim, // a - b: trailing blanks of a moved to the end
    CUpper,
    CLower,
    CTrim,
    CLTrim,
    CAllTrim,
    CLeft,
    CRight,
    CSubstr, // a, b = start, c = count or -1
    CStr,    // a, b = width or -1, c = decimals or -1
    CDtos,
    CDtoc,
    CIif,
    // numeric
    NField,       // N, F: text read as a number
    NFieldInt,    // I, +: 4-byte little-endian signed integer
    NFieldCur,    // Y: 8-byte little-endian integer / 10000
    NFieldDouble, // B of a Visual FoxPro table: 8-byte little-endian double
    NLit,
    NNeg,
    NAdd,
    NSub,
    NMul,
    NDiv,
    NVal,
    NRecno,
    NDateDiff, // date - date
    NLen,
    NAt,
    NInt,
    NAbs,
    NYear,
    NMonth,
    NDay,
    NIif,
    // date
    DField,
    DAddN, // date + n, n + date (a is the date)
    DSubN, // date - n
    DStod,
    DCtod,
    DLit, // a folded constant date (num holds the days, kNoDate for empty)
    DIif,
    // logical
    LField,
    LLit,
    LAnd,
    LOr,
    LNot,
    LCmpC,
    LCmpDtosLit,  // DTOS(<date field>) <cmp> <8-byte literal>: one 64-bit compare
    LCmpFieldLit, // <character field> <cmp> <literal>
    LDtosRange,   // two LCmpDtosLit on one field joined by .AND.: the date is read once
    LCmpN,
    LCmpD,
    LCmpL,
    LContains, // a $ b
    LEmptyC,
    LEmptyN,
    LEmptyD,
    LEmptyL,
    LDeleted,
    LIif,
};

// Comparison kinds; Exact is "==" (only different from Eq on character values).
enum class Cmp : uint8_t { Eq, Ne, Lt, Le, Gt, Ge, Exact };

struct Node {
    Op op = Op::LLit;
    ValueType type = ValueType::Logical;
    Cmp cmp = Cmp::Eq;
    uint8_t dec = 0;                // CStr: decimals when no third argument is given
    int32_t a = -1, b = -1, c = -1; // operands (indexes into the node vector)
    uint32_t off = 0;               // field offset in the record, or literal offset in the pool
    uint32_t len = 0;     // field length, literal length; C nodes: the longest possible result
    uint32_t scratch = 0; // offset of the node's scratch area (C nodes that build text)
    int32_t field = -1;   // field index of field nodes
    uint32_t pos = 0;     // byte offset in the text where the sub-expression starts
    double num = 0;       // NLit: the value; CStr: width when no second argument is given
    uint64_t key = 0;     // LCmpDtosLit: the literal as a big-endian number
    uint64_t key2 = 0;    // LDtosRange: the second literal
    Cmp cmp2 = Cmp::Eq;   // LDtosRange: the second comparison
    uint32_t off2 = 0;    // LCmpFieldLit: literal offset in the pool
    uint32_t len2 = 0;    // LCmpFieldLit: literal length
    int32_t date = 0;     // DLit
    bool logical = false; // LLit; LCmpDtosLit: the result for an empty date
};

// Dates inside the evaluator: days from 30 December 1899, kNoDate for an empty date.
inline constexpr int32_t kNoDate = INT32_MIN;

using kes::daysFromCivil;
inline constexpr int64_t kEpochCivil = kes::kDayZeroCivil;
inline constexpr int32_t kFirstDay = static_cast<int32_t>(daysFromCivil(1, 1, 1) - kEpochCivil);
inline constexpr int32_t kLastDay = static_cast<int32_t>(daysFromCivil(9999, 12, 31) - kEpochCivil);

inline int32_t ymdToDays(int y, int m, int d) {
    return static_cast<int32_t>(
        daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kEpochCivil);
}
void daysToYmd(int32_t days, int& y, int& m, int& d);

inline bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
inline int daysInMonth(int y, int m) {
    static constexpr uint8_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

inline uint64_t load64(const char* p) {
    uint64_t x;
    std::memcpy(&x, p, 8);
    return x;
}

// The 8 bytes at p as a number whose order is their byte order (memcmp order).
inline uint64_t loadBigEndian64(const char* p) {
    const uint64_t x = load64(p);
    if constexpr (std::endian::native == std::endian::little) {
#if defined(_MSC_VER) && !defined(__clang__)
        return _byteswap_uint64(x);
#else
        return __builtin_bswap64(x);
#endif
    } else {
        return x;
    }
}

// True when all 8 bytes are ASCII digits (byte order does not matter).
inline bool eightDigits(uint64_t x) {
    return ((x & 0xF0F0F0F0F0F0F0F0ull) |
            (((x + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) == 0x3333333333333333ull;
}

// Reads 8 bytes "yyyymmdd"; false unless they are digits forming a valid date
// from 0001-01-01 to 9999-12-31.
inline bool readYmd(const char* p, int& y, int& m, int& d) {
    if (!eightDigits(load64(p))) return false;
    y = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
    m = (p[4] - '0') * 10 + (p[5] - '0');
    d = (p[6] - '0') * 10 + (p[7] - '0');
    if (y == 0 || m < 1 || m > 12 || d < 1) return false;
    return d <= 28 || d <= daysInMonth(y, m);
}

inline bool validYmd(const char* p) {
    int y, m, d;
    return readYmd(p, y, m, d);
}

// The compiled program; Expression::Impl is one (Impl is private to Expression).
struct Program {
    std::string text;
    std::vector<Node> nodes;
    std::string pool; // literal bytes
    int32_t root = -1;
    ValueType type = ValueType::Logical;
    int singleField = -1;
    uint32_t scratchSize = 0; // bytes of scratch one evaluation needs
};

inline constexpr char kBlanks[] = "                "; // 16 blanks

// What one evaluation reads: the compiled nodes, the record, the literal pool
// and the scratch area for character results.
struct Ctx {
    const Node* nodes;
    const char* rec;
    const char* pool;
    char* scratch;
    uint32_t recno;
};

bool evalL(const Ctx& x, int32_t i);
double evalN(const Ctx& x, int32_t i);
int32_t evalD(const Ctx& x, int32_t i);
std::string_view evalC(const Ctx& x, int32_t i);

// Character comparison with SET EXACT OFF (see the top of the file):
// negative, zero or positive.
inline int compareBytes(const char* a, const char* b, size_t n) {
    if (n <= 8) { // short keys (codes, flags): no library call
        for (size_t k = 0; k < n; ++k) {
            const auto x = static_cast<unsigned char>(a[k]), y = static_cast<unsigned char>(b[k]);
            if (x != y) return x < y ? -1 : 1;
        }
        return 0;
    }
    return std::memcmp(a, b, n);
}

inline int compareText(std::string_view a, std::string_view b) {
    const int r = compareBytes(a.data(), b.data(), std::min(a.size(), b.size()));
    if (r) return r;
    return a.size() < b.size() ? -1 : 0;
}

inline bool applyCmpResult(Cmp cmp, int r) {
    switch (cmp) {
    case Cmp::Eq:
        return r == 0;
    case Cmp::Ne:
        return r != 0;
    case Cmp::Lt:
        return r < 0;
    case Cmp::Le:
        return r <= 0;
    case Cmp::Gt:
        return r > 0;
    case Cmp::Ge:
        return r >= 0;
    case Cmp::Exact:
        return false; // handled by the caller
    }
    return false;
}

inline int clampWidth(double w) {
    if (!(w >= 1)) return 10; // also NaN
    if (w > 255) return 255;
    return static_cast<int>(w);
}

inline int clampDecimals(double d) {
    if (!(d >= 0)) return 0;
    if (d > 253) return 253;
    return static_cast<int>(d);
}

// The name of a type in error messages.
const char* typeName(ValueType t);

} // namespace xbase::exprdetail

namespace xbase {
struct Expression::Impl : exprdetail::Program {};
} // namespace xbase
