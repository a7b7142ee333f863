// When a long action over the proxy list lets pending window messages through.
//
// The window stays usable and other clicks may run nested in between (each
// nested action runs to its end before the outer one goes on). Letting them
// through after every row would cost a million passes of the event loop for
// a million rows, so the window lets them through once per slice of work;
// the in-memory window in tests does it after every row, so an injected
// click can land between any two rows.
#pragma once

#include "shell/window_port.h"

#include <chrono>

namespace kestrova {

struct Pacing {
    using Duration = std::chrono::steady_clock::duration;
    /// Work between two passes; zero means after every row.
    Duration slice = std::chrono::milliseconds(10);

    static constexpr Pacing every_row() { return Pacing{Duration::zero()}; }
    static constexpr Pacing slices_of(Duration slice) { return Pacing{slice}; }
};

class MessagePacer {
public:
    MessagePacer(WindowPort& port, Pacing pacing);
    /// Called after each step (a row, a piece of a file): lets messages
    /// through when it is time; true when it did.
    bool step_done();

private:
    using Clock = std::chrono::steady_clock;
    WindowPort& port_;
    Pacing pacing_;
    Clock::time_point due_;
};

} // namespace kestrova
