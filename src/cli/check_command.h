// kestrova-cli check [options] [FILE]: verifies the proxy addresses of FILE
// (or standard input) with the verification engine and writes the results.
#pragma once

#include <span>
#include <string>

namespace kestrova::cli {

/// `args` are the words after "check". Returns 0 when the run completed, 1
/// for an input or output error, 2 for wrong usage, 130 when Ctrl-C stopped
/// it (results known until then are written). After a second Ctrl-C it
/// writes what is known and ends the process itself, with code 130.
/// Installs the process's SIGINT handling: call it once, from main.
int run_check_command(std::span<const std::string> args);

} // namespace kestrova::cli
