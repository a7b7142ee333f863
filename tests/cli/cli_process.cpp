#include "cli_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrova::cli_test {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int read = -1;
    int write = -1;
};

Pipe make_pipe() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    return {fds[0], fds[1]};
}

// A terminal for standard error: the master side, and the name of the side
// the child opens.
int open_terminal(std::string& child_side) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    child_side = ptsname(master);
    return master;
}

// The child starts with SIGINT at its default and unblocked, whatever the
// test runner does with it.
void reset_signals(posix_spawnattr_t& attributes) {
    sigset_t defaults, mask;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&mask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

} // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& input,
                       bool stderr_on_terminal) {
    EXPECT_LT(input.size(), 60'000u);
    Pipe in = make_pipe(), out = make_pipe(), err;
    std::string terminal;
    if (stderr_on_terminal)
        err.read = open_terminal(terminal);
    else
        err = make_pipe();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, 1);
    if (stderr_on_terminal)
        posix_spawn_file_actions_addopen(&actions, 2, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, err.write, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    reset_signals(attributes);

    std::vector<std::string> words = {KESTROVA_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    for (int fd : {in.read, out.write, err.write})
        if (fd >= 0)
            close(fd);
    if (!input.empty()) {
        EXPECT_EQ(write(in.write, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
    close(in.write);
    out_fd_ = out.read;
    err_fd_ = err.read;
}

CliProcess::~CliProcess() {
    if (!exited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        reap(true);
    }
    for (int fd : {out_fd_, err_fd_})
        if (fd >= 0)
            close(fd);
}

void CliProcess::send_interrupt() {
    ASSERT_GT(pid_, 0);
    kill(pid_, SIGINT);
}

bool CliProcess::reap(bool block) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (done != pid_)
        return false;
    exited_ = true;
    result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

// Reads whatever both outputs have until `limit` has passed or both ended.
void CliProcess::collect(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    std::string* sinks[2] = {&result_.out, &result_.err};
    while (Clock::now() < deadline && (fds[0].fd >= 0 || fds[1].fd >= 0)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(fds, 2, static_cast<int>(std::max<std::int64_t>(left.count(), 1))) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[8192];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0)
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                fds[i].fd = -1; // end of file (a terminal says EIO once the child is gone)
        }
    }
}

bool CliProcess::still_running_after(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        collect(20ms);
        if (reap(false))
            return false;
    }
    return !exited_;
}

CliResult CliProcess::finish(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!exited_ && Clock::now() < deadline) {
        collect(20ms);
        reap(false);
    }
    if (!exited_) {
        kill(pid_, SIGKILL);
        reap(true);
        ADD_FAILURE() << "kestrova-cli did not end in time; killed";
        result_.exit_code = -1;
    }
    collect(200ms); // what was still in the pipes
    return result_;
}

CliResult run_cli(const std::vector<std::string>& args, const std::string& input,
                  std::chrono::milliseconds limit) {
    CliProcess process(args, input);
    return process.finish(limit);
}

} // namespace kestrova::cli_test
