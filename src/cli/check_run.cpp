#include "cli/check_run.h"

#include "cli/interrupts.h"
#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "verify/detached_thread.h"
#include "verify/verifier.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace kestrova::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

/// How often the waiting main thread looks up: redraws the progress line
/// and empties the activity log, which would otherwise keep a line per probe.
constexpr auto look_up_interval = 200ms;

/// What the probes, the watcher and the main thread share.
struct RunState {
    explicit RunState(std::size_t rows) : results(rows) {}

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<RowId> row_ids; ///< of input row i; ascending, fixed once filled
    std::vector<std::optional<CheckResult>> results;
    std::size_t done = 0;
    std::size_t usable = 0;
    bool finished = false; ///< the run ended on its own
    int interrupts = 0;    ///< Ctrl-C presses so far
    int live_threads = 0;  ///< dispatcher and probes not yet ended
    bool any_thread_started = false;
    bool refuse_threads = false; ///< after a stop nothing new may start

    std::optional<std::size_t> index_of(RowId row) const {
        auto found = std::lower_bound(row_ids.begin(), row_ids.end(), row);
        if (found == row_ids.end() || *found != row)
            return std::nullopt;
        return static_cast<std::size_t>(found - row_ids.begin());
    }
};

void fill_rows(MemoryWindowPort& window, const std::vector<std::string>& addresses,
               RunState& state) {
    state.row_ids.reserve(addresses.size());
    for (const std::string& address : addresses) {
        std::size_t row = window.append_row();
        window.write_cell(row, column::address, address);
        state.row_ids.push_back(window.row_id(row).value_or(0));
    }
}

void record_result(RunState& state, const ProbeResult& probe) {
    std::lock_guard lock(state.mutex);
    std::optional<std::size_t> index = state.index_of(probe.row);
    if (index && !state.results[*index]) {
        state.results[*index] = CheckResult{probe.address, probe.usable, probe.elapsed_ms};
        ++state.done;
        state.usable += probe.usable ? 1 : 0;
    }
    state.changed.notify_all();
}

// Starts the engine's threads and counts them, so the end of the last probe
// (its result reported) is known exactly; refuses once the run is stopped.
bool start_counted_thread(const std::shared_ptr<RunState>& state, std::function<void()> work,
                          std::size_t stack_size) {
    {
        std::lock_guard lock(state->mutex);
        if (state->refuse_threads)
            return false;
        ++state->live_threads;
        state->any_thread_started = true;
    }
    auto counted = [state, work = std::move(work)]() mutable {
        work();
        work = nullptr; // lets go of the verifier before the thread counts as ended
        std::lock_guard lock(state->mutex);
        --state->live_threads;
        state->changed.notify_all();
    };
    if (start_detached_thread(std::move(counted), stack_size))
        return true;
    std::lock_guard lock(state->mutex);
    --state->live_threads;
    return false;
}

VerifierOptions verifier_options(const CheckSettings& settings,
                                 const std::shared_ptr<RunState>& state) {
    VerifierOptions options;
    options.probe_url = settings.probe_url;
    options.marker_utf8 = settings.marker_utf8;
    options.on_probe_result = [state](const ProbeResult& probe) { record_result(*state, probe); };
    options.on_run_finished = [state] {
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->changed.notify_all();
    };
    options.start_thread = [state](std::function<void()> work, std::size_t stack_size) {
        return start_counted_thread(state, std::move(work), stack_size);
    };
    return options;
}

void watch_for_interrupts(const std::shared_ptr<RunState>& state) {
    // The third Ctrl-C ends the process even if writing the results hangs.
    set_interrupt_handler(
        [state](int count) {
            std::lock_guard lock(state->mutex);
            state->interrupts = count;
            state->changed.notify_all();
        },
        3);
}

/// Waits for the run on the main thread and acts on Ctrl-C.
class RunWaiter {
public:
    RunWaiter(std::shared_ptr<RunState> state, std::shared_ptr<MemoryWindowPort> window,
              std::shared_ptr<Verifier> verifier, const CheckSettings& settings,
              std::ostream& progress_out)
        : state_(std::move(state)), window_(std::move(window)), verifier_(std::move(verifier)),
          settings_(settings), progress_out_(progress_out) {}

    /// Returns once the run ended, was stopped and drained, or was abandoned.
    void wait(CheckOutcome& outcome) {
        std::unique_lock lock(state_->mutex);
        for (;;) {
            if (state_->interrupts >= 2) {
                outcome.abandoned = true;
                break;
            }
            if (state_->interrupts == 1 && !stopped_ && !state_->finished) {
                stop(lock);
                continue;
            }
            if ((state_->finished || stopped_) && state_->live_threads == 0)
                break;
            if (Clock::now() >= next_look_up_) {
                look_up(lock);
                next_look_up_ = Clock::now() + look_up_interval;
            }
            state_->changed.wait_until(lock, next_look_up_);
        }
        outcome.interrupted = stopped_ || outcome.abandoned;
        collect(outcome);
    }

private:
    void stop(std::unique_lock<std::mutex>& lock) {
        stopped_ = true;
        state_->refuse_threads = true;
        lock.unlock();
        verifier_->click_start_button(); // "停止验证": the dispatcher launches no more
        lock.lock();
    }

    void look_up(std::unique_lock<std::mutex>& lock) {
        ProgressFigures figures = current_figures();
        lock.unlock();
        window_->set_box_text(controls::activity_log, "");
        if (settings_.show_progress)
            progress_out_ << '\r' << progress_text(figures) << "\x1b[K" << std::flush;
        lock.lock();
    }

    ProgressFigures current_figures() const {
        std::chrono::duration<double> elapsed = Clock::now() - started_;
        return {state_->done, state_->results.size(), state_->usable, elapsed.count()};
    }

    void collect(CheckOutcome& outcome) const {
        outcome.figures = current_figures();
        for (const std::optional<CheckResult>& result : state_->results)
            if (result)
                outcome.results.push_back(*result);
        if (settings_.show_progress)
            progress_out_ << "\r\x1b[K" << std::flush;
    }

    std::shared_ptr<RunState> state_;
    std::shared_ptr<MemoryWindowPort> window_;
    std::shared_ptr<Verifier> verifier_;
    const CheckSettings& settings_;
    std::ostream& progress_out_;
    const Clock::time_point started_ = Clock::now();
    Clock::time_point next_look_up_ = started_;
    bool stopped_ = false;
};

} // namespace

CheckOutcome run_check(const std::vector<std::string>& addresses, const CheckSettings& settings,
                       std::ostream& progress_out) {
    std::shared_ptr<MemoryWindowPort> window = MemoryWindowPort::main_window();
    auto state = std::make_shared<RunState>(addresses.size());
    fill_rows(*window, addresses, *state);
    window->set_box_text(controls::threads_box, std::to_string(settings.threads));
    window->set_box_text(controls::timeout_box, std::to_string(settings.timeout_ms));
    auto verifier = Verifier::create(window, verifier_options(settings, state));

    watch_for_interrupts(state);
    RunWaiter waiter(state, window, verifier, settings, progress_out);
    verifier->click_start_button(); // "开始验证"
    CheckOutcome outcome;
    {
        std::lock_guard lock(state->mutex);
        if (!state->any_thread_started) {
            outcome.error = "no thread could be started for the run";
            return outcome;
        }
    }
    waiter.wait(outcome);
    return outcome;
}

} // namespace kestrova::cli
