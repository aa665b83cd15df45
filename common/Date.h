// A calendar date counted in whole days from 30 December 1899, the zero of the
// xBase date-time type. Day zero doubles as "no date": an empty date field reads
// as day zero and day zero is written back as 18991230.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kes {

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
