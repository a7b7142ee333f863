#include "engine_run.h"

#include "../support/machine.h"
#include "process_stats.h"
#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "verify/verifier.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrova::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto sample_interval = std::chrono::milliseconds(2);
constexpr int thread_sample_every = 5; // of the sample intervals
constexpr int drain_wait_steps = 500;  // of 20 ms

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::shared_ptr<MemoryWindowPort> window_with(const std::vector<FarmProxy>& proxies,
                                              const EngineSettings& settings) {
    std::shared_ptr<MemoryWindowPort> window = MemoryWindowPort::main_window();
    for (std::size_t i = 0; i < proxies.size(); ++i) {
        const std::size_t row = window->append_row();
        window->write_cell(row, column::number, std::to_string(i + 1));
        window->write_cell(row, column::address, proxies[i].address);
    }
    window->set_box_text(controls::threads_box, std::to_string(settings.threads));
    window->set_box_text(controls::timeout_box, std::to_string(settings.timeout_ms));
    return window;
}

/// What the engine reports, from its probe threads.
class Collector {
public:
    explicit Collector(std::size_t expected) { probes_.reserve(expected); }

    void add(const ProbeResult& result) {
        std::lock_guard lock(mutex_);
        probes_.push_back({result.address, result.usable, result.elapsed_ms});
    }
    void finish() {
        std::lock_guard lock(mutex_);
        finished_at_ = Clock::now();
        finished_ = true;
        changed_.notify_all();
    }
    /// True once the run has finished; waits at most until `deadline`.
    bool wait_until(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [this] { return finished_; });
    }
    std::size_t probed() {
        std::lock_guard lock(mutex_);
        return probes_.size();
    }
    Clock::time_point finished_at() {
        std::lock_guard lock(mutex_);
        return finished_at_;
    }
    std::vector<ProbeRecord> take_probes() {
        std::lock_guard lock(mutex_);
        return std::move(probes_);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    Clock::time_point finished_at_;
    std::vector<ProbeRecord> probes_;
};

/// What the sampler reads: probes in flight, and probes that have reported.
struct Progress {
    int running = 0;
    std::size_t probed = 0;
};

/// Samples the probes in flight and the process's threads while a run goes on.
class Sampler {
public:
    Sampler(std::function<Progress()> progress, int limit, std::size_t total)
        : progress_(std::move(progress)), limit_(limit), total_(total), started_(Clock::now()),
          thread_([this] { sample(); }) {}
    ~Sampler() { stop(); }

    void stop() {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    const RunSamples& samples() const { return samples_; }

private:
    void sample() {
        auto last = started_;
        for (int tick = 0; !stopping_; ++tick) {
            std::this_thread::sleep_for(sample_interval);
            const auto now = Clock::now();
            add(progress_(), seconds_between(last, now), now);
            last = now;
            if (tick % thread_sample_every == 0)
                samples_.peak_threads =
                    std::max(samples_.peak_threads, process_status_value("Threads"));
        }
    }

    void add(const Progress& progress, double interval, Clock::time_point now) {
        samples_.slot_seconds += progress.running * interval;
        samples_.peak_running = std::max(samples_.peak_running, progress.running);
        // Rows still waiting for a slot: every free slot is the dispatcher's lag.
        const std::size_t launched = progress.probed + static_cast<std::size_t>(progress.running);
        if (launched < total_)
            samples_.idle_while_waiting_seconds +=
                std::max(0, limit_ - progress.running) * interval;
        if (samples_.first_full_seconds < 0 && progress.running >= limit_)
            samples_.first_full_seconds = seconds_between(started_, now);
    }

    std::function<Progress()> progress_;
    const int limit_;
    const std::size_t total_;
    const Clock::time_point started_;
    std::atomic<bool> stopping_{false};
    RunSamples samples_;
    std::thread thread_; // last: starts once the rest is ready
};

std::shared_ptr<Verifier> make_verifier(std::shared_ptr<MemoryWindowPort> window,
                                        const EngineSettings& settings,
                                        const std::shared_ptr<Collector>& collector) {
    VerifierOptions options;
    options.probe_url = settings.probe_url;
    options.on_probe_result = [collector](const ProbeResult& result) { collector->add(result); };
    options.on_run_finished = [collector] { collector->finish(); };
    return Verifier::create(std::move(window), std::move(options));
}

/// Waits for the end of the run, printing progress; false when the cap ran out.
bool wait_for_run(Collector& collector, const Verifier& verifier, std::size_t total,
                  const EngineSettings& settings, Clock::time_point started) {
    const auto cap = started + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(settings.time_cap_seconds));
    const auto step = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(settings.progress_every_seconds));
    for (auto next = started + step;; next += step) {
        if (collector.wait_until(std::min(next, cap)))
            return true;
        if (Clock::now() >= cap)
            return false;
        std::printf("    engine: %zu of %zu probed, %d in flight, %.0f s\n", collector.probed(),
                    total, verifier.running_count(), seconds_between(started, Clock::now()));
        std::fflush(stdout);
    }
}

/// Waits (bounded) until the probe threads of the run have gone.
void wait_for_threads(long threads_before) {
    for (int step = 0; step < drain_wait_steps; ++step) {
        if (process_status_value("Threads") <= threads_before)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

EngineResult run_engine(const std::vector<FarmProxy>& proxies, const EngineSettings& settings) {
    EngineResult result;
    auto window = window_with(proxies, settings);
    auto collector = std::make_shared<Collector>(proxies.size());
    auto verifier = make_verifier(window, settings, collector);
    const long threads_before = process_status_value("Threads");
    result.peak_resident_reset = reset_peak_resident();
    const double cpu_before = own_cpu_seconds();
    Sampler sampler(
        [&verifier, &collector] {
            return Progress{verifier->running_count(), collector->probed()};
        },
        settings.threads, proxies.size());
    const auto started = Clock::now();
    verifier->click_start_button();
    result.finished = wait_for_run(*collector, *verifier, proxies.size(), settings, started);
    sampler.stop();
    if (!result.finished)
        verifier->click_start_button(); // stop: the run is given up
    result.wall_seconds =
        seconds_between(started, result.finished ? collector->finished_at() : Clock::now());
    result.cpu_seconds = own_cpu_seconds() - cpu_before;
    result.peak_resident_kb = process_status_value("VmHWM");
    result.samples = sampler.samples();
    wait_for_threads(threads_before);
    result.probes = collector->take_probes();
    return result;
}

} // namespace kestrova::bench
