// Start-up and shutdown of the real program, run as child processes.
#include "support/child_process.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace {

using kestrova::test_support::ChildProcess;
using kestrova::test_support::ChildResult;
using kestrova::test_support::count_of;

ChildResult run_helper(const char* mode, std::chrono::seconds limit) {
    return ChildProcess(EXIT_HELPER_PATH, {mode}).wait(limit);
}

TEST(Startup, ExitsAtOnceWhileWorkersStillCallTheWindow) {
    ChildResult result = run_helper("workers", std::chrono::seconds(60));
    ASSERT_FALSE(result.timed_out) << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(count_of(result.out, "exit clean-up"), 1u) << result.out;
    ASSERT_GE(result.seconds_after_closing, 0.0) << result.out;
    EXPECT_LT(result.seconds_after_closing, 2.0);
}

TEST(Startup, ExitsAtOnceWhileWorkersSleep) {
    ChildResult result = run_helper("sleepers", std::chrono::seconds(60));
    ASSERT_FALSE(result.timed_out) << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_LT(result.seconds_after_closing, 2.0);
}

TEST(Startup, ReportsAMainWindowThatCannotBeCreated) {
    ChildResult result = run_helper("no-window", std::chrono::seconds(60));
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("main window could not be created"), std::string::npos) << result.err;
}

} // namespace
