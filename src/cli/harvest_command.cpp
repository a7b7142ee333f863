#include "cli/harvest_command.h"

#include "cli/command_line.h"
#include "cli/harvest_defaults.h"
#include "cli/input_list.h"
#include "cli/interrupts.h"
#include "cli/output_file.h"
#include "harvest/fetch_page.h"
#include "harvest/pattern_matching.h"
#include "text/codepage.h"
#include "text/text.h"

#include <cstdlib>
#include <iostream>
#include <mutex>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace kestrova::cli {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_input_output = 1;
constexpr int exit_usage = 2;

constexpr OptionSpec harvest_options[] = {
    {"pattern", true}, {"sources", true}, {"unique", false}, {"help", false}};

std::string usage_text() {
    return std::string(
               R"(usage: kestrova-cli harvest [--pattern RE] [--sources FILE] [--unique] [URL ...]
Fetches each page and prints every match of the pattern on its own line;
"address: n matches" per page goes to standard error.
  --pattern RE      Perl regular expression (default )") +
           std::string(default_harvest_pattern) + R"()
  --sources FILE    page addresses, one per line, fetched before any URL given
  --unique          print each match once, where it is first found
Without URL and --sources the harvest window's own sources are fetched.
)";
}

struct Page {
    std::string address; ///< code page 936, as the harvest window holds it
    std::string shown;   ///< UTF-8, for messages
};

struct HarvestCommand {
    std::string pattern; ///< code page 936
    std::vector<Page> pages;
    bool unique = false;
};

int usage_error(const std::string& message) {
    std::cerr << "kestrova-cli harvest: " << message
              << " (kestrova-cli harvest --help shows usage)\n";
    return exit_usage;
}

int input_output_error(const std::string& message) {
    std::cerr << "kestrova-cli harvest: " << message << '\n';
    return exit_input_output;
}

bool pattern_compiles(std::string_view pattern) {
    return harvest::for_each_match(pattern, "", [](std::string_view) {}).end !=
           harvest::MatchEnd::invalid_pattern;
}

void add_utf8_page(std::vector<Page>& pages, std::string_view utf8) {
    pages.push_back({text::utf8_to_ansi(utf8), std::string(utf8)});
}

// The pages of a sources file; an error text when it cannot be used.
std::string read_sources(const std::string& path, std::vector<Page>& pages) {
    InputBytes input = read_input(path);
    if (!input.error.empty())
        return input.error;
    AddressList list = addresses_from_bytes(std::move(input.bytes));
    if (!list.problem.empty())
        return (path == "-" ? "standard input" : path) + ": " + list.problem;
    for (std::string& address : list.addresses)
        pages.push_back({address, text::ansi_to_utf8(address)});
    return {};
}

void add_default_pages(std::vector<Page>& pages) {
    text::for_each_piece(default_harvest_sources, "\n", [&](std::string_view line) {
        if (!text::trim_view(line).empty())
            add_utf8_page(pages, line);
        return true;
    });
}

/// Writes matches whole lines at a time, so Ctrl-C never cuts a line.
class MatchWriter {
public:
    explicit MatchWriter(bool unique) : unique_(unique) {}

    /// The matches of one page; returns how many were new, or an error text.
    std::size_t write_page(const std::vector<std::string>& matches, std::string& error) {
        std::string lines;
        std::size_t fresh = 0;
        for (const std::string& match : matches) {
            if (unique_ && !seen_.insert(match).second)
                continue;
            ++fresh;
            lines.append(text::ansi_to_utf8(match)).append("\n");
        }
        std::lock_guard lock(mutex_);
        error = write_all(STDOUT_FILENO, lines);
        return fresh;
    }

    /// Ctrl-C: ends the process once no line is being written.
    void end_process() {
        mutex_.lock();
        std::_Exit(interrupted_exit_code);
    }

private:
    bool unique_;
    std::unordered_set<std::string> seen_;
    std::mutex mutex_;
};

std::vector<std::string> page_matches(const std::string& pattern, const Page& page) {
    const std::string body = harvest::fetch_page(page.address);
    std::vector<std::string> matches;
    harvest::for_each_match(pattern, text::up_to_nul(body),
                            [&](std::string_view match) { matches.emplace_back(match); });
    return matches;
}

/// Hands Ctrl-C to the writer while it exists.
class InterruptsToWriter {
public:
    explicit InterruptsToWriter(MatchWriter& writer) {
        // A second Ctrl-C ends it even while a line is stuck in a full pipe.
        set_interrupt_handler([&writer](int) { writer.end_process(); }, 2);
    }
    ~InterruptsToWriter() { set_interrupt_handler({}, 0); }
    InterruptsToWriter(const InterruptsToWriter&) = delete;
    InterruptsToWriter& operator=(const InterruptsToWriter&) = delete;
};

int harvest_pages(const HarvestCommand& command) {
    MatchWriter writer(command.unique);
    InterruptsToWriter interrupts(writer);
    for (const Page& page : command.pages) {
        std::vector<std::string> matches = page_matches(command.pattern, page);
        std::string error;
        std::size_t fresh = writer.write_page(matches, error);
        if (!error.empty())
            return input_output_error("cannot write standard output: " + error);
        std::cerr << page.shown << ": " << matches.size() << " matches";
        if (command.unique)
            std::cerr << " (" << fresh << " new)";
        std::cerr << '\n';
    }
    return exit_ok;
}

std::string read_command(const ParsedArgs& args, HarvestCommand& command) {
    std::string pattern_utf8 = args.value_or("pattern", default_harvest_pattern);
    command.pattern = text::utf8_to_ansi(pattern_utf8);
    if (!pattern_compiles(command.pattern))
        return "invalid regular expression \"" + pattern_utf8 + "\"";
    command.unique = args.has_flag("unique");
    return {};
}

} // namespace

int run_harvest_command(std::span<const std::string> args) {
    ParsedArgs parsed = parse_args(args, harvest_options);
    if (!parsed.error.empty())
        return usage_error(parsed.error);
    if (parsed.has_flag("help")) {
        std::cout << usage_text();
        return exit_ok;
    }
    HarvestCommand command;
    if (std::string problem = read_command(parsed, command); !problem.empty())
        return usage_error(problem);
    ignore_broken_pipes();
    watch_interrupts();
    if (auto sources = parsed.values.find("sources"); sources != parsed.values.end())
        if (std::string error = read_sources(sources->second, command.pages); !error.empty())
            return input_output_error(error);
    for (const std::string& url : parsed.operands)
        add_utf8_page(command.pages, url);
    if (command.pages.empty())
        add_default_pages(command.pages);
    return harvest_pages(command);
}

} // namespace kestrova::cli
