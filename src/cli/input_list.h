// Reading a proxy list for the command line: the whole input from a file or
// standard input, and its addresses under the import rules of the proxy list
// files (LF or CR LF, a UTF-8 byte-order mark dropped, UTF-16 with a
// byte-order mark decoded).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrova::cli {

/// Inputs larger than this are refused, as the list import refuses them.
inline constexpr std::size_t max_input_bytes = std::size_t{1} << 30;

struct InputBytes {
    std::string bytes;
    std::string error; ///< not empty: nothing could be read (why, one line)
};

/// The whole content of `path`, or of standard input for "-". A folder, a
/// missing file and more than `max_bytes` are errors; pipes and devices are
/// read to their end.
InputBytes read_input(const std::string& path, std::size_t max_bytes = max_input_bytes);

struct AddressList {
    std::vector<std::string> addresses; ///< code page 936, in input order
    std::size_t blank_lines = 0;        ///< lines of nothing but spaces and tabs, skipped
    std::size_t first_blank_line = 0;   ///< 1-based; 0 when there is none
    std::string problem;                ///< not empty: the input is no proxy list (why)
};

/// The addresses of a proxy list's bytes, one per line, blank lines skipped.
/// Text with control bytes (other than tab and the line ends), or with a
/// NUL byte followed by more data, is binary and has no addresses; trailing
/// NUL padding ends the text, as in the list import.
AddressList addresses_from_bytes(std::string bytes);

} // namespace kestrova::cli
