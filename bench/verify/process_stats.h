// Figures about processes that the benchmark reports: load, CPU time, peak
// resident memory, and the CPU each thread of another process (the farm) used.
#pragma once

#include <map>
#include <string>

namespace kestrova::bench {

/// "1.23 0.98 0.75": the 1, 5 and 15 minute load averages.
std::string load_average();

/// Sets this process's peak resident size (VmHWM) back to its current size,
/// so the next reading is the peak of what follows. False when the kernel
/// does not allow it.
bool reset_peak_resident();

/// CPU time (user + system) of this process so far, and of its waited-for
/// children.
double own_cpu_seconds();
double children_cpu_seconds();

/// CPU ticks (user + system) of every thread of process `pid`.
using ThreadTicks = std::map<long, long>;
ThreadTicks thread_ticks(long pid);

struct ProcessUse {
    bool known = false;
    double cpu_seconds = 0;
    double busiest_thread_share = 0; ///< the busiest thread's CPU time over the wall time
};

/// What a process used between two readings `wall_seconds` apart.
ProcessUse process_use(const ThreadTicks& before, const ThreadTicks& after, double wall_seconds);

} // namespace kestrova::bench
