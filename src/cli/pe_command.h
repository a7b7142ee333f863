// kestrova-cli pe FILE [EXPORT [WORD ...]]: loads a PE32 library image from
// a file with MemoryModule and lists it; with EXPORT, calls that export.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace kestrova::cli {

/// `args` are the words after "pe". Prints "loaded: yes" or "loaded: no"
/// first, then the base, the entry point and the exports; with EXPORT, calls
/// it with the WORDs (up to ten, decimal) and prints "result: N" last.
/// Returns 0, 1 when the image does not load or the export is not found, 2
/// for wrong usage.
int run_pe_command(std::span<const std::string> args, std::ostream& out, std::ostream& err);

} // namespace kestrova::cli
