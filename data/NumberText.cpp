#include "data/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace xbase {

namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool isDigit(char c) {
    return static_cast<unsigned char>(c - '0') <= 9;
}

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Digits with an optional point from p[i]: the digits as one integer while
// it is exact. Advances i past them.
struct Scanned {
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
};

Scanned scanDigits(const char* p, size_t n, size_t& i) {
    Scanned s;
    while (i < n && isDigit(p[i])) {
        s.mantissa = s.mantissa * 10 + static_cast<unsigned>(p[i] - '0');
        ++s.digits;
        ++i;
    }
    if (i < n && p[i] == '.') {
        ++i;
        while (i < n && isDigit(p[i])) {
            s.mantissa = s.mantissa * 10 + static_cast<unsigned>(p[i] - '0');
            ++s.digits;
            ++s.fraction;
            ++i;
        }
    }
    return s;
}

// Up to 15 digits: an exact integer divided by an exact power of ten, which
// is the correctly rounded value.
double exactValue(const Scanned& s) {
    return static_cast<double>(s.mantissa) / kPow10[s.fraction];
}

// Longer numbers and exponents: std::from_chars, which knows no locale.
// `text` starts with a digit or a point.
bool readLong(std::string_view text, double& value) {
    char buf[kMaxNumberText + 2];
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text[0] == '.' && text.size() < sizeof buf) { // from_chars wants a digit first
        buf[0] = '0';
        std::memcpy(buf + 1, text.data(), text.size());
        first = buf;
        last = buf + text.size() + 1;
    }
    double v = 0;
    auto r = std::from_chars(first, last, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v)) return false;
    value = v;
    return true;
}

} // namespace

bool parseNumberText(std::string_view text, double& value) {
    value = 0;
    size_t b = 0, e = text.size();
    while (b < e && isBlankOrControl(text[b]))
        ++b;
    while (e > b && isBlankOrControl(text[e - 1]))
        --e;
    const char* p = text.data() + b;
    const size_t n = e - b;
    if (n == 0) return false;
    size_t i = 0;
    bool negative = false;
    if (p[0] == '-' || p[0] == '+') {
        negative = p[0] == '-';
        i = 1;
    }
    const size_t start = i;
    const Scanned s = scanDigits(p, n, i);
    if (s.digits == 0) return false;
    double v;
    if (i == n && s.digits <= 15) {
        v = exactValue(s);
    } else {
        if (i < n && p[i] != 'e' && p[i] != 'E') return false;
        if (!readLong(std::string_view(p + start, n - start), v)) return false;
    }
    value = negative ? -v : v;
    return true;
}

double readNumberPrefix(const char* p, size_t n) {
    size_t i = 0;
    while (i < n && p[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (p[i] == '-' || p[i] == '+')) {
        negative = p[i] == '-';
        ++i;
    }
    const size_t start = i;
    const Scanned s = scanDigits(p, n, i);
    if (s.digits == 0) return 0;
    double v = 0;
    if (s.digits <= 15)
        v = exactValue(s);
    else
        readLong(std::string_view(p + start, std::min(i - start, kMaxNumberText)), v);
    return negative ? -v : v;
}

size_t numberText(double value, int decimals, char* out) {
    if (!std::isfinite(value)) return 0;
    decimals = std::clamp(decimals, 0, kMaxNumberDecimals);
    const size_t dec = static_cast<size_t>(decimals);
    const double magnitude = std::fabs(value);
    if (magnitude < 1e15 && magnitude == std::trunc(magnitude)) {
        // Whole numbers, the common case: no rounding to do.
        uint64_t whole = static_cast<uint64_t>(magnitude);
        char* p = out;
        if (value < 0 && whole != 0) *p++ = '-';
        p = std::to_chars(p, out + kMaxNumberText, whole).ptr;
        if (dec > 0) {
            *p++ = '.';
            std::memset(p, '0', dec);
            p += dec;
        }
        return static_cast<size_t>(p - out);
    }
    // The shortest text that reads back as the value, rounded as text.
    char text[kMaxNumberText];
    auto r = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::fixed);
    if (r.ec != std::errc()) return 0;
    const std::string_view s(text, static_cast<size_t>(r.ptr - text));
    const size_t dot = std::min(s.find('.'), s.size());
    const std::string_view intPart = s.substr(0, dot);
    const std::string_view frac = dot < s.size() ? s.substr(dot + 1) : std::string_view();
    // digits: the integer part and `dec` decimals, with one place in front
    // for a carry.
    char digits[kMaxNumberText + 1];
    size_t len = 0;
    digits[len++] = '0';
    // An empty part may have no storage at all: nothing is copied from it.
    if (!intPart.empty()) std::memcpy(digits + len, intPart.data(), intPart.size());
    len += intPart.size();
    const size_t kept = std::min(frac.size(), dec);
    if (kept) std::memcpy(digits + len, frac.data(), kept);
    std::memset(digits + len + kept, '0', dec - kept);
    len += dec;
    if (frac.size() > dec && frac[dec] >= '5') {
        size_t i = len;
        while (digits[--i] == '9')
            digits[i] = '0';
        ++digits[i];
    }
    const size_t intLen = len - dec;
    size_t first = 0;
    while (first + 1 < intLen && digits[first] == '0')
        ++first;
    bool zero = true;
    for (size_t i = first; i < len && zero; ++i)
        zero = digits[i] == '0';
    char* p = out;
    if (value < 0 && !zero) *p++ = '-';
    std::memcpy(p, digits + first, intLen - first);
    p += intLen - first;
    if (dec > 0) {
        *p++ = '.';
        std::memcpy(p, digits + intLen, dec);
        p += dec;
    }
    return static_cast<size_t>(p - out);
}

std::string numberText(double value, int decimals) {
    char buf[kMaxNumberText];
    return std::string(buf, numberText(value, decimals, buf));
}

void formatNumberField(double value, int width, int decimals, char* out) {
    if (width <= 0) return;
    const size_t w = static_cast<size_t>(width);
    char buf[kMaxNumberText];
    const size_t len = numberText(value, decimals, buf);
    if (len == 0 || len > w) {
        std::memset(out, '*', w);
        return;
    }
    std::memset(out, ' ', w - len);
    std::memcpy(out + w - len, buf, len);
}

std::string formatNumberField(double value, int width, int decimals) {
    std::string s(static_cast<size_t>(std::max(width, 0)), ' ');
    formatNumberField(value, width, decimals, s.data());
    return s;
}

} // namespace xbase
