#include "cli/command_line.h"

#include <algorithm>
#include <charconv>

namespace kestrova::cli {

namespace {

const OptionSpec* find_option(std::span<const OptionSpec> options, std::string_view name) {
    auto found = std::find_if(options.begin(), options.end(),
                              [name](const OptionSpec& option) { return option.name == name; });
    return found == options.end() ? nullptr : &*found;
}

bool is_option(std::string_view arg) {
    return arg.size() > 1 && arg.front() == '-';
}

} // namespace

std::string ParsedArgs::value_or(std::string_view name, std::string_view fallback) const {
    auto found = values.find(name);
    return found == values.end() ? std::string(fallback) : found->second;
}

ParsedArgs parse_args(std::span<const std::string> args, std::span<const OptionSpec> options) {
    ParsedArgs parsed;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (options_ended || !is_option(arg)) {
            parsed.operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "-h" && find_option(options, "help")) {
            parsed.flags.emplace("help");
            continue;
        }
        std::string_view body = arg.starts_with("--") ? arg.substr(2) : arg.substr(1);
        std::size_t equals = body.find('=');
        std::string_view name = body.substr(0, equals);
        const OptionSpec* option = arg.starts_with("--") ? find_option(options, name) : nullptr;
        if (!option) {
            parsed.error = "unknown option " + std::string(arg);
            return parsed;
        }
        if (!option->takes_value) {
            if (equals != std::string_view::npos) {
                parsed.error = "--" + std::string(name) + " takes no value";
                return parsed;
            }
            parsed.flags.emplace(name);
            continue;
        }
        if (equals != std::string_view::npos) {
            parsed.values.insert_or_assign(std::string(name), std::string(body.substr(equals + 1)));
        } else if (i + 1 < args.size()) {
            parsed.values.insert_or_assign(std::string(name), args[++i]);
        } else {
            parsed.error = "--" + std::string(name) + " needs a value";
            return parsed;
        }
    }
    return parsed;
}

std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t min,
                                         std::int64_t max) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace kestrova::cli
