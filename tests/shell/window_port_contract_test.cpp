// One body of tests for every implementation of the window port: the
// in-memory window and the real main window (offscreen).
#include "shell/application.h"
#include "shell/control_names.h"
#include "shell/main_window.h"
#include "shell/memory_window_port.h"
#include "text/codepage.h"
#include "text/text.h"

#include <QApplication>
#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace kestrova {
namespace {

using text::gbk;

// A window under test: the port, and a way to let the UI thread serve
// calls from workers while the test thread waits for them.
struct PortUnderTest {
    virtual ~PortUnderTest() = default;
    virtual WindowPort& port() = 0;
    virtual void serve_until(const std::function<bool()>& done) = 0;
};

struct MemoryPort : PortUnderTest {
    std::unique_ptr<MemoryWindowPort> window = MemoryWindowPort::main_window();
    WindowPort& port() override { return *window; }
    void serve_until(const std::function<bool()>& done) override {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

struct QtPort : PortUnderTest {
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();
    WindowPort& port() override { return *window->port(); }
    void serve_until(const std::function<bool()>& done) override {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < limit)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
};

using Factory = std::function<std::unique_ptr<PortUnderTest>()>;

struct Implementation {
    const char* name;
    Factory make;
};

void PrintTo(const Implementation& implementation, std::ostream* out) {
    *out << implementation.name;
}

class WindowPortContract : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override { under_test = GetParam().make(); }
    WindowPort& port() { return under_test->port(); }

    // Runs `work` on `threads` worker threads at once while the UI serves.
    void run_workers(int threads, const std::function<void(int)>& work) {
        std::atomic<int> finished{0};
        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i)
            workers.emplace_back([&, i] {
                work(i);
                ++finished;
            });
        under_test->serve_until([&] { return finished.load() == threads; });
        for (std::thread& worker : workers)
            worker.join();
    }

    std::unique_ptr<PortUnderTest> under_test;
};

TEST_P(WindowPortContract, StartsWithTheMainWindowsInitialTexts) {
    const std::map<std::string_view, std::string> captions = {
        {controls::proxy_frame, gbk("代理(0)")},
        {controls::harvest_button, gbk("截取代理")},
        {controls::add_button, gbk("添加到列表")},
        {controls::import_button, gbk("导入代理")},
        {controls::export_button, gbk("导出代理")},
        {controls::dedup_button, gbk("删除重复")},
        {controls::clear_button, gbk("清空代理")},
        {controls::timeout_frame, gbk("设置超时时间")},
        {controls::threads_frame, gbk("验证线程数量")},
        {controls::start_button, gbk("开始验证")},
        {controls::pause_button, gbk("暂停验证")},
    };
    for (const auto& [control, caption] : captions)
        EXPECT_EQ(port().caption(control), caption) << control;
    EXPECT_EQ(port().box_text(controls::timeout_box), "2000");
    EXPECT_EQ(port().box_text(controls::threads_box), "30");
    EXPECT_EQ(port().box_text(controls::proxy_input), "");
    EXPECT_EQ(port().box_text(controls::activity_log), "");
    EXPECT_TRUE(port().is_enabled(controls::start_button));
    EXPECT_TRUE(port().is_enabled(controls::pause_button));
    EXPECT_EQ(port().row_count(), 0u);
    EXPECT_EQ(port().progress_maximum(controls::progress_bar), 100);
    EXPECT_EQ(port().progress_position(controls::progress_bar), 0);
}

TEST_P(WindowPortContract, RowsAppendReadWriteAndRemove) {
    for (int i = 0; i < 3; ++i) {
        std::size_t row = port().append_row();
        EXPECT_EQ(row, static_cast<std::size_t>(i));
        EXPECT_EQ(port().read_cell(row, column::status), "");
        port().write_cell(row, column::address, "10.0.0." + std::to_string(i) + ":80");
    }
    port().remove_row(1);
    ASSERT_EQ(port().row_count(), 2u);
    EXPECT_EQ(port().read_cell(1, column::address), "10.0.0.2:80");

    // Cells that do not exist read as empty and take no writes.
    port().write_cell(5, column::address, "x");
    port().write_cell(0, 3, "x");
    port().remove_row(7);
    EXPECT_EQ(port().row_count(), 2u);
    EXPECT_EQ(port().read_cell(5, column::address), "");
    EXPECT_EQ(port().read_cell(0, -1), "");

    port().remove_all_rows();
    EXPECT_EQ(port().row_count(), 0u);
}

TEST_P(WindowPortContract, RowIdsSurviveOtherRowsComingAndGoing) {
    for (int i = 0; i < 4; ++i)
        port().append_row();
    RowId third = *port().row_id(2);
    RowId second = *port().row_id(1);
    port().remove_row(0);
    EXPECT_EQ(port().row_index(third), 1u);
    port().remove_row(0);
    EXPECT_FALSE(port().row_index(second).has_value());
    EXPECT_EQ(port().row_index(third), 0u);
    EXPECT_FALSE(port().row_id(2).has_value());

    // Ids are never reused, not even after the list was emptied.
    port().remove_all_rows();
    port().append_row();
    EXPECT_NE(*port().row_id(0), third);
    EXPECT_FALSE(port().row_index(third).has_value());
}

TEST_P(WindowPortContract, CellsOfARowFollowItById) {
    for (int i = 0; i < 3; ++i)
        port().write_cell(port().append_row(), column::address, "row" + std::to_string(i));
    RowId last = *port().row_id(2);
    port().remove_row(0);
    EXPECT_EQ(port().read_cell_of(last, column::address), "row2");
    EXPECT_TRUE(port().write_cell_of(last, column::status, "done"));
    EXPECT_EQ(port().read_cell(1, column::status), "done");
    EXPECT_FALSE(port().write_cell_of(last, 3, "x"));

    port().remove_all_rows();
    EXPECT_FALSE(port().read_cell_of(last, column::address).has_value());
    EXPECT_FALSE(port().write_cell_of(last, column::status, "late"));
}

TEST_P(WindowPortContract, RemovesARowOnlyWhenItsCellMatches) {
    const std::string unusable = gbk("不可用");
    for (const std::string& status : {unusable, gbk("可以用"), unusable + " "}) {
        std::size_t row = port().append_row();
        port().write_cell(row, column::status, status);
    }
    EXPECT_FALSE(port().remove_row_if(1, column::status, unusable));
    EXPECT_FALSE(port().remove_row_if(2, column::status, unusable));
    EXPECT_FALSE(port().remove_row_if(3, column::status, unusable));
    EXPECT_TRUE(port().remove_row_if(0, column::status, unusable));
    ASSERT_EQ(port().row_count(), 2u);
    EXPECT_EQ(port().read_cell(0, column::status), gbk("可以用"));
}

TEST_P(WindowPortContract, TextsCrossAsCodePage936WithCrLf) {
    const std::string caption = gbk("代理(12)");
    port().set_caption(controls::proxy_frame, caption);
    EXPECT_EQ(port().caption(controls::proxy_frame), caption);

    const std::string lines = gbk("第一行\r\n1.2.3.4:80\r\n\r\n最后");
    port().set_box_text(controls::proxy_input, lines);
    EXPECT_EQ(port().box_text(controls::proxy_input), lines);
    port().append_to_box(controls::proxy_input, "\r\n5.6.7.8:3128\r\n");
    EXPECT_EQ(port().box_text(controls::proxy_input), lines + "\r\n5.6.7.8:3128\r\n");

    port().set_box_text(controls::timeout_box, gbk("１２ 秒"));
    EXPECT_EQ(port().box_text(controls::timeout_box), gbk("１２ 秒"));

    std::size_t row = port().append_row();
    port().write_cell(row, column::status, gbk("正在验证..."));
    EXPECT_EQ(port().read_cell(row, column::status), gbk("正在验证..."));
}

TEST_P(WindowPortContract, ButtonsEnableAndDisable) {
    port().set_enabled(controls::pause_button, false);
    EXPECT_FALSE(port().is_enabled(controls::pause_button));
    port().set_enabled(controls::pause_button, true);
    EXPECT_TRUE(port().is_enabled(controls::pause_button));
}

TEST_P(WindowPortContract, ProgressPositionStaysInsideTheRange) {
    const auto bar = controls::progress_bar;
    port().set_progress_maximum(bar, 10);
    port().set_progress_position(bar, 4);
    port().step_progress(bar, 1);
    EXPECT_EQ(port().progress_position(bar), 5);
    port().set_progress_position(bar, 50);
    EXPECT_EQ(port().progress_position(bar), 10);
    port().set_progress_position(bar, -3);
    EXPECT_EQ(port().progress_position(bar), 0);
    port().set_progress_position(bar, 8);
    port().set_progress_maximum(bar, 3);
    EXPECT_EQ(port().progress_maximum(bar), 3);
    EXPECT_EQ(port().progress_position(bar), 3);
    port().set_progress_maximum(bar, 0);
    EXPECT_EQ(port().progress_maximum(bar), 0);
    EXPECT_EQ(port().progress_position(bar), 0);
}

TEST_P(WindowPortContract, ConcurrentAppendsGiveWholeLines) {
    constexpr int threads = 8;
    constexpr int lines_each = 1000;
    run_workers(threads, [&](int worker) {
        for (int i = 0; i < lines_each; ++i)
            port().append_to_box(controls::activity_log, "worker " + std::to_string(worker) +
                                                             " line " + std::to_string(i) + "\r\n");
    });
    std::vector<std::string> lines = text::split(port().box_text(controls::activity_log), "\r\n");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * lines_each));
    std::vector<int> next_line(threads, 0);
    for (const std::string& line : lines) {
        int worker = -1;
        int number = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "worker %d line %d", &worker, &number), 2) << line;
        ASSERT_GE(worker, 0);
        ASSERT_LT(worker, threads);
        // Each worker's lines arrive whole and in its own order.
        EXPECT_EQ(number, next_line[static_cast<std::size_t>(worker)]++) << line;
        EXPECT_EQ(line, "worker " + std::to_string(worker) + " line " + std::to_string(number));
    }
}

TEST_P(WindowPortContract, ConcurrentStepsLoseNoStep) {
    const auto bar = controls::progress_bar;
    port().set_progress_maximum(bar, 100000);
    port().set_progress_position(bar, 0);
    run_workers(10, [&](int) {
        for (int i = 0; i < 200; ++i)
            port().step_progress(bar, 1);
    });
    EXPECT_EQ(port().progress_position(bar), 2000);
}

TEST_P(WindowPortContract, WorkersAppendingRowsGetDistinctIndexes) {
    std::vector<std::vector<std::size_t>> indexes(4);
    run_workers(4, [&](int worker) {
        for (int i = 0; i < 250; ++i)
            indexes[static_cast<std::size_t>(worker)].push_back(port().append_row());
    });
    std::vector<bool> seen(1000, false);
    for (const auto& list : indexes)
        for (std::size_t index : list) {
            ASSERT_LT(index, seen.size());
            EXPECT_FALSE(seen[index]);
            seen[index] = true;
        }
    EXPECT_EQ(port().row_count(), 1000u);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, WindowPortContract,
    ::testing::Values(Implementation{"Memory", [] { return std::make_unique<MemoryPort>(); }},
                      Implementation{"Qt", [] { return std::make_unique<QtPort>(); }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- what only one implementation promises ----------------------------------

TEST(QtWindowPort, DoesNothingOnceTheWindowIsGone) {
    auto window = std::make_unique<MainWindow>();
    std::shared_ptr<QtWindowPort> port = window->port();
    window.reset();

    port->append_row();
    port->set_caption(controls::proxy_frame, "x");
    port->append_to_box(controls::activity_log, "x\r\n");
    EXPECT_EQ(port->row_count(), 0u);
    EXPECT_EQ(port->caption(controls::proxy_frame), "");
    EXPECT_EQ(port->box_text(controls::activity_log), "");
    EXPECT_FALSE(port->row_id(0).has_value());

    // From a worker thread too: the call is served and reads as empty.
    std::atomic<bool> done{false};
    std::size_t rows = 99;
    std::thread worker([&] {
        port->append_row();
        rows = port->row_count();
        done = true;
    });
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < limit)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    EXPECT_EQ(rows, 0u);
}

TEST(MemoryWindowPort, LettingMessagesThroughRunsTheInjectedAction) {
    auto window = MemoryWindowPort::main_window();
    int clicks = 0;
    window->set_message_hook([&] {
        // A nested click that uses the port itself.
        if (clicks++ == 0)
            window->set_caption(controls::proxy_frame, "nested");
    });
    window->let_messages_through();
    window->let_messages_through();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(window->messages_let_through(), 2u);
    EXPECT_EQ(window->caption(controls::proxy_frame), "nested");
}

TEST(MemoryWindowPort, AnswersDialogsFromItsQueues) {
    MemoryWindowPort window;
    window.queue_file_choice(std::string("/tmp/a.txt"));
    window.queue_answer(true);
    EXPECT_EQ(window.ask_open_file({"d1", "", "*.txt", "/", "", true}), "/tmp/a.txt");
    EXPECT_FALSE(window.ask_save_file({"d2", "", "*.txt", "/", "", true}).has_value());
    EXPECT_TRUE(window.ask_yes_no("replace?"));
    EXPECT_FALSE(window.ask_yes_no("again?"));
    window.message_box("done");
    EXPECT_EQ(window.message_boxes(), std::vector<std::string>{"done"});
    ASSERT_EQ(window.file_requests().size(), 2u);
    EXPECT_EQ(window.file_requests()[1].dialog, "d2");
}

} // namespace
} // namespace kestrova

int main(int argc, char** argv) {
    using namespace kestrova;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepare_platform();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
