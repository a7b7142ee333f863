#include "cli/check_command.h"

#include "cli/check_run.h"
#include "cli/command_line.h"
#include "cli/input_list.h"
#include "cli/interrupts.h"
#include "cli/output_file.h"
#include "cli/url_check.h"
#include "verify/open_file_limit.h"
#include "verify/verifier.h"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace kestrova::cli {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_input_output = 1;
constexpr int exit_usage = 2;

/// More probes at once than this would only exhaust threads and sockets.
constexpr std::int64_t max_threads = 10'000;
/// A day; the engine turns milliseconds into whole seconds per phase.
constexpr std::int64_t max_timeout_ms = 86'400'000;

constexpr OptionSpec check_options[] = {
    {"threads", true}, {"timeout", true}, {"probe-url", true}, {"marker", true}, {"format", true},
    {"sort", true},    {"output", true},  {"quiet", false},    {"help", false},
};

std::string usage_text() {
    return std::string(R"(usage: kestrova-cli check [options] [FILE]
Verifies the proxy addresses in FILE (or standard input), one per line;
blank lines are skipped.
  --threads N       probes at once, 1 to 10000 (default 30)
  --timeout MS      time-out in milliseconds, as in the time-out box (default 2000)
  --probe-url URL   page fetched through each proxy (default )") +
           probe_url + ")\n  --marker TEXT     text the page must contain (default " +
           probe_marker_utf8 + R"()
  --format F        txt: usable addresses; tsv: address, usable|unusable, ms;
                    json: array of {address, usable, milliseconds} (default txt)
  --sort S          input, or latency: usable from the fastest, then unusable
                    (default input)
  --output FILE     write the results there (default standard output)
  --quiet           no progress line and no summary line
Ctrl-C stops launching and waits for the probes out; a second one ends at once.
Both write every result known and exit with 130.
)";
}

struct CheckCommand {
    CheckSettings settings;
    OutputFormat format = OutputFormat::txt;
    SortOrder sort = SortOrder::input;
    std::string input = "-";
    std::string output = "-";
    bool quiet = false;
};

int usage_error(const std::string& message) {
    std::cerr << "kestrova-cli check: " << message << " (kestrova-cli check --help shows usage)\n";
    return exit_usage;
}

int input_output_error(const std::string& message) {
    std::cerr << "kestrova-cli check: " << message << '\n';
    return exit_input_output;
}

// The options as settings; the text of a usage error when they are wrong.
std::string read_options(const ParsedArgs& args, CheckCommand& command) {
    auto threads = parse_number(args.value_or("threads", "30"), 1, max_threads);
    if (!threads)
        return "--threads takes a whole number from 1 to 10000, not \"" +
               args.value_or("threads", "") + "\"";
    auto timeout = parse_number(args.value_or("timeout", "2000"), 1, max_timeout_ms);
    if (!timeout)
        return "--timeout takes a whole number of milliseconds from 1 to 86400000, not \"" +
               args.value_or("timeout", "") + "\"";
    command.settings.threads = *threads;
    command.settings.timeout_ms = *timeout;
    command.settings.probe_url = args.value_or("probe-url", probe_url);
    if (std::string problem = url_problem(command.settings.probe_url); !problem.empty())
        return "--probe-url \"" + command.settings.probe_url + "\" does not parse: " + problem;
    command.settings.marker_utf8 = args.value_or("marker", probe_marker_utf8);
    if (command.settings.marker_utf8.empty())
        return "--marker must not be empty";
    auto format = output_format_named(args.value_or("format", "txt"));
    if (!format)
        return "--format takes txt, tsv or json";
    auto sort = sort_order_named(args.value_or("sort", "input"));
    if (!sort)
        return "--sort takes input or latency";
    command.format = *format;
    command.sort = *sort;
    command.output = args.value_or("output", "-");
    command.quiet = args.has_flag("quiet");
    return {};
}

std::string read_operands(const ParsedArgs& args, CheckCommand& command) {
    if (args.operands.size() > 1)
        return "one input FILE at most";
    command.input = args.operands.empty() ? "-" : args.operands.front();
    if (args.operands.empty() && isatty(STDIN_FILENO))
        return "no input: give a FILE, or pipe the addresses in (\"-\" reads the terminal)";
    return {};
}

void report_blank_lines(const AddressList& list) {
    if (list.blank_lines == 0)
        return;
    std::cerr << "kestrova-cli check: skipped " << list.blank_lines << " blank line"
              << (list.blank_lines == 1 ? "" : "s") << " (the first is line "
              << list.first_blank_line << ")\n";
}

// Writes what the run found; the exit code.
int write_outcome(CheckOutcome& outcome, const CheckCommand& command, OutputTarget& output) {
    sort_results(outcome.results, command.sort);
    std::string error = write_all(output.fd, format_results(outcome.results, command.format));
    if (error.empty())
        error = close_output(output);
    if (!command.quiet)
        std::cerr << summary_text(outcome.figures, outcome.interrupted) << '\n';
    if (!error.empty())
        return input_output_error("cannot write " + output.name + ": " + error);
    return outcome.interrupted ? interrupted_exit_code : exit_ok;
}

int check(const CheckCommand& command) {
    InputBytes input = read_input(command.input);
    if (!input.error.empty())
        return input_output_error(input.error);
    AddressList list = addresses_from_bytes(std::move(input.bytes));
    std::string input_name = command.input == "-" ? "standard input" : command.input;
    if (!list.problem.empty())
        return input_output_error(input_name + ": " + list.problem);
    report_blank_lines(list);
    OutputTarget output = open_output(command.output);
    if (!output.error.empty())
        return input_output_error(output.error);

    raise_open_file_limit();
    CheckSettings settings = command.settings;
    settings.show_progress = !command.quiet && isatty(STDERR_FILENO);
    CheckOutcome outcome = run_check(list.addresses, settings, std::cerr);
    if (!outcome.error.empty())
        return input_output_error(outcome.error);
    int code = write_outcome(outcome, command, output);
    if (outcome.abandoned)
        std::_Exit(code); // probes are still running: no destructors under their feet
    return code;
}

} // namespace

int run_check_command(std::span<const std::string> args) {
    ParsedArgs parsed = parse_args(args, check_options);
    if (!parsed.error.empty())
        return usage_error(parsed.error);
    if (parsed.has_flag("help")) {
        std::cout << usage_text();
        return exit_ok;
    }
    CheckCommand command;
    std::string problem = read_options(parsed, command);
    if (problem.empty())
        problem = read_operands(parsed, command);
    if (!problem.empty())
        return usage_error(problem);
    ignore_broken_pipes();
    watch_interrupts();
    return check(command);
}

} // namespace kestrova::cli
