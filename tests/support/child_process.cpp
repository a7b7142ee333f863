#include "support/child_process.h"

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrova::test_support {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    if (pipe(out_) != 0 || pipe(err_) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_[0]);
    posix_spawn_file_actions_addclose(&actions, err_[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<std::string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    spawned_ = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out_[1]);
    close(err_[1]);
}

ChildProcess::~ChildProcess() {
    close(out_[0]);
    close(err_[0]);
}

ChildResult ChildProcess::wait(std::chrono::seconds limit) {
    ChildResult result;
    if (!spawned_)
        return result;
    const auto deadline = Clock::now() + limit;
    read_until_closed(result, deadline);
    reap(result, deadline);
    return result;
}

void ChildProcess::read_until_closed(ChildResult& result, Clock::time_point deadline) {
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

void ChildProcess::reap(ChildResult& result, Clock::time_point deadline) {
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

std::size_t count_of(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

} // namespace kestrova::test_support
