// Whole-file reading and writing for proxy list files.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrova {

/// Larger files are not read: holding them and their rows would exhaust memory.
inline constexpr std::size_t max_proxy_file_bytes = std::size_t{1} << 30;

/// The whole content of a regular file; nothing when it cannot be opened or
/// read (missing, a folder, a device or pipe, no permission, too large).
/// It is read in pieces of a megabyte, with `between_pieces` called after
/// each, so a caller on the UI thread can let messages through.
std::string read_whole_file(const std::string& path,
                            const std::function<void()>& between_pieces = {});

/// Makes `bytes` the whole content of `path`. A regular file (new or old) is
/// written to a temporary file in the same folder and renamed over it, so a
/// failure leaves an old file whole; a replaced file keeps its permissions.
/// A symbolic link is followed, and a device is written in place. Returns
/// the error, if any.
std::error_code replace_file(const std::string& path, std::string_view bytes);

/// Why a write failed, for the user (code page 936).
std::string failure_reason(std::error_code error);

} // namespace kestrova
