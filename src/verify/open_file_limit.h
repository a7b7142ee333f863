// Every probe in flight holds about three file descriptors (its socket and
// the client's own wake-up pair), so a thread limit in the hundreds needs
// more than the usual soft limit of 1,024.
#pragma once

namespace kestrova {

/// Raises the soft limit on open files to the hard limit; returns the limit
/// now in force (0 when it cannot be read).
unsigned long raise_open_file_limit();

} // namespace kestrova
