#include "common/Clock.h"

#include "os/Os.h"

#include <chrono>
#include <ctime>

namespace kes {

Clock& Clock::instance() {
    static Clock clock;
    return clock;
}

LocalTime Clock::now() const {
    if (source_) return source_();
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    const os::CalendarTime local = os::localTime(t);
    LocalTime lt;
    lt.year = local.year;
    lt.month = local.month;
    lt.day = local.day;
    lt.hour = local.hour;
    lt.minute = local.minute;
    lt.second = local.second;
    lt.millisecond = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    return lt;
}

void Clock::today(int& year, int& month, int& day) const {
    LocalTime lt = now();
    year = lt.year;
    month = lt.month;
    day = lt.day;
}

void Clock::setSource(std::function<LocalTime()> source) {
    source_ = std::move(source);
}

} // namespace kes
