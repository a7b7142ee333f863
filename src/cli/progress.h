// The progress line of `kestrova-cli check` (on a terminal) and its summary
// line (always).
#pragma once

#include <cstddef>
#include <string>

namespace kestrova::cli {

struct ProgressFigures {
    std::size_t done = 0;
    std::size_t total = 0;
    std::size_t usable = 0;
    double seconds = 0; ///< since the run started
};

/// "[#########-----------]  450/1000  usable 12  150/s  left 0:04": no line
/// end; the time left shows once a rate is known.
std::string progress_text(const ProgressFigures& figures);

/// "1000 of 1000 checked: 12 usable, 988 unusable, 6.7 s", with
/// "interrupted: " in front when the run was stopped.
std::string summary_text(const ProgressFigures& figures, bool interrupted);

} // namespace kestrova::cli
