// verify_bench: the verification engine against a local farm of simulated
// proxies, beside the xargs + curl pipeline a user would write.
//
// For every thread limit it runs the real engine (Verifier over the in-memory
// window, probe_url pointed at the farm) and then the baseline over the same
// farm, and reports wall time, the ideal makespan (sum of the least times
// over the thread limit, plus the longest one), their ratio, precision and
// recall of "可以用" against the farm's truth, peak resident memory, peak
// threads, CPU time, the load average and how busy the farm was. With --cli,
// kestrova-cli check runs over the same farm at the same limits. A last run
// at a high thread limit measures memory with that many probes in flight.
#include "../support/machine.h"
#include "cli_run.h"
#include "curl_baseline.h"
#include "engine_run.h"
#include "farm_args.h"
#include "farm_process.h"
#include "process_stats.h"
#include "scoring.h"
#include "truth_file.h"
#include "verify/timing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unistd.h>
#include <unordered_map>

using namespace kestrova;
using namespace kestrova::bench;

namespace {

constexpr unsigned long descriptors_per_probe = 4;
constexpr unsigned long descriptors_besides = 4096;

struct Options {
    FarmOptions farm;
    std::vector<int> thread_limits{30, 200};
    int in_flight = 1000; ///< thread limit of the memory run; 0: none
    bool baseline = true;
    std::string cli_program; ///< kestrova-cli, run beside the engine when given
    std::string farm_truth;  ///< an already running farm's truth file
    std::string work_prefix = "/tmp/kestrova-verify-bench-" + std::to_string(getpid());
    bool keep_files = false; ///< with --work: leave the truth and the curl files
    double progress_every_seconds = 10;
};

/// One line of the closing table.
struct Row {
    std::string front_end;
    int threads = 0;
    bool finished = false;
    double wall = 0;
    double ideal = 0;
    double list_schedule = 0; ///< a dispatcher without overhead, same list
    Score score;
    long peak_kb = -1;
    long peak_threads = -1;
    double cpu = 0;
    std::string load;
};

struct Farm {
    std::unique_ptr<FarmProcess> process; ///< null for a farm started elsewhere
    Truth truth;
    std::unordered_map<std::string, std::size_t> index_of;
};

void print_usage() {
    std::fprintf(stderr,
                 "usage: verify_bench [options]\n"
                 "  --threads L,L,...  thread limits to compare (30,200)\n"
                 "  --in-flight N      thread limit of the memory run, 0 for none (1000)\n"
                 "  --no-baseline      skip xargs + curl\n"
                 "  --cli PATH         also run kestrova-cli check at every thread limit\n"
                 "  --farm-truth FILE  use a running proxy_farm instead of starting one\n"
                 "  --work PREFIX      where the truth, address list and curl answers go\n"
                 "  --progress S       seconds between progress lines (10)\n"
                 "farm options (for the farm this program starts):\n%s",
                 farm_option_help());
}

bool parse_limits(std::string_view text, std::vector<int>& limits) {
    limits.clear();
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::uint64_t limit = 0;
        if (!parse_count(text.substr(0, comma), 100'000, limit) || limit == 0)
            return false;
        limits.push_back(static_cast<int>(limit));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return !limits.empty();
}

std::string take_option(std::string_view name, std::string_view value, Options& options) {
    std::string error;
    std::uint64_t number = 0;
    if (name == "--threads") {
        if (!parse_limits(value, options.thread_limits))
            error = "--threads wants limits like 30,200";
    } else if (name == "--in-flight") {
        if (parse_count(value, 100'000, number))
            options.in_flight = static_cast<int>(number);
        else
            error = "--in-flight wants a whole number";
    } else if (name == "--farm-truth") {
        options.farm_truth = value;
    } else if (name == "--cli") {
        options.cli_program = value;
    } else if (name == "--work") {
        options.work_prefix = value;
        options.keep_files = true;
    } else if (name == "--progress") {
        if (parse_count(value, 3600, number) && number > 0)
            options.progress_every_seconds = static_cast<double>(number);
        else
            error = "--progress wants seconds";
    } else if (!take_farm_option(name, value, options.farm, error)) {
        error = "unknown option " + std::string(name);
    }
    return error;
}

bool parse_arguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--no-baseline") {
            options.baseline = false;
            continue;
        }
        if (name == "--help" || i + 1 >= argc)
            return false;
        const std::string error = take_option(name, argv[++i], options);
        if (!error.empty()) {
            std::fprintf(stderr, "verify_bench: %s\n", error.c_str());
            return false;
        }
    }
    return true;
}

bool open_farm(const Options& options, Farm& farm) {
    std::string error;
    std::string truth_path = options.farm_truth;
    if (truth_path.empty()) {
        truth_path = options.work_prefix + ".truth";
        farm.process = FarmProcess::start(options.farm, truth_path, error);
        if (!farm.process) {
            std::fprintf(stderr, "verify_bench: %s\n", error.c_str());
            return false;
        }
    }
    if (farm.process)
        std::printf("farm: %zu server threads, endless bodies paced at %zu kB/s (0: unpaced)\n",
                    options.farm.loops, options.farm.endless_bytes_per_second / 1024);
    auto truth = read_truth(truth_path, error);
    if (!truth) {
        std::fprintf(stderr, "verify_bench: %s\n", error.c_str());
        return false;
    }
    farm.truth = std::move(*truth);
    for (std::size_t i = 0; i < farm.truth.proxies.size(); ++i)
        farm.index_of[farm.truth.proxies[i].address] = i;
    std::printf("farm: %zu proxies, probe page %s, truth %s, farm process %ld\nfarm: mix %s\n",
                farm.truth.proxies.size(), farm.truth.probe_url.c_str(), truth_path.c_str(),
                farm.truth.farm_pid, farm.truth.mix.c_str());
    return true;
}

/// The per-phase time-out the engine makes of the time-out box, in ms.
std::int64_t engine_timeout_ms(std::int64_t box_ms) {
    const int seconds = probe_timeout_seconds(std::to_string(box_ms));
    return std::int64_t{seconds < 1 ? 15 : seconds} * 1000;
}

double time_cap(const IdealMakespan& ideal) {
    return 3 * ideal.seconds + 60;
}

/// The pipeline starts three processes per proxy: on a busy machine that,
/// not the thread limit, sets its pace.
double baseline_time_cap(const IdealMakespan& ideal, std::size_t proxies) {
    constexpr double seconds_per_proxy = 0.15;
    return time_cap(ideal) + seconds_per_proxy * static_cast<double>(proxies);
}

std::string ratio_text(double wall, double ideal) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ideal > 0 ? wall / ideal : 0.0);
    return text;
}

std::string fraction_text(double value) {
    if (std::isnan(value))
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

void print_score(const Score& score) {
    std::string wrong;
    for (const auto& [behaviour, count] : score.wrong_by_behaviour)
        wrong += " " + behaviour + "=" + std::to_string(count);
    std::printf("    precision %s, recall %s (%zu called usable rightly, %zu wrongly, %zu "
                "usable missed, %zu unanswered); wrong verdicts by behaviour:%s\n",
                fraction_text(score.precision()).c_str(), fraction_text(score.recall()).c_str(),
                score.true_usable, score.false_usable, score.missed_usable, score.unanswered,
                wrong.empty() ? " none" : wrong.c_str());
}

void print_farm_use(const ProcessUse& use) {
    if (use.known)
        std::printf("    farm: %.1f s CPU over the run, busiest farm thread %.0f %% of one core\n",
                    use.cpu_seconds, use.busiest_thread_share * 100);
}

void print_time(double wall, const IdealMakespan& ideal, int threads, double list_schedule) {
    std::printf("    wall %.2f s, ideal %.2f s (least times %.1f s / %d + longest %.2f s), "
                "ratio %s\n"
                "    a dispatcher without overhead would take %.2f s over this list (wall / "
                "that: %s)\n",
                wall, ideal.seconds, ideal.least_sum_seconds, threads, ideal.longest_seconds,
                ratio_text(wall, ideal.seconds).c_str(), list_schedule,
                ratio_text(wall, list_schedule).c_str());
}

/// Where the slots went: busy in a request, busy outside it, idle while rows
/// still waited (the dispatcher's lag), idle in the tail.
void print_slots(const EngineResult& result, int threads, double request_seconds) {
    const RunSamples& samples = result.samples;
    const double capacity = threads * result.wall_seconds;
    if (capacity <= 0)
        return;
    const double idle = capacity - samples.slot_seconds;
    std::printf("    slots (limit x wall = %.1f s): in requests %.1f %%, held outside requests "
                "%.1f %%, idle while rows waited %.1f %%, idle in the tail %.1f %%\n",
                capacity, 100 * request_seconds / capacity,
                100 * (samples.slot_seconds - request_seconds) / capacity,
                100 * samples.idle_while_waiting_seconds / capacity,
                100 * (idle - samples.idle_while_waiting_seconds) / capacity);
    if (samples.first_full_seconds >= 0)
        std::printf("    every slot taken %.0f ms after the click\n",
                    samples.first_full_seconds * 1000);
}

void print_excess(const Farm& farm, const std::vector<std::int64_t>& elapsed,
                  std::int64_t timeout_ms) {
    for (Bound bound : {Bound::latency, Bound::timeout}) {
        const Spread spread = excess_spread(farm.truth.proxies, elapsed, bound, timeout_ms);
        if (spread.count > 0)
            std::printf("    request time over least time, %s-bound (%zu): median %.0f ms, "
                        "p99 %.0f ms, max %.0f ms\n",
                        bound_name(bound), spread.count, spread.median, spread.p99, spread.max);
    }
}

Row engine_row(const Farm& farm, const EngineResult& result, int threads, std::int64_t timeout_ms,
               const std::string& load) {
    std::vector<std::optional<bool>> verdicts(farm.truth.proxies.size());
    std::vector<std::int64_t> elapsed(farm.truth.proxies.size(), -1);
    double request_seconds = 0;
    for (const ProbeRecord& probe : result.probes) {
        request_seconds += static_cast<double>(probe.elapsed_ms) / 1000.0;
        if (auto found = farm.index_of.find(probe.address); found != farm.index_of.end()) {
            verdicts[found->second] = probe.usable;
            elapsed[found->second] = probe.elapsed_ms;
        }
    }
    const IdealMakespan ideal = ideal_makespan(farm.truth.proxies, threads, timeout_ms);
    Row row{.front_end = "kestrova engine",
            .threads = threads,
            .finished = result.finished,
            .wall = result.wall_seconds,
            .ideal = ideal.seconds,
            .list_schedule = list_schedule_seconds(farm.truth.proxies, threads, timeout_ms),
            .score = score(farm.truth.proxies, verdicts),
            .peak_kb = result.peak_resident_kb,
            .peak_threads = result.samples.peak_threads,
            .cpu = result.cpu_seconds,
            .load = load};
    print_time(row.wall, ideal, threads, row.list_schedule);
    print_score(row.score);
    if (result.probes.size() != farm.truth.proxies.size())
        std::printf("    %zu probe reports for %zu rows\n", result.probes.size(),
                    farm.truth.proxies.size());
    std::printf("    peak resident %.1f MB%s, peak threads %ld, peak probes in flight %d, CPU "
                "%.1f s\n",
                result.peak_resident_kb / 1024.0,
                result.peak_resident_reset ? "" : " (process peak; could not reset)",
                result.samples.peak_threads, result.samples.peak_running, result.cpu_seconds);
    print_slots(result, threads, request_seconds);
    print_excess(farm, elapsed, timeout_ms);
    return row;
}

Row run_engine_phase(const Options& options, const Farm& farm, int threads) {
    const std::int64_t timeout_ms = engine_timeout_ms(options.farm.timeout_ms);
    const IdealMakespan ideal = ideal_makespan(farm.truth.proxies, threads, timeout_ms);
    const std::string load = load_average();
    std::printf("\n[kestrova engine, %d threads, time-out box %lld ms] load %s; ideal %.1f s\n",
                threads, static_cast<long long>(options.farm.timeout_ms), load.c_str(),
                ideal.seconds);
    std::fflush(stdout);
    EngineSettings settings{threads, options.farm.timeout_ms, farm.truth.probe_url, time_cap(ideal),
                            options.progress_every_seconds};
    const ThreadTicks farm_before = thread_ticks(farm.truth.farm_pid);
    const EngineResult result = run_engine(farm.truth.proxies, settings);
    const ProcessUse farm_use =
        process_use(farm_before, thread_ticks(farm.truth.farm_pid), result.wall_seconds);
    if (!result.finished)
        std::printf("    the run did NOT finish within %.0f s; figures are partial\n",
                    settings.time_cap_seconds);
    Row row = engine_row(farm, result, threads, timeout_ms, load);
    print_farm_use(farm_use);
    return row;
}

// A front end's verdicts, by address, scored against the farm's truth.
Row scored_row(const char* front_end, const Options& options, const Farm& farm, int threads,
               const IdealMakespan& ideal, const std::map<std::string, bool>& usable_by_address) {
    std::vector<std::optional<bool>> verdicts(farm.truth.proxies.size());
    for (const auto& [address, usable] : usable_by_address)
        if (auto found = farm.index_of.find(address); found != farm.index_of.end())
            verdicts[found->second] = usable;
    Row row;
    row.front_end = front_end;
    row.threads = threads;
    row.ideal = ideal.seconds;
    row.list_schedule = list_schedule_seconds(farm.truth.proxies, threads, options.farm.timeout_ms);
    row.score = score(farm.truth.proxies, verdicts);
    return row;
}

Row run_baseline_phase(const Options& options, const Farm& farm, int threads) {
    const IdealMakespan ideal =
        ideal_makespan(farm.truth.proxies, threads, options.farm.timeout_ms);
    const std::string load = load_average();
    std::printf("\n[xargs -P %d + curl --max-time, same farm] load %s; ideal %.1f s\n", threads,
                load.c_str(), ideal.seconds);
    std::fflush(stdout);
    BaselineSettings settings{threads,
                              options.farm.timeout_ms,
                              farm.truth.probe_url,
                              options.work_prefix + "-curl",
                              baseline_time_cap(ideal, farm.truth.proxies.size()),
                              options.progress_every_seconds};
    const ThreadTicks farm_before = thread_ticks(farm.truth.farm_pid);
    const BaselineResult result = run_curl_baseline(farm.truth.proxies, settings);
    const ProcessUse farm_use =
        process_use(farm_before, thread_ticks(farm.truth.farm_pid), result.wall_seconds);
    std::printf("    command: %s\n", result.command.c_str());
    if (!result.finished)
        std::printf("    the pipeline did NOT finish (exit %d); figures are partial\n",
                    result.exit_status);
    Row row = scored_row("xargs+curl", options, farm, threads, ideal, result.usable_by_address);
    row.finished = result.finished;
    row.wall = result.wall_seconds;
    row.cpu = result.cpu_seconds;
    row.load = load;
    print_time(row.wall, ideal, threads, row.list_schedule);
    print_score(row.score);
    std::printf("    CPU %.1f s (every process of the pipeline)\n", result.cpu_seconds);
    print_farm_use(farm_use);
    return row;
}

Row run_cli_phase(const Options& options, const Farm& farm, int threads) {
    const IdealMakespan ideal =
        ideal_makespan(farm.truth.proxies, threads, options.farm.timeout_ms);
    const std::string load = load_average();
    std::printf("\n[kestrova-cli check --threads %d, same farm] load %s; ideal %.1f s\n", threads,
                load.c_str(), ideal.seconds);
    std::fflush(stdout);
    CliSettings settings{options.cli_program,          threads,
                         options.farm.timeout_ms,      farm.truth.probe_url,
                         options.work_prefix + "-cli", time_cap(ideal)};
    const CliRunResult result = run_cli(farm.truth.proxies, settings);
    if (!result.finished)
        std::printf("    kestrova-cli did NOT finish (exit %d); figures are partial\n",
                    result.exit_status);
    Row row = scored_row("kestrova-cli", options, farm, threads, ideal, result.usable_by_address);
    row.finished = result.finished;
    row.wall = result.wall_seconds;
    row.peak_kb = result.peak_resident_kb;
    row.cpu = result.cpu_seconds;
    row.load = load;
    print_time(row.wall, ideal, threads, row.list_schedule);
    print_score(row.score);
    std::printf("    peak resident %.1f MB, CPU %.1f s\n", result.peak_resident_kb / 1024.0,
                result.cpu_seconds);
    return row;
}

std::string kb_text(long kb) {
    if (kb < 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", kb / 1024.0);
    return text;
}

void print_table(const std::vector<Row>& rows) {
    std::printf("\n%-16s %7s %8s %8s %6s %10s %9s %7s %7s %8s %7s %6s  %s\n", "front end",
                "threads", "wall s", "ideal s", "ratio", "no-ovh s", "precision", "recall",
                "peak MB", "threads", "CPU s", "done", "load (1, 5, 15 min)");
    for (const Row& row : rows) {
        const std::string threads = row.peak_threads < 0 ? "-" : std::to_string(row.peak_threads);
        std::printf("%-16s %7d %8.2f %8.2f %6s %10.2f %9s %7s %7s %8s %7.1f %6s  %s\n",
                    row.front_end.c_str(), row.threads, row.wall, row.ideal,
                    ratio_text(row.wall, row.ideal).c_str(), row.list_schedule,
                    fraction_text(row.score.precision()).c_str(),
                    fraction_text(row.score.recall()).c_str(), kb_text(row.peak_kb).c_str(),
                    threads.c_str(), row.cpu, row.finished ? "yes" : "NO", row.load.c_str());
    }
    std::printf("(ideal = least times / threads + longest; no-ovh = the same list through a "
                "dispatcher without any overhead)\n");
}

bool program_on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "/usr/bin:/bin";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string candidate = std::string(folders.substr(0, colon)) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    }
    return false;
}

void remove_work_files(const Options& options, const Farm& farm) {
    if (options.keep_files)
        return;
    if (farm.process)
        std::remove((options.work_prefix + ".truth").c_str());
    std::remove((options.work_prefix + "-curl.list").c_str());
    std::remove((options.work_prefix + "-curl.out").c_str());
}

std::vector<Row> run_all(const Options& options, const Farm& farm) {
    std::vector<Row> rows;
    for (int threads : options.thread_limits) {
        rows.push_back(run_engine_phase(options, farm, threads));
        if (!options.cli_program.empty())
            rows.push_back(run_cli_phase(options, farm, threads));
        if (options.baseline)
            rows.push_back(run_baseline_phase(options, farm, threads));
    }
    if (options.in_flight > 0) {
        rows.push_back(run_engine_phase(options, farm, options.in_flight));
        if (!options.cli_program.empty())
            rows.push_back(run_cli_phase(options, farm, options.in_flight));
    }
    return rows;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_arguments(argc, argv, options)) {
        print_usage();
        return 2;
    }
    print_machine("verification benchmark: the engine and xargs + curl over a local proxy farm");
    std::printf("load at start: %s\n", load_average().c_str());
    const int most_threads =
        std::max(options.in_flight,
                 *std::max_element(options.thread_limits.begin(), options.thread_limits.end()));
    // The forked farm inherits the limit: its listeners, and the probes here.
    if (!ensure_open_files(options.farm.count + descriptors_besides +
                               descriptors_per_probe * static_cast<unsigned long>(most_threads),
                           "verify_bench"))
        return 1;
    if (options.baseline && !program_on_path("curl")) {
        std::printf("curl is not installed: the xargs + curl baseline is left out\n");
        options.baseline = false;
    }
    Farm farm;
    if (!open_farm(options, farm))
        return 1;
    const std::vector<Row> rows = run_all(options, farm);
    print_table(rows);
    std::printf("load at end: %s\n", load_average().c_str());
    std::fflush(nullptr);
    remove_work_files(options, farm);
    farm.process.reset();
    // Probe threads of a run that did not finish may still be out: leave at once.
    std::quick_exit(0);
}
