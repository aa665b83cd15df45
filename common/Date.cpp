#include "common/Date.h"

#include "common/Clock.h"
#include "common/Text.h"

#include <cstdio>

namespace kes {
namespace {

constexpr int64_t kEpoch = kDayZeroCivil;

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
    if (y < 0 || y > 9999) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
        return buf;
    }
    std::string text(8, '0');
    zeroPadInto(text.data(), y, 4);
    zeroPadInto(text.data() + 4, m, 2);
    zeroPadInto(text.data() + 6, d, 2);
    return text;
}

std::optional<Date> Date::fromYyyymmdd(std::string_view text) {
    int64_t y, m, d;
    if (text.size() != 8 || !parseDigits(text.substr(0, 4), y) ||
        !parseDigits(text.substr(4, 2), m) || !parseDigits(text.substr(6, 2), d))
        return std::nullopt;
    return fromYmd(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
}

std::string Date::toShortText() const {
    int y, m, d;
    toYmd(y, m, d);
    if (y < 0 || y > 9999) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", m, d, y);
        return buf;
    }
    std::string text = "00/00/0000";
    zeroPadInto(text.data(), m, 2);
    zeroPadInto(text.data() + 3, d, 2);
    zeroPadInto(text.data() + 6, y, 4);
    return text;
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
    if (ms.size() > 2 || ds.size() > 2 || ys.size() > 4 || ys.size() == 3) return std::nullopt;
    int64_t m, d, y;
    if (!parseDigits(ms, m) || !parseDigits(ds, d) || !parseDigits(ys, y)) return std::nullopt;
    int year = static_cast<int>(y);
    if (ys.size() <= 2) year += year < 50 ? 2000 : 1900;
    return fromYmd(year, static_cast<int>(m), static_cast<int>(d));
}

} // namespace kes
