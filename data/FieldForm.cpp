#include "data/FieldForm.h"

#include "common/Date.h"
#include "common/Text.h"
#include "data/NumberText.h"
#include "data/Value.h"

#include <charconv>
#include <cmath>

namespace xbase {

namespace {

// The Julian day numbers of the first and last days of the years 1 to 9999.
constexpr int64_t kFirstJulianDay = 1721426; // 0001-01-01
constexpr int64_t kLastJulianDay = 5373484;  // 9999-12-31
constexpr uint32_t kMillisecondsADay = 24u * 60 * 60 * 1000;

// The fewest decimal digits that read back as `value`, written out without
// an exponent: 1e300 is a 1 and 300 zeros, 5e-324 "0.", 323 zeros and a 5.
std::string shortestText(double value) {
    if (value == 0) return "0";
    char scientific[64];
    const auto written = std::to_chars(scientific, scientific + sizeof scientific, value,
                                       std::chars_format::scientific);
    const std::string_view s(scientific, static_cast<size_t>(written.ptr - scientific));
    const size_t e = s.find('e');
    const bool negative = s[0] == '-';
    std::string digits;
    for (const char c : s.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
        if (c != '.') digits += c;
    int exponent = 0;
    std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
    // Digits before the point: the first digit stands at 10^exponent.
    const long before = static_cast<long>(exponent) + 1;
    std::string text = negative ? "-" : "";
    if (before <= 0) {
        text += "0.";
        text.append(static_cast<size_t>(-before), '0');
        text += digits;
    } else if (static_cast<size_t>(before) >= digits.size()) {
        text += digits;
        text.append(static_cast<size_t>(before) - digits.size(), '0');
    } else {
        text.append(digits, 0, static_cast<size_t>(before));
        text += '.';
        text.append(digits, static_cast<size_t>(before), std::string::npos);
    }
    return text;
}

} // namespace

bool isVisualFoxPro(uint8_t version) {
    return version == 0x30 || version == 0x31 || version == 0x32;
}

FieldForm fieldFormOf(char type, uint16_t length, uint8_t version) {
    auto ofLength = [length](uint16_t wanted, FieldForm form) {
        return length == wanted ? form : FieldForm::NotRead;
    };
    switch (type) {
    case 'I':
    case '+':
        return ofLength(4, FieldForm::Integer);
    case 'Y':
        return ofLength(8, FieldForm::Currency);
    case 'B':
        return isVisualFoxPro(version) ? ofLength(8, FieldForm::Double) : FieldForm::NotRead;
    case 'T':
        return ofLength(8, FieldForm::DateTime);
    case 'M':
    case 'G':
    case 'P':
    case 'O':
    case '@':
    case 'Q':
    case 'W':
    case '0':
        return FieldForm::NotRead;
    default:
        return FieldForm::Text;
    }
}

std::string binaryNumberText(FieldForm form, const char* bytes, int decimals) {
    char text[kMaxNumberText];
    switch (form) {
    case FieldForm::Integer:
        return std::string(text, kes::zeroPadInto(text, binaryInteger(bytes), 0));
    case FieldForm::Currency: {
        // Exactly, from the whole ten-thousandths: a double would round the
        // largest values.
        const int64_t units = binaryCurrencyUnits(bytes);
        const uint64_t magnitude =
            units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
        size_t n = 0;
        if (units < 0) text[n++] = '-';
        n += kes::zeroPadInto(text + n, static_cast<int64_t>(magnitude / 10000), 0);
        text[n++] = '.';
        n += kes::zeroPadInto(text + n, static_cast<int64_t>(magnitude % 10000), 4);
        return std::string(text, n);
    }
    case FieldForm::Double: {
        const double value = binaryDouble(bytes);
        if (!std::isfinite(value)) return std::string();
        if (decimals > 0) return numberText(value, decimals);
        return shortestText(value);
    }
    default:
        return std::string();
    }
}

BinaryDateTime binaryDateTime(const char* bytes) {
    BinaryDateTime moment;
    const int64_t julianDay = binaryInteger(bytes);
    const uint32_t milliseconds = coding::getLe32(bytes + 4);
    if (julianDay < kFirstJulianDay || julianDay > kLastJulianDay ||
        milliseconds >= kMillisecondsADay)
        return moment;
    moment.empty = false;
    moment.day = static_cast<int32_t>(julianDay - kJulianDayZero);
    moment.milliseconds = milliseconds;
    return moment;
}

std::string binaryDateTimeText(const char* bytes) {
    const BinaryDateTime moment = binaryDateTime(bytes);
    if (moment.empty) return std::string();
    std::string text = kes::Date(moment.day).toShortText();
    const uint32_t seconds = moment.milliseconds / 1000;
    char time[9] = {' '};
    kes::zeroPadInto(time + 1, seconds / 3600, 2);
    time[3] = ':';
    kes::zeroPadInto(time + 4, seconds / 60 % 60, 2);
    time[6] = ':';
    kes::zeroPadInto(time + 7, seconds % 60, 2);
    return text.append(time, sizeof time);
}

} // namespace xbase
