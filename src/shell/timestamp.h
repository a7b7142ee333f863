// timestamp_text and the clock behind it (replaceable for tests).
#pragma once

#include <functional>
#include <string>

namespace kestrova {

struct LocalTime {
    int year = 0;
    int month = 1; ///< 1 to 12
    int day = 1;   ///< 1 to 31
    int hour = 0;  ///< 0 to 23
    int minute = 0;
    int second = 0;
};

/// Reads the local date and time once.
LocalTime local_time_now();

/// "[" year "-" month "-" day " " hour ":" minute ":" second "]", every field
/// but the year in two digits.
std::string format_timestamp(const LocalTime& time);

/// format_timestamp of one reading of the current clock.
std::string timestamp_text();

/// Replaces the clock that timestamp_text reads; an empty function restores
/// the real one. Meant for tests; set it before threads use the clock.
void set_clock(std::function<LocalTime()> clock);

} // namespace kestrova
