#include "verify/timing.h"

#include "shell/window_port.h"
#include "text/text.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace kestrova {

namespace {
// Factor from the amount's unit to milliseconds (microseconds: 1/1000).
double milliseconds_per_unit(std::int32_t unit) {
    switch (unit) {
    case 0:
        return 1.0;
    case 1:
        return 0.001;
    case 2:
        return 1000.0;
    case 3:
        return 60000.0;
    case 4:
        return 3600000.0;
    case 5:
        return 86400000.0;
    default:
        return static_cast<double>(unit);
    }
}

std::int64_t truncate_to_int64(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9.2e18;
    return static_cast<std::int64_t>(std::clamp(value, -limit, limit));
}
} // namespace

int probe_timeout_seconds(std::string_view timeout_box_text) {
    std::int32_t ms = text::to_int(timeout_box_text);
    if (ms >= 1 && ms <= 999)
        return 1;
    return text::fraction_to_int(static_cast<double>(ms) / 1000.0);
}

std::int64_t wait_due_time(std::int32_t amount, std::int32_t unit) {
    // -10000 steps of 100 ns per millisecond; microseconds are -10 steps each.
    return truncate_to_int64(static_cast<double>(amount) * milliseconds_per_unit(unit) * -10000.0);
}

void wait_with_events(std::int32_t amount, std::int32_t unit, WindowPort* ui) {
    std::int64_t due = wait_due_time(amount, unit);
    if (due >= 0)
        return;
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + microseconds(-due / 10);
    if (!ui) {
        std::this_thread::sleep_until(deadline);
        return;
    }
    // On the UI thread: short sleeps, letting messages through in between.
    for (auto now = steady_clock::now(); now < deadline; now = steady_clock::now()) {
        ui->let_messages_through();
        std::this_thread::sleep_for(
            std::min<steady_clock::duration>(deadline - now, milliseconds(10)));
    }
    ui->let_messages_through();
}

} // namespace kestrova
