// Where a command's results go: a file, or standard output.
#pragma once

#include <string>
#include <string_view>

namespace kestrova::cli {

struct OutputTarget {
    int fd = -1;       ///< -1 when it could not be opened
    std::string name;  ///< for messages
    std::string error; ///< why it could not be opened
};

/// Opens `path` for writing, replacing its content ("-" or empty: standard
/// output), before any work begins, so an unwritable output is known at once.
OutputTarget open_output(const std::string& path);

/// Writes all of `bytes`; an error text when that fails ("" when it worked).
std::string write_all(int fd, std::string_view bytes);

/// Closes a file opened by open_output (not standard output); an error text
/// when the last data could not be written.
std::string close_output(OutputTarget& target);

/// Writes to a closed pipe fail with an error instead of ending the process.
void ignore_broken_pipes();

} // namespace kestrova::cli
