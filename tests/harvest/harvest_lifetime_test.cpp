// The process lives while either window is open: the program with its
// harvest window, run as child processes (harvest_exit_helper).
#include "support/child_process.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using kestrova::test_support::ChildProcess;
using kestrova::test_support::ChildResult;
using kestrova::test_support::count_of;

/// True when the lines appear in `text` in this order.
bool in_order(const std::string& text, std::initializer_list<const char*> lines) {
    std::size_t at = 0;
    for (const char* line : lines) {
        at = text.find(std::string(line) + "\n", at);
        if (at == std::string::npos)
            return false;
    }
    return true;
}

void expect_clean_exit_after_closing(const ChildResult& result) {
    ASSERT_FALSE(result.timed_out) << result.out << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(count_of(result.out, "exit clean-up"), 1u) << result.out;
    ASSERT_GE(result.seconds_after_closing, 0.0) << result.out;
    EXPECT_LT(result.seconds_after_closing, 3.0);
}

TEST(HarvestLifetime, ClosingTheMainWindowLeavesTheProcessToTheHarvestWindow) {
    ChildResult result =
        ChildProcess(HARVEST_EXIT_HELPER_PATH, {"main-first"}).wait(std::chrono::seconds(60));
    expect_clean_exit_after_closing(result);
    EXPECT_TRUE(in_order(result.out, {"main closed", "alive", "closing", "exit clean-up"}))
        << result.out;
}

TEST(HarvestLifetime, ClosingTheHarvestWindowLeavesTheMainWindowOpen) {
    ChildResult result =
        ChildProcess(HARVEST_EXIT_HELPER_PATH, {"harvest-first"}).wait(std::chrono::seconds(60));
    expect_clean_exit_after_closing(result);
    EXPECT_TRUE(in_order(result.out, {"harvest closed", "alive", "closing", "exit clean-up"}))
        << result.out;
}

TEST(HarvestLifetime, RunOutlivesTheMainWindowWithoutHarm) {
    ChildResult result =
        ChildProcess(HARVEST_EXIT_HELPER_PATH, {"run-main-gone"}).wait(std::chrono::seconds(60));
    expect_clean_exit_after_closing(result);
    EXPECT_TRUE(in_order(result.out, {"main closed", "run finished", "closing", "exit clean-up"}))
        << result.out;
}

} // namespace
