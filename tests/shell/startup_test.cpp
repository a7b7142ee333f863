// Start-up and shutdown of the real program, run as child processes.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct ChildResult {
    int exit_code = -1;
    bool timed_out = false;
    std::string out;
    std::string err;
    double seconds_after_closing = -1; ///< from "closing" on stdout to exit
};

// Reads from both pipes until the child has exited or `limit` has passed.
ChildResult run_helper(const char* mode, std::chrono::seconds limit) {
    int out[2], err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string path = EXIT_HELPER_PATH;
    char* argv[] = {path.data(), const_cast<char*>(mode), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);

    ChildResult result;
    Clock::time_point closing{};
    auto deadline = Clock::now() + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_pipes = 2;
    while (open_pipes > 0 && Clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                fds[i].fd = -1;
                --open_pipes;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            if (i == 0 && closing == Clock::time_point{} &&
                result.out.find("closing") != std::string::npos)
                closing = Clock::now();
        }
    }
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(10'000);
    }
    if (closing != Clock::time_point{})
        result.seconds_after_closing =
            std::chrono::duration<double>(Clock::now() - closing).count();
    if (!result.timed_out && WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    close(out[0]);
    close(err[0]);
    return result;
}

std::size_t count(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

TEST(Startup, ExitsAtOnceWhileWorkersStillCallTheWindow) {
    ChildResult result = run_helper("workers", std::chrono::seconds(60));
    ASSERT_FALSE(result.timed_out) << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(count(result.out, "exit clean-up"), 1u) << result.out;
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
