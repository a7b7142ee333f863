// Ctrl-C for the commands. SIGINT is blocked in every thread and taken by
// one watcher thread, which runs the handler as ordinary code (it may lock
// and notify), so no work happens inside a signal handler.
#pragma once

#include <functional>

namespace kestrova::cli {

/// The exit code of a run ended by Ctrl-C.
inline constexpr int interrupted_exit_code = 130;

/// Starts the watcher. Call it before any other thread of the process
/// starts: threads inherit the blocked signal. Until a handler is set, the
/// first SIGINT ends the process at once with code 130.
void watch_interrupts();

/// From now on the n-th SIGINT calls `handler(n)` on the watcher thread;
/// once n reaches `exit_at` the process ends at once with code 130 instead.
/// An empty handler restores the default (the next SIGINT ends it).
void set_interrupt_handler(std::function<void(int count)> handler, int exit_at);

} // namespace kestrova::cli
