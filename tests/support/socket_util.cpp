#include "support/socket_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrova::test_support {

namespace {

bool to_address(const std::string& address, std::uint16_t port, sockaddr_in& out) {
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

} // namespace

int bound_socket(const std::string& address, std::uint16_t port, std::uint16_t* bound) {
    sockaddr_in where{};
    if (!to_address(address, port, where))
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    socklen_t length = sizeof where;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *bound = ntohs(where.sin_port);
    return fd;
}

int listening_socket(const std::string& address, std::uint16_t port, int backlog,
                     std::uint16_t* bound) {
    const int fd = bound_socket(address, port, bound);
    if (fd >= 0 && ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void set_no_delay(int fd) {
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

bool can_connect(const std::string& address, std::uint16_t port, int timeout_ms) {
    sockaddr_in where{};
    if (!to_address(address, port, where))
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd waiting{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        connected = ::poll(&waiting, 1, timeout_ms) == 1 &&
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    ::close(fd);
    return connected;
}

} // namespace kestrova::test_support
