#include "cli/check_results.h"

#include "text/codepage.h"

#include <algorithm>
#include <cstdio>

namespace kestrova::cli {

namespace {

std::string tsv_field(std::string_view utf8) {
    std::string field;
    field.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '\\')
            field += "\\\\";
        else if (c == '\t')
            field += "\\t";
        else
            field += c;
    }
    return field;
}

void append_txt(std::string& out, const CheckResult& result) {
    if (result.usable)
        out.append(text::ansi_to_utf8(result.address)).append("\n");
}

void append_tsv(std::string& out, const CheckResult& result) {
    out.append(tsv_field(text::ansi_to_utf8(result.address)))
        .append(result.usable ? "\tusable\t" : "\tunusable\t")
        .append(std::to_string(result.milliseconds))
        .append("\n");
}

void append_json(std::string& out, const CheckResult& result, bool last) {
    out.append("  {\"address\": ")
        .append(json_string(text::ansi_to_utf8(result.address)))
        .append(", \"usable\": ")
        .append(result.usable ? "true" : "false")
        .append(", \"milliseconds\": ")
        .append(std::to_string(result.milliseconds))
        .append(last ? "}\n" : "},\n");
}

std::string json_array(const std::vector<CheckResult>& results) {
    if (results.empty())
        return "[]\n";
    std::string out = "[\n";
    for (std::size_t i = 0; i < results.size(); ++i)
        append_json(out, results[i], i + 1 == results.size());
    return out.append("]\n");
}

} // namespace

std::optional<OutputFormat> output_format_named(std::string_view name) {
    if (name == "txt")
        return OutputFormat::txt;
    if (name == "tsv")
        return OutputFormat::tsv;
    if (name == "json")
        return OutputFormat::json;
    return std::nullopt;
}

std::optional<SortOrder> sort_order_named(std::string_view name) {
    if (name == "input")
        return SortOrder::input;
    if (name == "latency")
        return SortOrder::latency;
    return std::nullopt;
}

void sort_results(std::vector<CheckResult>& results, SortOrder order) {
    if (order != SortOrder::latency)
        return;
    std::stable_sort(results.begin(), results.end(),
                     [](const CheckResult& a, const CheckResult& b) {
                         if (a.usable != b.usable)
                             return a.usable;
                         return a.usable && a.milliseconds < b.milliseconds;
                     });
}

std::string format_results(const std::vector<CheckResult>& results, OutputFormat format) {
    if (format == OutputFormat::json)
        return json_array(results);
    std::string out;
    for (const CheckResult& result : results) {
        if (format == OutputFormat::txt)
            append_txt(out, result);
        else
            append_tsv(out, result);
    }
    return out;
}

std::string json_string(std::string_view utf8) {
    std::string literal = "\"";
    for (char c : utf8) {
        switch (c) {
        case '"':
            literal += "\\\"";
            break;
        case '\\':
            literal += "\\\\";
            break;
        case '\t':
            literal += "\\t";
            break;
        case '\n':
            literal += "\\n";
            break;
        case '\r':
            literal += "\\r";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                literal += escape;
            } else {
                literal += c;
            }
        }
    }
    return literal + "\"";
}

} // namespace kestrova::cli
