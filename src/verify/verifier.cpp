#include "verify/verifier.h"

#include "http/http_request.h"
#include "proxylist/list_editing.h"
#include "shell/activity_log.h"
#include "shell/control_names.h"
#include "text/codepage.h"
#include "text/text.h"
#include "verify/detached_thread.h"
#include "verify/marker_search.h"
#include "verify/timing.h"

namespace kestrova {

namespace {

struct Texts {
    std::string start = text::gbk("开始验证");
    std::string stop = text::gbk("停止验证");
    std::string pause = text::gbk("暂停验证");
    std::string resume = text::gbk("恢复验证");
    std::string probing = text::gbk("正在验证...");
    std::string usable = text::gbk("可以用");
    std::string unusable = text::gbk("不可用");
};

const Texts& texts() {
    static const Texts instance;
    return instance;
}

} // namespace

/// One dispatcher and the probes it launched.
struct Verifier::Run {
    std::atomic<std::int32_t> dispatched{0}; ///< rows launched; the next is row `dispatched`
    std::atomic<std::int32_t> finished{0};   ///< of its probes
    std::atomic<std::int32_t> usable{0};
    std::atomic<std::int32_t> unusable{0};
    std::atomic<bool> stop_requested{false};
    std::atomic<bool> pause_requested{false};
    std::atomic<bool> every_row_launched{false};
    std::atomic<bool> ended{false}; ///< finish_run has been claimed
};

std::shared_ptr<Verifier> Verifier::create(std::shared_ptr<WindowPort> window,
                                           VerifierOptions options) {
    return std::shared_ptr<Verifier>(new Verifier(std::move(window), std::move(options)));
}

Verifier::Verifier(std::shared_ptr<WindowPort> window, VerifierOptions options)
    : window_(std::move(window)), options_(std::move(options)) {}

std::int32_t Verifier::usable_count() const {
    auto run = current_run();
    return run ? run->usable.load() : 0;
}

std::int32_t Verifier::unusable_count() const {
    auto run = current_run();
    return run ? run->unusable.load() : 0;
}

std::shared_ptr<Verifier::Run> Verifier::current_run() const {
    std::lock_guard lock(mutex_);
    return current_;
}

// --- the buttons (UI thread) ---------------------------------------------------

void Verifier::click_start_button() {
    completed_count_ = 0;
    window_->set_progress_position(controls::progress_bar, 0);
    std::string caption = window_->caption(controls::start_button);
    if (caption == texts().start)
        start_run();
    else if (caption == texts().stop)
        stop_run();
}

void Verifier::click_pause_button() {
    std::string caption = window_->caption(controls::pause_button);
    if (caption == texts().pause) {
        set_paused(true);
        window_->set_caption(controls::pause_button, texts().resume);
    } else if (caption == texts().resume) {
        set_paused(false);
        window_->set_caption(controls::pause_button, texts().pause);
    }
}

void Verifier::start_run() {
    auto run = std::make_shared<Run>();
    {
        std::lock_guard lock(mutex_);
        current_ = run;
    }
    // The captions first: a run on an empty list may end before the
    // dispatcher's thread has even been reported started.
    window_->set_enabled(controls::pause_button, true);
    window_->set_caption(controls::start_button, texts().stop);
    auto self = shared_from_this();
    auto work = [self, run] { self->dispatch_loop(run); };
    bool started = start_thread(work, 0);
    if (!started) {
        // Without a dispatcher there is no run.
        run->stop_requested = true;
        window_->set_caption(controls::start_button, texts().start);
    }
}

void Verifier::stop_run() {
    if (auto run = current_run()) {
        run->stop_requested = true;
        wake_dispatchers();
    }
    window_->set_enabled(controls::pause_button, false);
    window_->set_caption(controls::pause_button, texts().pause);
    window_->set_caption(controls::start_button, texts().start);
}

void Verifier::set_paused(bool paused) {
    if (auto run = current_run()) {
        run->pause_requested = paused;
        wake_dispatchers();
    }
}

bool Verifier::start_thread(std::function<void()> work, std::size_t stack_size) {
    if (options_.start_thread)
        return options_.start_thread(std::move(work), stack_size);
    return start_detached_thread(std::move(work), stack_size);
}

void Verifier::wake_dispatchers() {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

// --- the dispatcher ------------------------------------------------------------

void Verifier::dispatch_loop(const std::shared_ptr<Run>& run) {
    for (;;) {
        if (run->stop_requested)
            return;
        if (run->pause_requested) {
            if (!wait_while_paused(*run))
                return;
            continue;
        }
        std::size_t rows = window_->row_count();
        if (static_cast<std::size_t>(run->dispatched.load()) >= rows) {
            run->every_row_launched = true;
            end_run_if_complete(run);
            return;
        }
        std::int32_t limit = text::to_int(window_->box_text(controls::threads_box));
        if (running_count_.load() < limit)
            launch_next_row(run);
        else
            wait_for_slot(*run);
    }
}

// Blocks until resumed (true) or stopped (false).
bool Verifier::wait_while_paused(Run& run) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return !run.pause_requested || run.stop_requested; });
    return !run.stop_requested;
}

// Every slot is taken: wait up to the slot wait, or until a probe frees a
// slot or a stop or pause arrives.
void Verifier::wait_for_slot(Run& run) {
    std::unique_lock lock(mutex_);
    const std::int32_t running = running_count_.load();
    wake_.wait_for(lock, options_.slot_wait, [&] {
        return running_count_.load() < running || run.stop_requested || run.pause_requested;
    });
}

void Verifier::launch_next_row(const std::shared_ptr<Run>& run) {
    const std::int32_t index = run->dispatched.load();
    std::optional<RowId> row = window_->row_id(static_cast<std::size_t>(index));
    if (!row)
        return; // the row went away since it was counted: count again
    std::string previous_status = window_->read_cell_of(*row, column::status).value_or("");
    run->dispatched += 1;
    running_count_ += 1;
    window_->write_cell_of(*row, column::status, texts().probing);

    auto self = shared_from_this();
    RowId id = *row;
    auto work = [self, run, id] { self->probe_proxy(run, id); };
    bool started = start_thread(work, options_.probe_stack_size);
    if (started)
        return;
    // No thread to be had: take the launch back and try again after a wait.
    window_->write_cell_of(id, column::status, previous_status);
    running_count_ -= 1;
    run->dispatched -= 1;
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, options_.slot_wait, [&] { return run->stop_requested.load(); });
}

// --- the probe -------------------------------------------------------------------

void Verifier::probe_proxy(const std::shared_ptr<Run>& run, RowId row) {
    window_->set_progress_maximum(controls::progress_bar, static_cast<int>(window_->row_count()));
    std::string address = window_->read_cell_of(row, column::address).value_or("");
    ProbeResult result = run_probe(row, address);
    window_->write_cell_of(row, column::status, result.usable ? texts().usable : texts().unusable);
    log_line(*window_, text::gbk("IP代理 [") + address + "] " +
                           (result.usable ? texts().usable : texts().unusable));
    report_probe(run, result);
}

ProbeResult Verifier::run_probe(RowId row, const std::string& address) {
    ProbeResult result;
    result.row = row;
    result.address = address;
    // No probe ever goes out without a proxy: an empty address is unusable.
    if (address.empty())
        return result;
    http::RequestReport report;
    MarkerSearch search(options_.marker_utf8);
    http::HttpRequest request;
    request.url = options_.probe_url;
    request.proxy = address;
    request.timeout_seconds = probe_timeout_seconds(window_->box_text(controls::timeout_box));
    request.keep_body = false;
    request.body_cap = static_cast<std::size_t>(-1);
    request.body_observer = [&search](std::string_view chunk) { return search.feed(chunk); };
    request.report = &report;
    http::http_request(request);
    result.requested = true;
    result.usable = search.found();
    result.elapsed_ms = report.elapsed_ms;
    return result;
}

// The result counts first, then the slot, the bar and the completion, so the
// summary of finish_run includes every result. A front end hears of the
// result before the slot is freed: once running_count() reads 0, every
// result has been reported.
void Verifier::report_probe(const std::shared_ptr<Run>& run, const ProbeResult& result) {
    (result.usable ? run->usable : run->unusable) += 1;
    if (options_.on_probe_result)
        options_.on_probe_result(result);
    running_count_ -= 1;
    wake_dispatchers();
    window_->step_progress(controls::progress_bar, 1);
    completed_count_ += 1;
    run->finished += 1;
    end_run_if_complete(run);
}

// --- the end of a run ------------------------------------------------------------

void Verifier::end_run_if_complete(const std::shared_ptr<Run>& run) {
    if (run->stop_requested || !run->every_row_launched)
        return;
    if (run->finished.load() != run->dispatched.load())
        return;
    if (run->ended.exchange(true))
        return;
    finish_run(*run);
    if (options_.on_run_finished)
        options_.on_run_finished();
}

void Verifier::finish_run(Run& run) {
    log_line(*window_, text::gbk(" - 代理验证完毕！有效代理：") +
                           text::int_to_text(run.usable.load()) + text::gbk(" 个 失效代理：") +
                           text::int_to_text(run.unusable.load()) + text::gbk(" 个"));
    std::int32_t removed = 0;
    for (std::size_t k = window_->row_count(); k-- > 0;)
        if (window_->remove_row_if(k, column::status, texts().unusable))
            ++removed;
    log_line(*window_, text::gbk(" - 失效代理已清除！共清除 ") + text::int_to_text(removed) +
                           text::gbk(" 个 失效代理"));
    renumber_list(*window_);
    write_proxy_count(*window_);
    window_->set_caption(controls::start_button, texts().start);
    run.usable = 0;
    run.unusable = 0;
}

} // namespace kestrova
