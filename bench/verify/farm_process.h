// The farm in a child process of the benchmark, so the benchmark's own
// memory, thread and CPU figures are the engine's alone.
#pragma once

#include "proxy_farm.h"

#include <memory>
#include <string>
#include <sys/types.h>

namespace kestrova::bench {

class FarmProcess {
public:
    /// Forks a child that serves the farm and writes its truth file to
    /// `truth_path`; returns once every proxy listens. Call it before this
    /// process starts any thread. Null (and `error` set) on failure.
    static std::unique_ptr<FarmProcess> start(const FarmOptions& options,
                                              const std::string& truth_path, std::string& error);
    /// Stops the child and waits for it.
    ~FarmProcess();
    FarmProcess(const FarmProcess&) = delete;
    FarmProcess& operator=(const FarmProcess&) = delete;

    pid_t pid() const { return pid_; }

private:
    FarmProcess(pid_t pid, int control_fd) : pid_(pid), control_fd_(control_fd) {}

    pid_t pid_;
    int control_fd_; ///< the child serves until this closes
};

} // namespace kestrova::bench
