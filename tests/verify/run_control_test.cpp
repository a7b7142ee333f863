// Start, stop, pause, the thread limit, and the list changing during a run.
#include "verify_fixture.h"

namespace kestrova::verify_test {
namespace {

// Counts probe threads alive at once (every thread the verifier starts that
// has a stack size is a probe; the dispatcher is started with 0).
struct ThreadCounter {
    std::atomic<int> alive{0};
    std::atomic<int> most{0};
    std::atomic<int> failures_left{0};

    std::function<bool(std::function<void()>, std::size_t)> starter() {
        return [this](std::function<void()> work, std::size_t stack) {
            if (stack > 0 && failures_left.load() > 0) {
                --failures_left;
                return false;
            }
            std::thread([this, work = std::move(work), stack] {
                if (stack > 0) {
                    int now = ++alive;
                    for (int seen = most.load();
                         now > seen && !most.compare_exchange_weak(seen, now);)
                        ;
                }
                work();
                if (stack > 0)
                    --alive;
            }).detach();
            return true;
        };
    }
};

class RunControl : public VerifyFixture {
protected:
    void TearDown() override {
        // The counted threads touch `threads` until their very end.
        wait_until([&] { return threads.alive.load() == 0; }, 20s);
        VerifyFixture::TearDown();
    }
    void make_counted_verifier() {
        VerifierOptions options;
        options.start_thread = threads.starter();
        make_verifier(std::move(options));
    }
    std::vector<std::string> slow_proxies(int count, std::chrono::milliseconds delay) {
        std::vector<std::string> addresses;
        for (int i = 0; i < count; ++i)
            addresses.push_back(add_good_proxy(delay));
        return addresses;
    }
    int statuses_equal_to(const std::string& status) {
        int n = 0;
        for (const std::string& s : column_texts(column::status))
            n += s == status;
        return n;
    }
    // No probe launched and unreported: the run state counts a probe from its
    // launch, the counter until after its report.
    bool all_probes_reported() {
        return verifier->running_count() == 0 && threads.alive.load() == 0;
    }
    int summary_lines() {
        int n = 0;
        for (const std::string& line : log_lines())
            n += line.find(gbk("代理验证完毕")) != std::string::npos;
        return n;
    }

    ThreadCounter threads;
};

TEST_F(RunControl, ThreadLimitIsNeverExceeded) {
    add_rows(slow_proxies(12, 150ms));
    window->set_box_text(controls::threads_box, "3");
    make_counted_verifier();
    verifier->click_start_button();
    // The run state's own count of probes in flight, sampled while it runs.
    int most_running = 0;
    while (runs_finished() == 0 && most_running <= 3) {
        most_running = std::max(most_running, verifier->running_count());
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(wait_for_runs_finished(1));
    EXPECT_EQ(results().size(), 12u);
    EXPECT_EQ(most_running, 3);
}

TEST_F(RunControl, NoLaunchWithoutAPositiveLimitUntilTheBoxIsRaised) {
    slot_wait = 100ms;
    add_rows(slow_proxies(3, 0ms));
    make_counted_verifier();
    window->set_box_text(controls::threads_box, "0");
    verifier->click_start_button();
    for (const char* limit : {"0", "-4", "", "abc"}) {
        window->set_box_text(controls::threads_box, limit);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(threads.most.load(), 0) << limit;
        EXPECT_EQ(statuses_equal_to(""), 3) << limit;
        EXPECT_EQ(caption(controls::start_button), gbk("停止验证"));
    }
    window->set_box_text(controls::threads_box, "2");
    ASSERT_TRUE(wait_for_runs_finished(1));
    EXPECT_EQ(results().size(), 3u);
}

TEST_F(RunControl, LoweredLimitWaitsForRunningProbes) {
    add_rows(slow_proxies(10, 300ms));
    window->set_box_text(controls::threads_box, "4");
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_until([&] { return verifier->running_count() == 4; }, 5s));
    window->set_box_text(controls::threads_box, "1");
    // The four running go on; no launch until fewer than one runs.
    ASSERT_TRUE(wait_for_results(4));
    // The run state's count of probes in flight, sampled: once the four have
    // drained it never again passes the new limit.
    ASSERT_TRUE(wait_until([&] { return verifier->running_count() <= 1; }, 5s));
    for (auto limit = std::chrono::steady_clock::now() + 20s;
         runs_finished() == 0 && std::chrono::steady_clock::now() < limit;) {
        ASSERT_LE(verifier->running_count(), 1);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(wait_for_runs_finished(1));
    EXPECT_EQ(results().size(), 10u);
}

TEST_F(RunControl, RowsAppendedDuringTheRunAreLaunched) {
    add_rows(slow_proxies(3, 200ms));
    window->set_box_text(controls::threads_box, "1");
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_results(1));
    add_rows(slow_proxies(2, 0ms));
    ASSERT_TRUE(wait_for_runs_finished(1));
    EXPECT_EQ(results().size(), 5u);
    EXPECT_EQ(statuses_equal_to(gbk("可以用")), 5);
    EXPECT_EQ(caption(controls::proxy_frame), gbk("代理(5)"));
}

TEST_F(RunControl, PauseResumeAndStop) {
    add_rows(slow_proxies(6, 200ms));
    window->set_box_text(controls::threads_box, "1");
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_results(1));
    verifier->click_pause_button();
    EXPECT_EQ(caption(controls::pause_button), gbk("恢复验证"));
    // The probe under way reports; nothing else is launched while paused.
    ASSERT_TRUE(wait_until([&] { return all_probes_reported(); }, 5s))
        << verifier->running_count() << " running, " << threads.alive.load() << " alive";
    std::size_t paused_at = results().size();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(results().size(), paused_at);

    verifier->click_pause_button();
    EXPECT_EQ(caption(controls::pause_button), gbk("暂停验证"));
    ASSERT_TRUE(wait_for_results(paused_at + 1));

    // Pause, then stop: nothing more is launched, no end of run.
    verifier->click_pause_button();
    verifier->click_start_button();
    EXPECT_EQ(caption(controls::start_button), gbk("开始验证"));
    EXPECT_EQ(caption(controls::pause_button), gbk("暂停验证"));
    EXPECT_FALSE(window->is_enabled(controls::pause_button));
    ASSERT_TRUE(wait_until([&] { return all_probes_reported(); }, 5s));
    std::size_t stopped_at = results().size();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(results().size(), stopped_at);
    EXPECT_LT(stopped_at, 6u);
    EXPECT_EQ(runs_finished(), 0);
    EXPECT_EQ(summary_lines(), 0);
    EXPECT_EQ(window->row_count(), 6u);
}

TEST_F(RunControl, PauseBeforeAnyRunOnlyTogglesTheCaption) {
    make_counted_verifier();
    verifier->click_pause_button();
    EXPECT_EQ(caption(controls::pause_button), gbk("恢复验证"));
    verifier->click_pause_button();
    EXPECT_EQ(caption(controls::pause_button), gbk("暂停验证"));
    EXPECT_EQ(threads.most.load(), 0);
}

TEST_F(RunControl, StartAfterStopCountsOnlyItsOwnProbes) {
    add_rows(slow_proxies(2, 800ms));
    window->set_box_text(controls::threads_box, "2");
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_until([&] { return verifier->running_count() == 2; }, 5s));
    verifier->click_start_button(); // stop, both probes still out
    window->set_box_text(controls::threads_box, "4");
    verifier->click_start_button(); // a new run over the same two rows
    ASSERT_TRUE(wait_for_runs_finished(1));
    ASSERT_TRUE(wait_until([&] { return threads.alive.load() == 0; }, 5s));
    EXPECT_EQ(results().size(), 4u);
    // The summary counts the new run's two probes, not the stopped run's.
    EXPECT_EQ(summary_lines(), 1);
    std::vector<std::string> lines = log_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        gbk("[2026-01-02 03:04:05] - 代理验证完毕！有效代理：2 个 失效代理：0 个")),
              lines.end());
}

TEST_F(RunControl, ManyProbesFinishingTogetherEndTheRunOnce) {
    std::string good = add_good_proxy();
    add_rows(std::vector<std::string>(60, good));
    window->set_box_text(controls::threads_box, "60");
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_runs_finished(1));
    ASSERT_TRUE(wait_until([&] { return threads.alive.load() == 0; }, 5s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(runs_finished(), 1);
    EXPECT_EQ(summary_lines(), 1);
    EXPECT_EQ(window->progress_position(controls::progress_bar), 60);
}

TEST_F(RunControl, ClearingTheListMidRunGivesNoVerdictToOtherRows) {
    std::vector<std::string> slow = slow_proxies(4, 400ms);
    add_rows(slow);
    window->set_box_text(controls::threads_box, "2");
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_until([&] { return verifier->running_count() == 2; }, 5s));
    window->remove_all_rows();
    add_rows({"new 1", "new 2"});
    ASSERT_TRUE(wait_for_runs_finished(1));
    ASSERT_TRUE(wait_until([&] { return threads.alive.load() == 0; }, 5s));
    // The probes still out wrote their verdicts nowhere; the new rows were
    // launched from where the dispatcher stood, or not at all.
    for (std::size_t row = 0; row < window->row_count(); ++row)
        EXPECT_TRUE(window->read_cell(row, column::address).rfind("new", 0) == 0);
    for (const ProbeResult& result : results()) {
        if (result.address.rfind("127.", 0) == 0) {
            EXPECT_TRUE(result.usable);
        }
    }
}

TEST_F(RunControl, DuplicatesRemovedMidRunKeepTheirOwnVerdicts) {
    Reply nothing = Reply::text("nothing");
    nothing.delay = 400ms;
    std::string bad = add_proxy(proxy_answering(nothing));
    std::string good = add_good_proxy(400ms);
    add_rows({good, bad, good, bad});
    window->set_box_text(controls::threads_box, "4");
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_until([&] { return verifier->running_count() == 4; }, 5s));
    window->remove_row(2); // the second "good" row goes while its probe is out
    ASSERT_TRUE(wait_for_runs_finished(1));
    EXPECT_EQ(column_texts(column::address), (std::vector<std::string>{good}));
    EXPECT_EQ(column_texts(column::status), (std::vector<std::string>{gbk("可以用")}));
}

TEST_F(RunControl, AProbeThreadThatCannotStartIsTakenBackAndRetried) {
    slot_wait = 100ms;
    add_rows(slow_proxies(3, 0ms));
    threads.failures_left = 2;
    make_counted_verifier();
    verifier->click_start_button();
    ASSERT_TRUE(wait_for_runs_finished(1));
    EXPECT_EQ(results().size(), 3u);
    EXPECT_EQ(statuses_equal_to(gbk("可以用")), 3);
    EXPECT_EQ(threads.failures_left.load(), 0);
}

} // namespace
} // namespace kestrova::verify_test
