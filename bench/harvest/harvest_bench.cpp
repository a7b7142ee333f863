// Measures harvesting on this machine:
//  1. matching throughput of the default pattern on a 100 MB page of proxy
//     list text (for_each_match, and plain Boost.Regex over the same text to
//     show what the time budget costs);
//  2. a whole harvest run of 50 loopback pages of 1 MB each on in-memory
//     windows (fetch, match, log, append).
// Usage: harvest_bench [page MB (default 100)] [pages (default 50)]
#include "../support/machine.h"
#include "harvest/fetch_page.h"
#include "harvest/harvest_control_names.h"
#include "harvest/harvest_run.h"
#include "harvest/pattern_matching.h"
#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "support/loopback_server.h"

#include <boost/regex.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>

namespace {

using namespace kestrova;
using Clock = std::chrono::steady_clock;
namespace names = controls::harvest;

const std::string default_pattern = R"(\d+\.\d+\.\d+\.\d+\:\d+)";

std::string load_average() {
    std::ifstream loadavg("/proc/loadavg");
    std::string one, five, fifteen;
    loadavg >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string address(std::mt19937& random) {
    auto part = [&](unsigned limit) { return std::to_string(random() % limit); };
    return part(223) + "." + part(256) + "." + part(256) + "." + part(256) + ":" +
           std::to_string(random() % 65535 + 1);
}

/// Text like the public lists: mostly "address:port" lines, some with
/// country and anonymity after them, and now and then a comment line.
std::string proxy_list_text(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string text;
    text.reserve(bytes + 128);
    while (text.size() < bytes) {
        const unsigned kind = random() % 20;
        if (kind == 0)
            text += "# free proxy list, checked 2026-05-01 12:00 UTC, anonymous and elite\r\n";
        else if (kind < 4)
            text += address(random) + " US-H-S +\r\n";
        else
            text += address(random) + "\r\n";
    }
    text.resize(bytes);
    return text;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
    std::size_t matches = 0;
};

template <typename Fn> Timing timed(Fn work) {
    const auto start = Clock::now();
    const double cpu_start = cpu_seconds();
    Timing timing;
    timing.matches = work();
    timing.cpu = cpu_seconds() - cpu_start;
    timing.wall = std::chrono::duration<double>(Clock::now() - start).count();
    return timing;
}

void report(const char* what, const Timing& timing, double megabytes) {
    std::printf("  %-34s %8.1f MB/s wall  %8.1f MB/s cpu  %7.3f s wall  %zu matches\n", what,
                megabytes / timing.wall, megabytes / timing.cpu, timing.wall, timing.matches);
}

std::size_t plain_boost_count(const std::string& page) {
    const boost::regex regex(default_pattern, boost::regex::perl);
    boost::match_results<const char*> match;
    const char* from = page.data();
    const char* end = page.data() + page.size();
    std::size_t count = 0;
    while (boost::regex_search(from, end, match, regex)) {
        ++count;
        if (match.length(0) == 0)
            break;
        from = match[0].second;
    }
    return count;
}

void bench_matching(std::size_t megabytes) {
    const std::string page = proxy_list_text(megabytes * 1'000'000, 1);
    std::printf("matching the default pattern on a %zu MB page (load before: %s)\n", megabytes,
                load_average().c_str());
    for (int round = 1; round <= 3; ++round) {
        report("for_each_match (time budget)", timed([&] {
                   return harvest::for_each_match(
                              default_pattern, page, [](std::string_view) {},
                              std::chrono::minutes(10))
                       .count;
               }),
               static_cast<double>(megabytes));
        report("plain Boost.Regex (no budget)", timed([&] { return plain_boost_count(page); }),
               static_cast<double>(megabytes));
    }
    std::printf("  load after: %s\n", load_average().c_str());
}

void bench_harvest(int page_count) {
    const std::string page = proxy_list_text(1'000'000, 2);
    test_support::LoopbackServer server(
        [&page](const test_support::ReceivedRequest&) { return test_support::Reply::text(page); });
    std::string sources;
    for (int i = 0; i < page_count; ++i)
        sources += (i ? "\r\n" : "") + server.url("/" + std::to_string(i));

    std::printf("harvest run of %d loopback pages of 1 MB (load before: %s)\n", page_count,
                load_average().c_str());
    report("fetch_page alone", timed([&] {
               std::size_t bytes = 0;
               for (int i = 0; i < page_count; ++i)
                   bytes += harvest::fetch_page(server.url("/" + std::to_string(i))).size();
               return bytes == page.size() * static_cast<std::size_t>(page_count) ? 0u : 1u;
           }),
           page_count * 1.0);
    for (int round = 1; round <= 3; ++round) {
        auto main_window = MemoryWindowPort::main_window();
        MemoryWindowPort harvest_window;
        harvest_window.set_box_text(names::source_list, sources);
        harvest_window.set_box_text(names::pattern, default_pattern);
        Timing timing = timed([&] {
            harvest::harvest_run(*main_window, harvest_window);
            std::size_t lines = 0;
            for (char c : main_window->box_text(controls::proxy_input))
                lines += c == '\n';
            return lines;
        });
        report("harvest_run (fetch+match+append)", timing, page_count * 1.0);
    }
    std::printf("  load after: %s\n", load_average().c_str());
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int pages = argc > 2 ? std::atoi(argv[2]) : 50;
    bench::print_machine("harvest_bench");
    bench_matching(megabytes);
    bench_harvest(pages);
}
