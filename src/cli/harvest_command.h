// kestrova-cli harvest [--pattern RE] [--sources FILE] [--unique] [URL ...]:
// fetches pages and prints every match of the pattern, as a harvest run does.
#pragma once

#include <span>
#include <string>

namespace kestrova::cli {

/// `args` are the words after "harvest". Prints each match on its own line
/// on standard output and "address: n matches" per page on standard error.
/// Returns 0 when every page was handled (a page that cannot be fetched has
/// no matches), 1 for an input or output error, 2 for wrong usage; Ctrl-C
/// ends the process with code 130 after the last whole line. Installs the
/// process's SIGINT handling: call it once, from main.
int run_harvest_command(std::span<const std::string> args);

} // namespace kestrova::cli
