// The choices a preparation is made of, as values: which tables' records
// (record kinds), which optional trailing fields, which layout, which dates.
// The settings file stores them, the windows and the command line choose
// them, and a PreparationPlan holds one of each. The date rules and the
// messages that refuse a date range live here, and nowhere else:
//  - a range with an empty date (day zero, written 18991230) at either end
//    was never entered: "The selected dates must be entered.";
//  - a begin date after the end date: "The Begin Date cannot be later than
//    the End Date."; equal dates select that one day.
// No Qt here.
#pragma once

#include "common/Date.h"

#include <string>

// The layout of the upload file, numbered as "File Format" stores it. A
// stored number outside 0 to 3 is kept as read: the writer then refuses it
// and says so.
enum class UploadLayout : int { Fixed = 0, Pipe = 1, Comma = 2, Tab = 3 };

bool IsKnownLayout(UploadLayout layout);

struct RecordKinds {
    bool Placement = true;
    bool Assessment = true;
    bool Scores = true;
    bool operator==(const RecordKinds&) const = default;
};

struct OptionalFields {
    bool Attempted = false;
    bool Subscores = false;
    bool PandA = false;
    bool SiteCode = false;
    bool operator==(const OptionalFields&) const = default;
};

inline constexpr const char* kDatesNotEnteredText = "The selected dates must be entered.";
inline constexpr const char* kBeginAfterEndText =
    "The Begin Date cannot be later than the End Date.";

// All dates, or the days from Begin to End, both included.
struct DateSelection {
    bool AllDates = true;
    kes::Date Begin, End;

    static DateSelection All();
    static DateSelection Between(kes::Date begin, kes::Date end);
    // Today alone, by the program clock.
    static DateSelection Today();
    bool operator==(const DateSelection&) const = default;
};

// The message that refuses a range (see above), or "" when it may be used.
// All dates are never refused.
std::string DateSelectionMessage(const DateSelection& dates);

// The gathering's date filter: "" for all dates, otherwise
// (DTOS(Date) >= "B") .and. (DTOS(Date) <= "E") with the two dates as yyyymmdd.
std::string DateFilterOf(const DateSelection& dates);
