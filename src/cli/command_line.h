// Options of the kestrova-cli commands: "--name VALUE", "--name=VALUE" and
// "--flag"; "--" ends the options; "-" is an operand (standard input).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::cli {

struct OptionSpec {
    std::string_view name; ///< without the leading "--"
    bool takes_value = false;
};

struct ParsedArgs {
    std::map<std::string, std::string, std::less<>> values; ///< the last one given wins
    std::set<std::string, std::less<>> flags;
    std::vector<std::string> operands;
    std::string error; ///< not empty: the arguments are wrong (why, one line)

    bool has_flag(std::string_view name) const { return flags.contains(name); }
    /// The option's value, or `fallback` when it was not given.
    std::string value_or(std::string_view name, std::string_view fallback) const;
};

ParsedArgs parse_args(std::span<const std::string> args, std::span<const OptionSpec> options);

/// A whole decimal number from `min` to `max`: digits only (no sign, no
/// spaces), else nothing.
std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t min, std::int64_t max);

} // namespace kestrova::cli
