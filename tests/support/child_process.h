// Runs a program of the build as a child process and collects what it says,
// for tests of start-up and shutdown. Every wait is bounded.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrova::test_support {

struct ChildResult {
    int exit_code = -1; ///< -1 when it did not exit by itself
    bool timed_out = false;
    std::string out;
    std::string err;
    /// From the first "closing" on its standard output to its exit; -1 if
    /// it never said so.
    double seconds_after_closing = -1;
};

/// Starts `program` with `arguments` on the offscreen Qt platform.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Reads standard output and error until the child exits or `limit`
    /// passes (then it is killed).
    ChildResult wait(std::chrono::seconds limit);

private:
    using Clock = std::chrono::steady_clock;
    void read_until_closed(ChildResult& result, Clock::time_point deadline);
    void reap(ChildResult& result, Clock::time_point deadline);

    int out_[2] = {-1, -1};
    int err_[2] = {-1, -1};
    pid_t pid_ = 0;
    bool spawned_ = false;
    Clock::time_point closing_{};
};

/// How often `word` occurs in `text`.
std::size_t count_of(const std::string& text, const std::string& word);

} // namespace kestrova::test_support
