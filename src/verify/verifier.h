// Verification: the start/stop and pause/resume buttons, the run state, the
// dispatcher thread, the probe of one row and the end of a run.
//
// A run knows its own probes: it ends (and finish_run runs, once) when its
// dispatcher has launched every row and the last of its own probes has
// finished. A stopped run never ends that way; its probes still finish and
// report. Probes address their row by id, wherever it has moved.
#pragma once

#include "shell/window_port.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kestrova {

/// Plain-HTTP home page of a large public web search site that carries the
/// marker. Every run takes the probe address as an option, so tests and
/// benchmarks point it at a loopback server.
inline constexpr const char* probe_url = "http://www.baidu.com/";

/// The probe marker, UTF-8 as the probe page carries it.
inline constexpr const char* probe_marker_utf8 = "百度一下";

/// What one probe found.
struct ProbeResult {
    RowId row = 0;
    std::string address; ///< code page 936, as read from the row
    bool usable = false;
    bool requested = false;      ///< false for an empty address (no request made)
    std::int64_t elapsed_ms = 0; ///< how long the request took
};

struct VerifierOptions {
    std::string probe_url = kestrova::probe_url;
    std::string marker_utf8 = probe_marker_utf8;
    /// How long the dispatcher waits when every slot is taken (a probe that
    /// frees a slot, a stop or a pause wakes it sooner).
    std::chrono::milliseconds slot_wait{2000};
    std::size_t probe_stack_size = 512 * 1024;
    /// Called on the probe's thread once each probe has written its row and
    /// log line, before it frees its slot.
    std::function<void(const ProbeResult&)> on_probe_result;
    /// Called when a run ends: after finish_run, on the thread that ran it.
    std::function<void()> on_run_finished;
    /// Starts a thread; replaceable so tests can make it fail.
    std::function<bool(std::function<void()>, std::size_t)> start_thread;
};

class Verifier : public std::enable_shared_from_this<Verifier> {
public:
    static std::shared_ptr<Verifier> create(std::shared_ptr<WindowPort> window,
                                            VerifierOptions options = {});

    /// Click handlers (UI thread).
    void click_start_button();
    void click_pause_button();

    /// The run state's counters, for tests and front ends.
    std::int32_t running_count() const { return running_count_.load(); }
    std::int32_t completed_count() const { return completed_count_.load(); }
    std::int32_t usable_count() const;
    std::int32_t unusable_count() const;

private:
    struct Run;

    Verifier(std::shared_ptr<WindowPort> window, VerifierOptions options);
    void start_run();
    void stop_run();
    void set_paused(bool paused);
    std::shared_ptr<Run> current_run() const;

    void dispatch_loop(const std::shared_ptr<Run>& run);
    bool wait_while_paused(Run& run);
    void wait_for_slot(Run& run);
    void launch_next_row(const std::shared_ptr<Run>& run);
    void probe_proxy(const std::shared_ptr<Run>& run, RowId row);
    ProbeResult run_probe(RowId row, const std::string& address);
    void report_probe(const std::shared_ptr<Run>& run, const ProbeResult& result);
    void end_run_if_complete(const std::shared_ptr<Run>& run);
    void finish_run(Run& run);
    void wake_dispatchers();
    bool start_thread(std::function<void()> work, std::size_t stack_size);

    const std::shared_ptr<WindowPort> window_;
    const VerifierOptions options_;
    std::atomic<std::int32_t> running_count_{0};
    std::atomic<std::int32_t> completed_count_{0};
    mutable std::mutex mutex_;
    std::condition_variable wake_; ///< a slot freed, a stop, a pause or a resume
    std::shared_ptr<Run> current_;
};

} // namespace kestrova
