// A verification under test: the in-memory main window, a Verifier pointed
// at a loopback probe page, simulated proxies on loopback addresses, and
// bounded waits for the run's end.
#pragma once

#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "shell/timestamp.h"
#include "support/loopback_server.h"
#include "text/codepage.h"
#include "text/text.h"
#include "verify/verifier.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::verify_test {

using namespace std::chrono_literals;
using test_support::Handler;
using test_support::ReceivedRequest;
using test_support::Reply;
using text::gbk;

/// The probe page a good proxy fetches: UTF-8 with the marker.
inline std::string probe_page() {
    return "<html><head><meta charset=utf-8></head><body><input value=\"百度一下\"></body></html>";
}

inline Reply good_page(const ReceivedRequest&) {
    return Reply::text(probe_page());
}

/// How a simulated proxy answers the probe.
inline Handler proxy_answering(Reply reply) {
    return test_support::simulated_proxy([reply](const ReceivedRequest&) { return reply; });
}

class VerifyFixture : public ::testing::Test {
protected:
    void SetUp() override {
        set_clock([] { return LocalTime{2026, 1, 2, 3, 4, 5}; });
        window = MemoryWindowPort::main_window();
    }
    void TearDown() override {
        // Probes hold the window; wait for every one before the servers go.
        wait_until([&] { return !verifier || verifier->running_count() == 0; }, 20s);
        set_clock(nullptr);
    }

    /// A proxy on its own loopback address (127.0.0.2, .3, ...).
    std::string add_proxy(Handler handler) {
        std::string address = "127.0.0." + std::to_string(2 + next_proxy_++ % 250);
        std::uint16_t port = loop.listen(address, 0, std::move(handler));
        EXPECT_NE(port, 0);
        return address + ":" + std::to_string(port);
    }
    std::string add_good_proxy(std::chrono::milliseconds delay = 0ms) {
        Reply reply = Reply::text(probe_page());
        reply.delay = delay;
        return add_proxy(proxy_answering(reply));
    }

    void add_rows(const std::vector<std::string>& addresses) {
        for (const std::string& address : addresses) {
            std::size_t row = window->append_row();
            window->write_cell(row, column::number, std::to_string(row + 1));
            window->write_cell(row, column::address, address);
        }
    }

    void make_verifier(VerifierOptions options = {}) {
        options.probe_url = "http://probe.kestrova.test/";
        options.slot_wait = slot_wait;
        auto user_finished = options.on_run_finished;
        options.on_run_finished = [this, user_finished] {
            if (user_finished)
                user_finished();
            std::lock_guard lock(mutex_);
            ++runs_finished_;
            cv_.notify_all();
        };
        auto user_result = options.on_probe_result;
        options.on_probe_result = [this, user_result](const ProbeResult& result) {
            if (user_result)
                user_result(result);
            std::lock_guard lock(mutex_);
            results_.push_back(result);
            cv_.notify_all();
        };
        verifier = Verifier::create(window, std::move(options));
    }

    int runs_finished() {
        std::lock_guard lock(mutex_);
        return runs_finished_;
    }
    std::vector<ProbeResult> results() {
        std::lock_guard lock(mutex_);
        return results_;
    }

    bool wait_for_runs_finished(int count, std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return runs_finished_ >= count; });
    }
    bool wait_for_results(std::size_t count, std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return results_.size() >= count; });
    }
    static bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    std::vector<std::string> column_texts(int column) {
        std::vector<std::string> texts;
        for (std::size_t row = 0; row < window->row_count(); ++row)
            texts.push_back(window->read_cell(row, column));
        return texts;
    }
    std::vector<std::string> log_lines() {
        return text::split(window->box_text(controls::activity_log), "\r\n");
    }
    std::string caption(std::string_view control) { return window->caption(control); }

    test_support::ServerLoop loop;
    std::shared_ptr<MemoryWindowPort> window;
    std::shared_ptr<Verifier> verifier;
    std::chrono::milliseconds slot_wait = 2000ms;

private:
    int next_proxy_ = 0;
    std::mutex mutex_;
    std::condition_variable cv_;
    int runs_finished_ = 0;
    std::vector<ProbeResult> results_;
};

} // namespace kestrova::verify_test
