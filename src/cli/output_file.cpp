#include "cli/output_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrova::cli {

OutputTarget open_output(const std::string& path) {
    OutputTarget target;
    if (path.empty() || path == "-") {
        target.fd = STDOUT_FILENO;
        target.name = "standard output";
        return target;
    }
    target.name = path;
    target.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (target.fd < 0)
        target.error = "cannot write " + path + ": " + std::strerror(errno);
    return target;
}

std::string write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? std::strerror(errno) : "nothing written";
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

std::string close_output(OutputTarget& target) {
    if (target.fd < 0 || target.fd == STDOUT_FILENO)
        return {};
    int result = ::close(target.fd);
    target.fd = -1;
    return result == 0 ? std::string() : std::strerror(errno);
}

void ignore_broken_pipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace kestrova::cli
