// The time rules of a verification run: the probe's time-out from the
// time-out box, and wait_with_events.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace kestrova {

class WindowPort;

/// The request time-out in whole seconds per phase for the text of the
/// time-out box (milliseconds): the text-to-integer rule, then ms / 1000
/// truncated toward zero. 1 to 999 ms mean 1 second (not 15); -1 keeps the
/// request object's own time-outs; other values below 1 mean 15 seconds
/// (http_request's rule).
int probe_timeout_seconds(std::string_view timeout_box_text);

/// The due time of wait_with_events in 100-nanosecond steps (negative:
/// relative): amount times the unit's factor in double precision, truncated
/// toward zero. Units: 0 ms, 1 µs, 2 s, 3 min, 4 h, 5 days, any other code k
/// means k ms.
std::int64_t wait_due_time(std::int32_t amount, std::int32_t unit);

/// Waits for `amount` of `unit`; a due time of zero or above returns at once.
/// With `ui` (on the UI thread) pending messages are let through while it
/// waits, so the windows stay responsive.
void wait_with_events(std::int32_t amount, std::int32_t unit, WindowPort* ui = nullptr);

} // namespace kestrova
