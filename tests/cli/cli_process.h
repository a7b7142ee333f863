// kestrova-cli as a child process: arguments, bytes on standard input,
// standard error on a pipe or on a terminal, signals, bounded waits.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrova::cli_test {

using namespace std::chrono_literals;

struct CliResult {
    int exit_code = -1; ///< -1 when it did not exit in time (then it was killed)
    std::string out;
    std::string err;
};

class CliProcess {
public:
    /// Starts the built kestrova-cli with `args`; `input` is its whole
    /// standard input (at most 60 KB, so it fits in the pipe).
    explicit CliProcess(const std::vector<std::string>& args, const std::string& input = {},
                        bool stderr_on_terminal = false);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void send_interrupt();
    /// Collects output for up to `limit`; false once the process has exited.
    bool still_running_after(std::chrono::milliseconds limit);
    /// Waits up to `limit` for the exit, then kills it.
    CliResult finish(std::chrono::milliseconds limit = 30s);

private:
    void collect(std::chrono::milliseconds limit);
    bool reap(bool block);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    CliResult result_;
    bool exited_ = false;
};

/// Runs kestrova-cli to its end (at most `limit`).
CliResult run_cli(const std::vector<std::string>& args, const std::string& input = {},
                  std::chrono::milliseconds limit = 30s);

} // namespace kestrova::cli_test
