// Small text helpers shared by every layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The number in decimal (with "-" when negative), then "0" put in front until
// the text is at least `width` long; a longer text is kept whole.
// 7/4 gives 0007, -5/4 gives 00-5, 12345/4 gives 12345.
std::string ZeroPad(int64_t value, int width);

// The ID of an SSN: characters 1-3, 5-6 and 8-11 joined (123-45-6789 gives
// 123456789); characters missing from a shorter text are left out.
std::string SsnToId(std::string_view ssn);

namespace kes {

std::string toUpperAscii(std::string_view s);
std::string toLowerAscii(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string_view trimRight(std::string_view s);             // blanks only
std::string_view trimLeft(std::string_view s);              // blanks only
std::string_view trimBlanksAndControls(std::string_view s); // both ends, bytes <= 32

} // namespace kes
