// harvest_run on in-memory windows, with its pages on loopback servers.
#include "harvest/harvest_control_names.h"
#include "harvest/harvest_run.h"
#include "page_server.h"
#include "shell/control_names.h"
#include "shell/memory_window_port.h"
#include "shell/timestamp.h"
#include "text/codepage.h"
#include "text/text.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrova;
using namespace kestrova::harvest;
using namespace kestrova::harvest_test;
using test_support::LoopbackServer;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace names = controls::harvest;

const std::string default_pattern = R"(\d+\.\d+\.\d+\.\d+\:\d+)";

/// The log entry of one page, at the fixed clock of these tests.
std::string entry(const std::string& address, std::size_t count) {
    return text::gbk("[2026-05-01 12:00:00]探测到地址：[") + address +
           text::gbk("]\r\n共有代理数量：") + std::to_string(count) + "\r\n";
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines)
        joined += line + "\r\n";
    return joined;
}

/// Waits (bounded) until `done` holds.
template <typename Fn> bool eventually(Fn done, std::chrono::seconds limit = 20s) {
    for (auto until = Clock::now() + limit; Clock::now() < until; std::this_thread::sleep_for(10ms))
        if (done())
            return true;
    return done();
}

class HarvestRun : public ::testing::Test {
protected:
    void SetUp() override {
        set_clock([] { return LocalTime{2026, 5, 1, 12, 0, 0}; });
    }
    void TearDown() override { set_clock({}); }

    void set_boxes(const std::string& sources, const std::string& pattern = default_pattern) {
        harvest_window->set_box_text(names::source_list, sources);
        harvest_window->set_box_text(names::pattern, pattern);
    }
    void run(const std::string& sources, const std::string& pattern = default_pattern,
             const HarvestSettings& settings = {}) {
        set_boxes(sources, pattern);
        harvest_run(*main_window, *harvest_window, settings);
    }
    std::string log() { return main_window->box_text(controls::activity_log); }
    std::string input() { return main_window->box_text(controls::proxy_input); }
    int bar_maximum() { return harvest_window->progress_maximum(names::progress_bar); }
    int bar_position() { return harvest_window->progress_position(names::progress_bar); }

    std::shared_ptr<MemoryWindowPort> main_window = MemoryWindowPort::main_window();
    std::shared_ptr<MemoryWindowPort> harvest_window = std::make_shared<MemoryWindowPort>();
};

TEST_F(HarvestRun, LogsEveryPageAndAppendsEveryMatchInOrder) {
    LoopbackServer server(pages({{"/list", Reply::text("1.2.3.4:80 x 5.6.7.8:8080")},
                                 {"/twice", Reply::text("1.2.3.4:80\r\n1.2.3.4:80\r\n")},
                                 {"/long", Reply::text("912.34.56.78:31289")}}));
    const std::string list = server.url("/list"), twice = server.url("/twice"),
                      longer = server.url("/long");

    run(list + "\r\n" + twice + "\r\n" + longer);

    EXPECT_EQ(log(), entry(list, 2) + entry(twice, 2) + entry(longer, 1));
    EXPECT_EQ(input(), join_lines({"1.2.3.4:80", "5.6.7.8:8080", "1.2.3.4:80", "1.2.3.4:80",
                                   "912.34.56.78:31289"}));
    EXPECT_EQ(bar_maximum(), 3);
    EXPECT_EQ(bar_position(), 3);
}

TEST_F(HarvestRun, AppendsAfterWhatTheInputBoxAlreadyHolds) {
    LoopbackServer server(pages({{"/", Reply::text("1.2.3.4:80")}}));
    main_window->set_box_text(controls::proxy_input, "typed\r\n");
    run(server.url("/"));
    EXPECT_EQ(input(), "typed\r\n1.2.3.4:80\r\n");
}

TEST_F(HarvestRun, SplitsTheSourceListAtCrLf) {
    LoopbackServer server(
        pages({{"/a", Reply::text("1.1.1.1:1")}, {"/b", Reply::text("2.2.2.2:2")}}));
    const std::string a = server.url("/a"), b = server.url("/b");
    struct Case {
        std::string sources;
        std::string log;
        std::size_t requests;
    } cases[] = {
        {a + "\r\n" + b + "\r\n", entry(a, 1) + entry(b, 1), 2},
        {a + "\r\n\r\n" + b, entry(a, 1) + entry("", 0) + entry(b, 1), 2},
        {a + "\n" + b, entry(a + "\n" + b, 0), 0}, // a lone LF is ordinary text
    };
    std::size_t requests_before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sources);
        main_window->set_box_text(controls::activity_log, "");
        run(c.sources);
        EXPECT_EQ(log(), c.log);
        EXPECT_EQ(server.requests().size() - requests_before, c.requests);
        requests_before = server.requests().size();
    }
}

TEST_F(HarvestRun, EmptySourceListLogsNothingAndEmptiesTheBar) {
    harvest_window->set_progress_maximum(names::progress_bar, 100);
    harvest_window->set_progress_position(names::progress_bar, 40);
    run("");
    EXPECT_EQ(log(), "");
    EXPECT_EQ(input(), "");
    EXPECT_EQ(bar_maximum(), 0);
    EXPECT_EQ(bar_position(), 0);
}

TEST_F(HarvestRun, PatternThatDoesNotCompileLogsZeroForEverySource) {
    LoopbackServer server(pages({{"/a", Reply::text("1.2.3.4:80 ((")}}));
    const std::string a = server.url("/a");
    run(a + "\r\n" + a, "(");
    EXPECT_EQ(log(), entry(a, 0) + entry(a, 0));
    EXPECT_EQ(input(), "");
    EXPECT_EQ(bar_position(), 2);
}

TEST_F(HarvestRun, PageIsMatchedOnlyUpToItsFirstNul) {
    LoopbackServer server(pages({{"/", Reply::text(std::string("1.2.3.4:80\0 5.6.7.8:80", 22))}}));
    run(server.url("/"));
    EXPECT_EQ(log(), entry(server.url("/"), 1));
    EXPECT_EQ(input(), "1.2.3.4:80\r\n");
}

TEST_F(HarvestRun, ZeroLengthMatchIsCountedAndAddsAnEmptyLine) {
    LoopbackServer server(pages({{"/", Reply::text("ab 1.2.3.4:80")}}));
    run(server.url("/"), R"(\d*)");
    EXPECT_EQ(log(), entry(server.url("/"), 1));
    EXPECT_EQ(input(), "\r\n");
}

TEST_F(HarvestRun, PagesThatFailLogZeroAndTheRunGoesOn) {
    LoopbackServer server(pages({{"/hang", Reply::hang()},
                                 {"/cut", cut_off("1.2.3.4:80\r\n5.6.7", 1000)},
                                 {"/missing", Reply::text("no proxies here", 404)},
                                 {"/good", Reply::text("1.2.3.4:80 5.6.7.8:80")}}));
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test_support::unused_port()) + "/";
    const std::string sources[] = {refused, server.url("/hang"), server.url("/cut"),
                                   server.url("/missing"), server.url("/good")};
    HarvestSettings settings;
    settings.fetch.idle = 1s;

    const auto start = Clock::now();
    run(sources[0] + "\r\n" + sources[1] + "\r\n" + sources[2] + "\r\n" + sources[3] + "\r\n" +
            sources[4],
        default_pattern, settings);

    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(log(), entry(sources[0], 0) + entry(sources[1], 0) + entry(sources[2], 1) +
                         entry(sources[3], 0) + entry(sources[4], 2));
    EXPECT_EQ(input(), join_lines({"1.2.3.4:80", "1.2.3.4:80", "5.6.7.8:80"}));
    EXPECT_EQ(bar_position(), 5);
}

TEST_F(HarvestRun, HostilePatternsOnALargePageEndWithTheMatchesFoundSoFar) {
    std::string segments;
    while (segments.size() < (std::size_t{1} << 20))
        segments += std::string(18, 'a') + "c";
    LoopbackServer server(pages({{"/a", Reply::text(std::string(std::size_t{1} << 20, 'a'))},
                                 {"/segments", Reply::text(segments)}}));
    HarvestSettings settings;
    settings.matching_budget = 500ms;

    const auto start = Clock::now();
    run(server.url("/a") + "\r\n" + server.url("/segments"), "(a+)+b|c", settings);

    EXPECT_LT(Clock::now() - start, 20s);
    const std::vector<std::string> entries = text::split(log(), "\r\n");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1], text::gbk("共有代理数量：0"));
    const std::size_t found = static_cast<std::size_t>(
        text::to_int(std::string_view(entries[3]).substr(text::gbk("共有代理数量：").size())));
    EXPECT_GT(found, 0u);
    EXPECT_LT(found, segments.size() / 19);
    EXPECT_EQ(input(), join_lines(std::vector<std::string>(found, "c")));
    EXPECT_EQ(bar_position(), 2);
}

TEST_F(HarvestRun, StartReturnsAtOnceAndTheRunKeepsItsWindows) {
    Reply slow = Reply::text("1.2.3.4:80");
    slow.delay = 300ms;
    LoopbackServer server(pages({{"/", slow}}));
    set_boxes(server.url("/"));
    std::weak_ptr<MemoryWindowPort> harvest_alive = harvest_window;

    const auto start = Clock::now();
    ASSERT_TRUE(start_harvest(main_window, harvest_window));
    EXPECT_LT(Clock::now() - start, 250ms);
    harvest_window.reset();

    EXPECT_TRUE(eventually([&] { return log() == entry(server.url("/"), 1); })) << log();
    EXPECT_TRUE(eventually([&] { return harvest_alive.expired(); }));
    EXPECT_EQ(input(), "1.2.3.4:80\r\n");
}

TEST_F(HarvestRun, TwoRunsAtOnceBothDriveTheSameBar) {
    std::map<std::string, Reply> by_path;
    for (int i = 1; i <= 5; ++i) {
        Reply reply =
            Reply::text("10.0.0." + std::to_string(i) + ":80 10.0.1." + std::to_string(i) + ":80");
        reply.delay = 150ms;
        by_path["/" + std::to_string(i)] = reply;
    }
    LoopbackServer server(pages(by_path));
    auto url = [&](int i) { return server.url("/" + std::to_string(i)); };

    set_boxes(url(1) + "\r\n" + url(2) + "\r\n" + url(3));
    ASSERT_TRUE(start_harvest(main_window, harvest_window));
    ASSERT_TRUE(eventually([&] { return bar_maximum() == 3; }));
    set_boxes(url(4) + "\r\n" + url(5));
    ASSERT_TRUE(start_harvest(main_window, harvest_window));

    ASSERT_TRUE(eventually([&] { return text::split(log(), "\r\n").size() == 10; })) << log();
    std::vector<std::string> entries = text::split(log(), "\r\n");
    std::vector<std::string> expected;
    for (int i = 1; i <= 5; ++i)
        expected.push_back(entry(url(i), 2));
    std::vector<std::string> logged;
    for (std::size_t i = 0; i < entries.size(); i += 2)
        logged.push_back(entries[i] + "\r\n" + entries[i + 1] + "\r\n");
    std::sort(logged.begin(), logged.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(logged, expected);

    ASSERT_TRUE(eventually([&] { return text::split(input(), "\r\n").size() == 10; }));
    std::vector<std::string> lines = text::split(input(), "\r\n");
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected_lines;
    for (int i = 1; i <= 5; ++i) {
        expected_lines.push_back("10.0.0." + std::to_string(i) + ":80");
        expected_lines.push_back("10.0.1." + std::to_string(i) + ":80");
    }
    std::sort(expected_lines.begin(), expected_lines.end());
    EXPECT_EQ(lines, expected_lines);
    // The second run set the maximum to its own count; both runs stepped.
    EXPECT_TRUE(eventually([&] { return bar_position() == 2; }));
    EXPECT_EQ(bar_maximum(), 2);
}

} // namespace
