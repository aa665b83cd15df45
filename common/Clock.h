// The one source of "now" for the program. Tests replace it to set the date
// and the hour; everything else asks it instead of the system clock.
#pragma once

#include <functional>

namespace kes {

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
  public:
    static Clock& instance();

    LocalTime now() const;
    void today(int& year, int& month, int& day) const;

    // Replaces the clock; an empty function goes back to the system clock.
    void setSource(std::function<LocalTime()> source);

  private:
    std::function<LocalTime()> source_;
};

} // namespace kes
