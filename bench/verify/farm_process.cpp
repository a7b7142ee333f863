#include "farm_process.h"

#include "truth_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrova::bench {

namespace {

constexpr int start_wait_ms = 120'000;
constexpr int stop_wait_steps = 100; // of 20 ms

void write_all(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = ::write(fd, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        written += static_cast<std::size_t>(put);
    }
}

/// Serves until the parent closes `control_fd` (or dies); reports "R" or an
/// error text on `ready_fd` first.
[[noreturn]] void run_child(const FarmOptions& options, const std::string& truth_path, int ready_fd,
                            int control_fd) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::string report;
    try {
        ProxyFarm farm(options);
        if (write_truth(truth_path, truth_of(farm, static_cast<long>(getpid())))) {
            write_all(ready_fd, "R");
            ::close(ready_fd);
            for (char byte = 0;;) {
                const ssize_t got = ::read(control_fd, &byte, 1);
                if (got == 0 || (got < 0 && errno != EINTR))
                    break;
            }
            _exit(0); // the kernel closes every socket at once
        }
        report = "cannot write " + truth_path;
    } catch (const std::exception& error) {
        report = error.what();
    }
    write_all(ready_fd, report);
    _exit(1);
}

/// "R" when the child is ready; else its error text.
std::string read_start_report(int ready_fd) {
    std::string report;
    pollfd waiting{ready_fd, POLLIN, 0};
    while (::poll(&waiting, 1, start_wait_ms) > 0) {
        char buffer[512];
        const ssize_t got = ::read(ready_fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        report.append(buffer, static_cast<std::size_t>(got));
        if (report == "R")
            return report;
    }
    return report.empty() ? "the farm did not start in time" : report;
}

} // namespace

std::unique_ptr<FarmProcess> FarmProcess::start(const FarmOptions& options,
                                                const std::string& truth_path, std::string& error) {
    int ready[2];
    int control[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(control, O_CLOEXEC) != 0) {
        error = "no pipe for the farm";
        return nullptr;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(control[1]);
        run_child(options, truth_path, ready[1], control[0]);
    }
    ::close(ready[1]);
    ::close(control[0]);
    if (pid < 0) {
        ::close(ready[0]);
        ::close(control[1]);
        error = "cannot fork the farm";
        return nullptr;
    }
    std::unique_ptr<FarmProcess> farm(new FarmProcess(pid, control[1]));
    const std::string report = read_start_report(ready[0]);
    ::close(ready[0]);
    if (report == "R")
        return farm;
    error = "the farm failed: " + report;
    return nullptr;
}

FarmProcess::~FarmProcess() {
    ::close(control_fd_);
    for (int step = 0; step < stop_wait_steps; ++step) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        ::usleep(20'000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

} // namespace kestrova::bench
