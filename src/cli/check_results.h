// The results of `kestrova-cli check` and the three ways of writing them.
// Addresses are code page 936 inside the system and come out as UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::cli {

struct CheckResult {
    std::string address; ///< code page 936
    bool usable = false;
    std::int64_t milliseconds = 0;
};

enum class OutputFormat { txt, tsv, json };
enum class SortOrder { input, latency };

std::optional<OutputFormat> output_format_named(std::string_view name);
std::optional<SortOrder> sort_order_named(std::string_view name);

/// In input order, or by latency: the usable results from the fastest (equal
/// times keep their input order), then the unusable ones in input order.
void sort_results(std::vector<CheckResult>& results, SortOrder order);

/// txt: the usable addresses, one per line. tsv: address, "usable" or
/// "unusable" and the milliseconds, separated by tabs (a backslash or tab in
/// an address is written as \\ or \t). json: an array of objects with
/// "address", "usable" and "milliseconds", one object per line. Every line
/// ends with LF.
std::string format_results(const std::vector<CheckResult>& results, OutputFormat format);

/// `utf8` as a JSON string literal, quotes included.
std::string json_string(std::string_view utf8);

} // namespace kestrova::cli
