#include "shell/timestamp.h"

#include "text/text.h"

#include <ctime>
#include <mutex>

namespace kestrova {

namespace {
std::mutex clock_mutex;
std::function<LocalTime()> current_clock;

// The last two characters of "00" followed by the decimal text.
std::string two_digits(int value) {
    std::string text = "00" + text::int_to_text(value);
    return text.substr(text.size() - 2);
}
} // namespace

LocalTime local_time_now() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::string format_timestamp(const LocalTime& time) {
    return "[" + text::int_to_text(time.year) + "-" + two_digits(time.month) + "-" +
           two_digits(time.day) + " " + two_digits(time.hour) + ":" + two_digits(time.minute) +
           ":" + two_digits(time.second) + "]";
}

std::string timestamp_text() {
    std::function<LocalTime()> clock;
    {
        std::lock_guard lock(clock_mutex);
        clock = current_clock;
    }
    return format_timestamp(clock ? clock() : local_time_now());
}

void set_clock(std::function<LocalTime()> clock) {
    std::lock_guard lock(clock_mutex);
    current_clock = std::move(clock);
}

} // namespace kestrova
