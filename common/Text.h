// Small text helpers shared by every layer: zero-padded numbers and digits
// read back, SSN to ID, ASCII case and blanks. The number routines allocate
// nothing and are inline, for the loops that handle a number a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The number in decimal (with "-" when negative), then "0" put in front until
// the text is at least `width` long; a longer text is kept whole.
// 7/4 gives 0007, -5/4 gives 00-5, 12345/4 gives 12345. (kes::zeroPadInto
// writes the same text into a buffer.)
std::string ZeroPad(int64_t value, int width);

// The ID of an SSN: characters 1-3, 5-6 and 8-11 joined (123-45-6789 gives
// 123456789); characters missing from a shorter text are left out.
std::string SsnToId(std::string_view ssn);

namespace kes {

// The longest whole number zeroPadInto writes before any padding:
// "-9223372036854775808".
inline constexpr size_t kLongestWholeNumber = 20;

// Writes ZeroPad's text at `out` and returns its length: `width` bytes when
// the number fits in them, never more than the larger of `width` and
// kLongestWholeNumber.
inline size_t zeroPadInto(char* out, int64_t value, int width) {
    // The usual case, a number of 0 or more that fits in `width` digits: the
    // digits right to left, a loop the compiler unrolls for a constant width.
    if (value >= 0 && width > 0 && width <= 18) {
        uint64_t limit = 10;
        for (int i = 1; i < width; ++i)
            limit *= 10;
        if (static_cast<uint64_t>(value) < limit) {
            uint64_t rest = static_cast<uint64_t>(value);
            for (int i = width - 1; i >= 0; --i) {
                out[i] = static_cast<char>('0' + rest % 10);
                rest /= 10;
            }
            return static_cast<size_t>(width);
        }
    }
    const uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    size_t digits = 1;
    for (uint64_t power = 10; digits < 20 && magnitude >= power; power *= 10)
        ++digits;
    const size_t length = digits + (value < 0 ? 1 : 0);
    const size_t zeros =
        width > 0 && static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
    for (size_t i = 0; i < zeros; ++i)
        out[i] = '0';
    if (value < 0) out[zeros] = '-';
    char* next = out + zeros + length;
    uint64_t rest = magnitude;
    do {
        *--next = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    return zeros + length;
}

// Reads a text of decimal digits alone, 1 to 18 of them ("0042" gives 42),
// into `value`. False, `value` untouched, for anything else: an empty text,
// more digits, a sign, a blank, a point.
inline bool parseDigits(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    int64_t v = 0;
    for (const char c : text) {
        const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
        if (digit > 9) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

std::string toUpperAscii(std::string_view s);
std::string toLowerAscii(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Blanks only.
inline std::string_view trimRight(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}
inline std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    return s;
}
std::string_view trimBlanksAndControls(std::string_view s); // both ends, bytes <= 32

} // namespace kes
