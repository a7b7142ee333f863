#include "shell/memory_window_port.h"
#include "text/codepage.h"
#include "verify/timing.h"

#include <chrono>
#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(ProbeTimeout, FromTheTimeOutBox) {
    const struct {
        std::string box;
        int seconds;
    } cases[] = {
        {"2000", 2}, {"2999", 2},   {"1000", 1},     {"999", 1},
        {"1", 1},    {"500", 1},    {"0", 0},        {"", 0},
        {"abc", 0},  {"-1000", -1}, {"-1999", -1},   {"-2000", -2},
        {"-500", 0}, {"12abc", 1},  {"  3000ms", 3}, {text::gbk("２０００"), 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(probe_timeout_seconds(c.box), c.seconds) << c.box;
}

TEST(WaitWithEvents, DueTimeByUnit) {
    const struct {
        std::int32_t amount, unit;
        std::int64_t due;
    } cases[] = {
        {2000, 0, -20'000'000},
        {3, 1, -30},
        {5, 2, -50'000'000},
        {2, 3, -1'200'000'000},
        {1, 4, -36'000'000'000},
        {1, 5, -864'000'000'000},
        {3, 7, -210'000},
        {-1, 0, 10'000},
        {0, 2, 0},
        {5, -2, 100'000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wait_due_time(c.amount, c.unit), c.due) << c.amount << " " << c.unit;
}

TEST(WaitWithEvents, WaitsTheDueTimeAndLetsMessagesThrough) {
    using namespace std::chrono;
    auto start = steady_clock::now();
    wait_with_events(3, 7); // 21 ms
    auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, 21ms);
    EXPECT_LT(waited, 1s);

    start = steady_clock::now();
    wait_with_events(-1, 0);
    wait_with_events(0, 2);
    EXPECT_LT(steady_clock::now() - start, 5ms);

    MemoryWindowPort ui;
    wait_with_events(50, 0, &ui);
    EXPECT_GE(ui.messages_let_through(), 3u);
}

} // namespace
} // namespace kestrova
