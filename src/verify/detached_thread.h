// Starting a thread that nobody joins, with a stack size of our choosing, and
// an answer instead of an exception when the system has no thread to give.
#pragma once

#include <cstddef>
#include <functional>

namespace kestrova {

/// Starts `work` on a new detached thread. False when the thread could not
/// be created (then `work` never runs).
bool start_detached_thread(std::function<void()> work, std::size_t stack_size);

} // namespace kestrova
