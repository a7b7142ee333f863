// The process lives while either window is open: the program with its
// harvest window, run as child processes (harvest_exit_helper).
#include <chrono>
#include <csignal>
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

/// Reads the child's stdout and stderr until it exits or `limit` passes.
class Child {
public:
    explicit Child(const char* mode) {
        if (pipe(out_) != 0 || pipe(err_) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_[1], 2);
        posix_spawn_file_actions_addclose(&actions, out_[0]);
        posix_spawn_file_actions_addclose(&actions, err_[0]);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string path = HARVEST_EXIT_HELPER_PATH;
        char* argv[] = {path.data(), const_cast<char*>(mode), nullptr};
        spawned_ = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out_[1]);
        close(err_[1]);
    }
    ~Child() {
        close(out_[0]);
        close(err_[0]);
    }

    ChildResult wait(std::chrono::seconds limit) {
        ChildResult result;
        if (!spawned_)
            return result;
        const auto deadline = Clock::now() + limit;
        read_until_closed(result, deadline);
        reap(result, deadline);
        return result;
    }

private:
    void read_until_closed(ChildResult& result, Clock::time_point deadline) {
        pollfd fds[2] = {{out_[0], POLLIN, 0}, {err_[0], POLLIN, 0}};
        for (int open = 2; open > 0 && Clock::now() < deadline;) {
            if (poll(fds, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char buffer[4096];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    fds[i].fd = -1;
                    --open;
                    continue;
                }
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
                if (i == 0 && closing_ == Clock::time_point{} &&
                    result.out.find("closing") != std::string::npos)
                    closing_ = Clock::now();
            }
        }
    }
    void reap(ChildResult& result, Clock::time_point deadline) {
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                result.timed_out = true;
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                return;
            }
            usleep(10'000);
        }
        if (closing_ != Clock::time_point{})
            result.seconds_after_closing =
                std::chrono::duration<double>(Clock::now() - closing_).count();
        if (WIFEXITED(status))
            result.exit_code = WEXITSTATUS(status);
    }

    int out_[2] = {-1, -1};
    int err_[2] = {-1, -1};
    pid_t pid_ = 0;
    bool spawned_ = false;
    Clock::time_point closing_{};
};

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

std::size_t count(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

void expect_clean_exit_after_closing(const ChildResult& result) {
    ASSERT_FALSE(result.timed_out) << result.out << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(count(result.out, "exit clean-up"), 1u) << result.out;
    ASSERT_GE(result.seconds_after_closing, 0.0) << result.out;
    EXPECT_LT(result.seconds_after_closing, 3.0);
}

TEST(HarvestLifetime, ClosingTheMainWindowLeavesTheProcessToTheHarvestWindow) {
    ChildResult result = Child("main-first").wait(std::chrono::seconds(60));
    expect_clean_exit_after_closing(result);
    EXPECT_TRUE(in_order(result.out, {"main closed", "alive", "closing", "exit clean-up"}))
        << result.out;
}

TEST(HarvestLifetime, ClosingTheHarvestWindowLeavesTheMainWindowOpen) {
    ChildResult result = Child("harvest-first").wait(std::chrono::seconds(60));
    expect_clean_exit_after_closing(result);
    EXPECT_TRUE(in_order(result.out, {"harvest closed", "alive", "closing", "exit clean-up"}))
        << result.out;
}

TEST(HarvestLifetime, RunOutlivesTheMainWindowWithoutHarm) {
    ChildResult result = Child("run-main-gone").wait(std::chrono::seconds(60));
    expect_clean_exit_after_closing(result);
    EXPECT_TRUE(in_order(result.out, {"main closed", "run finished", "closing", "exit clean-up"}))
        << result.out;
}

} // namespace
