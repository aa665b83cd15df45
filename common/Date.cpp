#include "common/Date.h"

#include "common/Clock.h"

#include <cstdio>

namespace kes {
namespace {

// Days from 0000-03-01 based civil calendar (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(y + (m <= 2));
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

const int64_t kEpoch = daysFromCivil(1899, 12, 30);

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

int toInt(std::string_view s) {
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

} // namespace

bool isValidYmd(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int last = kDays[month - 1];
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && leap) last = 29;
    return day <= last;
}

std::optional<Date> Date::fromYmd(int year, int month, int day) {
    if (!isValidYmd(year, month, day)) return std::nullopt;
    return Date(static_cast<int32_t>(
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch));
}

Date Date::today() {
    int y, m, d;
    Clock::instance().today(y, m, d);
    auto date = fromYmd(y, m, d);
    return date ? *date : Date();
}

void Date::toYmd(int& year, int& month, int& day) const {
    civilFromDays(kEpoch + days_, year, month, day);
}

std::string Date::toYyyymmdd() const {
    int y, m, d;
    toYmd(y, m, d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
    return buf;
}

std::optional<Date> Date::fromYyyymmdd(std::string_view text) {
    if (text.size() != 8 || !allDigits(text)) return std::nullopt;
    return fromYmd(toInt(text.substr(0, 4)), toInt(text.substr(4, 2)), toInt(text.substr(6, 2)));
}

std::string Date::toShortText() const {
    int y, m, d;
    toYmd(y, m, d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", m, d, y);
    return buf;
}

std::optional<Date> Date::fromShortText(std::string_view text) {
    // Trim surrounding blanks.
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    size_t a = text.find('/');
    if (a == std::string_view::npos) return std::nullopt;
    size_t b = text.find('/', a + 1);
    if (b == std::string_view::npos) return std::nullopt;
    std::string_view ms = text.substr(0, a), ds = text.substr(a + 1, b - a - 1),
                     ys = text.substr(b + 1);
    if (!allDigits(ms) || !allDigits(ds) || !allDigits(ys)) return std::nullopt;
    if (ms.size() > 2 || ds.size() > 2 || ys.size() > 4 || ys.size() == 3) return std::nullopt;
    int year = toInt(ys);
    if (ys.size() <= 2) year += year < 50 ? 2000 : 1900;
    return fromYmd(year, toInt(ms), toInt(ds));
}

} // namespace kes
