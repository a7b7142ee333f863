// Command-line options shared by the farm program and the benchmark driver.
#pragma once

#include "proxy_farm.h"

#include <string>
#include <string_view>

namespace kestrova::bench {

/// Takes `--name value` into `options` when it is a farm option. Returns
/// false when the name is not a farm option; sets `error` when the value is
/// unusable.
bool take_farm_option(std::string_view name, std::string_view value, FarmOptions& options,
                      std::string& error);

/// One line per farm option, for usage texts.
const char* farm_option_help();

/// Parses a whole number of at most `most`; false when it is not one.
bool parse_count(std::string_view text, std::uint64_t most, std::uint64_t& value);

/// Raises the open file limit as far as allowed and says whether `needed`
/// descriptors fit (printing a warning to standard error when not).
bool ensure_open_files(unsigned long needed, const char* who);

} // namespace kestrova::bench
