// Number text as xBase tables, index keys and expressions store it: an
// optional "-", digits and "." as the decimal point, whatever the user's
// locale says. Every reader and writer of numeric text in the engine goes
// through here, so that a field write, STR() and an index key agree.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace xbase {

// Reads a whole text as a number: blanks and control characters around it,
// an optional sign, digits with an optional decimal point and an optional
// exponent ("1.5E3"). False, with `value` 0, for an empty text, anything
// else, or a number beyond the range of a double.
bool parseNumberText(std::string_view text, double& value);

// VAL(): the number at the start of the text. Leading blanks, an optional
// sign, digits with an optional decimal point; the rest is ignored; no digits
// at all give 0.
double readNumberPrefix(const char* p, size_t n);

// The longest text numberText writes (sign, 309 digits, point, decimals).
inline constexpr size_t kMaxNumberText = 600;
// The most decimals numberText writes; more are taken as this many.
inline constexpr int kMaxNumberDecimals = 253;

// The number with `decimals` decimals, rounded half away from zero on its
// shortest decimal text (2.675 gives "2.68", 0.125 gives "0.13"); "-" only in
// front of a value that is not zero once rounded. Writes at most
// kMaxNumberText bytes to `out` and returns their count; 0 when the value is
// not finite.
size_t numberText(double value, int decimals, char* out);
std::string numberText(double value, int decimals);

// The number as a numeric field stores it: numberText right-aligned in
// exactly `width` bytes; `width` asterisks when it does not fit or is not
// finite.
void formatNumberField(double value, int width, int decimals, char* out);
std::string formatNumberField(double value, int width, int decimals);

} // namespace xbase
