#include "app/core/Choices.h"

namespace {

// The eight-digit form of day zero: a range with it at either end was never
// entered.
constexpr const char* kEmptyDateDigits = "18991230";

} // namespace

bool IsKnownLayout(UploadLayout layout) {
    const int n = static_cast<int>(layout);
    return n >= 0 && n <= 3;
}

DateSelection DateSelection::All() {
    return DateSelection{};
}

DateSelection DateSelection::Between(kes::Date begin, kes::Date end) {
    DateSelection d;
    d.AllDates = false;
    d.Begin = begin;
    d.End = end;
    return d;
}

DateSelection DateSelection::Today() {
    const kes::Date today = kes::Date::today();
    return Between(today, today);
}

std::string DateSelectionMessage(const DateSelection& dates) {
    if (dates.AllDates) return {};
    const std::string begin = dates.Begin.toYyyymmdd(), end = dates.End.toYyyymmdd();
    if (begin == kEmptyDateDigits || end == kEmptyDateDigits) return kDatesNotEnteredText;
    // The eight-digit form compares as the dates do.
    if (begin > end) return kBeginAfterEndText;
    return {};
}

std::string DateFilterOf(const DateSelection& dates) {
    if (dates.AllDates) return {};
    return "(DTOS(Date) >= \"" + dates.Begin.toYyyymmdd() + "\") .and. (DTOS(Date) <= \"" +
           dates.End.toYyyymmdd() + "\")";
}
