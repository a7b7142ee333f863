// One verification run of `kestrova-cli check`: the addresses go into an
// in-memory main window and the real Verifier checks them; the results are
// collected as the probes report.
#pragma once

#include "cli/check_results.h"
#include "cli/progress.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kestrova::cli {

struct CheckSettings {
    std::int64_t threads = 30;
    std::int64_t timeout_ms = 2000;
    std::string probe_url;
    std::string marker_utf8;
    bool show_progress = false; ///< redraw a progress line on `progress_out`
};

struct CheckOutcome {
    std::vector<CheckResult> results; ///< every result known, in input order
    ProgressFigures figures;
    bool interrupted = false; ///< stopped by Ctrl-C before it completed
    /// A second Ctrl-C came: probes may still be running, so the process
    /// must end without running destructors.
    bool abandoned = false;
    std::string error; ///< not empty: the run could not start (why)
};

/// Runs the check. While it runs, the first SIGINT stops launching probes
/// and waits for the ones already out; the second returns at once with what
/// is known. Requires watch_interrupts() to have been called.
CheckOutcome run_check(const std::vector<std::string>& addresses, const CheckSettings& settings,
                       std::ostream& progress_out);

} // namespace kestrova::cli
