// A calendar date counted in whole days from 30 December 1899, the zero of the
// xBase date-time type. Day zero doubles as "no date": an empty date field reads
// as day zero and day zero is written back as 18991230.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kes {

// A running day count of the proleptic Gregorian calendar (1 January 1970 is
// day 0); civilFromDays is the inverse. Differences of two counts are days.
constexpr int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr void civilFromDays(int64_t z, int& year, int& month, int& day) {
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

// Day zero of the date type, 30 December 1899, in daysFromCivil's count.
inline constexpr int64_t kDayZeroCivil = daysFromCivil(1899, 12, 30);

class Date {
  public:
    constexpr Date() = default;
    constexpr explicit Date(int32_t days) : days_(days) {}

    // Checked construction from year, month and day; nullopt for 02/30/2004 and the like.
    static std::optional<Date> fromYmd(int year, int month, int day);
    // Today's date from the program clock (see Clock.h).
    static Date today();

    int32_t days() const { return days_; }
    bool isZero() const { return days_ == 0; }

    void toYmd(int& year, int& month, int& day) const;

    // "yyyymmdd"; day zero gives "18991230".
    std::string toYyyymmdd() const;
    // Reads eight digits "yyyymmdd"; nullopt when the text is not a valid date.
    static std::optional<Date> fromYyyymmdd(std::string_view text);

    // The program's short date text, MM/dd/yyyy ("03/05/2004").
    std::string toShortText() const;
    // Reads MM/dd/yyyy, also with one-digit month or day. A year of one or two
    // digits, as a person types it, is read as a year from 1950 to 2049.
    // Invalid dates (02/30/2004) and anything else give nullopt.
    static std::optional<Date> fromShortText(std::string_view text);

    friend constexpr bool operator==(Date a, Date b) { return a.days_ == b.days_; }
    friend constexpr auto operator<=>(Date a, Date b) { return a.days_ <=> b.days_; }

  private:
    int32_t days_ = 0;
};

bool isValidYmd(int year, int month, int day);

} // namespace kes
