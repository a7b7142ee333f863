#include "proxylist/message_pacer.h"

namespace kestrova {

MessagePacer::MessagePacer(WindowPort& port, Pacing pacing)
    : port_(port), pacing_(pacing), due_(Clock::now() + pacing.slice) {}

bool MessagePacer::step_done() {
    if (pacing_.slice != Pacing::Duration::zero() && Clock::now() < due_)
        return false;
    port_.let_messages_through();
    // Time spent in nested actions does not count against the next slice.
    due_ = Clock::now() + pacing_.slice;
    return true;
}

} // namespace kestrova
