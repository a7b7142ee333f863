#include "endless_streamer.h"

#include "support/socket_util.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrova::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto tick = std::chrono::milliseconds(10);
constexpr int ticks_per_second = 100;
constexpr int listen_backlog = 1024;
constexpr int max_events = 128;
constexpr std::size_t max_request_bytes = 64 * 1024;
constexpr std::string_view pattern = "<p>more and more of a page that never ends</p>\n";
constexpr std::string_view head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                  "Connection: close\r\n\r\n";
constexpr std::string_view not_proxy_form = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
                                            "Connection: close\r\n\r\n";

std::string body_chunk(std::size_t size) {
    std::string chunk;
    chunk.reserve(size);
    while (chunk.size() < size)
        chunk.append(pattern.substr(0, std::min(pattern.size(), size - chunk.size())));
    return chunk;
}

struct Connection {
    std::string in;
    std::string out; ///< not yet taken by the socket
    bool streaming = false;
};

} // namespace

struct EndlessStreamer::Impl {
    const std::string chunk;
    const int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    const int wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::atomic<bool> stopping{false};
    std::mutex mutex; // guards pending
    std::vector<int> pending;
    std::set<int> listeners;               // loop thread only
    std::map<int, Connection> connections; // loop thread only
    std::thread thread;

    explicit Impl(std::size_t bytes_per_second)
        : chunk(body_chunk(std::max<std::size_t>(1, bytes_per_second / ticks_per_second))) {
        watch(wake_fd);
        thread = std::thread([this] { run(); });
    }

    ~Impl() {
        stopping = true;
        wake();
        thread.join();
        for (const auto& [fd, connection] : connections)
            ::close(fd);
        for (int fd : listeners)
            ::close(fd);
        for (int fd : pending)
            ::close(fd);
        ::close(wake_fd);
        ::close(epoll_fd);
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_fd, &one, sizeof one);
    }

    void watch(int fd) const {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event);
    }

    void run() {
        epoll_event events[max_events];
        auto next_tick = Clock::now() + tick;
        while (!stopping) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - Clock::now());
            const int count = epoll_wait(epoll_fd, events, max_events,
                                         static_cast<int>(std::max<long long>(0, left.count())));
            for (int i = 0; i < count; ++i)
                dispatch(events[i].data.fd);
            if (Clock::now() >= next_tick) {
                feed_every_stream();
                next_tick = std::max(next_tick + tick, Clock::now());
            }
        }
    }

    void dispatch(int fd) {
        if (fd == wake_fd)
            adopt_pending();
        else if (listeners.contains(fd))
            accept_all(fd);
        else
            read_from(fd);
    }

    void adopt_pending() {
        std::uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(wake_fd, &count, sizeof count);
        std::lock_guard lock(mutex);
        for (int fd : pending) {
            listeners.insert(fd);
            watch(fd);
        }
        pending.clear();
    }

    void accept_all(int listener) {
        for (;;) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            test_support::set_no_delay(fd);
            connections[fd] = Connection{};
            watch(fd);
        }
    }

    void close_connection(int fd) {
        epoll_ctl(epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        connections.erase(fd);
    }

    void read_from(int fd) {
        auto found = connections.find(fd);
        if (found == connections.end())
            return;
        char buffer[16 * 1024];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            close_connection(fd);
            return;
        }
        Connection& connection = found->second;
        if (got < 0 || connection.streaming)
            return; // after the request, input is read and dropped
        connection.in.append(buffer, static_cast<std::size_t>(got));
        if (connection.in.size() > max_request_bytes)
            close_connection(fd);
        else if (connection.in.find("\r\n\r\n") != std::string::npos)
            answer(fd, connection);
    }

    /// A head now; the body comes with the ticks.
    void answer(int fd, Connection& connection) {
        const bool proxy_form = connection.in.find(' ') != std::string::npos &&
                                connection.in.compare(connection.in.find(' ') + 1, 4, "http") == 0;
        connection.in.clear();
        if (!proxy_form) {
            [[maybe_unused]] auto sent =
                ::send(fd, not_proxy_form.data(), not_proxy_form.size(), MSG_NOSIGNAL);
            close_connection(fd);
            return;
        }
        connection.streaming = true;
        connection.out = head;
        flush(fd, connection);
    }

    /// Sends what the socket takes; false when the connection was closed.
    bool flush(int fd, Connection& connection) {
        const ssize_t put = ::send(fd, connection.out.data(), connection.out.size(), MSG_NOSIGNAL);
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            close_connection(fd);
            return false;
        }
        connection.out.erase(0, put < 0 ? 0 : static_cast<std::size_t>(put));
        return true;
    }

    void feed_every_stream() {
        std::vector<int> streams;
        for (const auto& [fd, connection] : connections)
            if (connection.streaming)
                streams.push_back(fd);
        for (int fd : streams) {
            Connection& connection = connections.at(fd);
            // A peer that reads slower than the pace gets no backlog.
            if (connection.out.empty())
                connection.out = chunk;
            flush(fd, connection);
        }
    }
};

EndlessStreamer::EndlessStreamer(std::size_t bytes_per_second)
    : impl_(std::make_unique<Impl>(bytes_per_second)) {}

EndlessStreamer::~EndlessStreamer() = default;

std::uint16_t EndlessStreamer::listen(const std::string& address) {
    std::uint16_t port = 0;
    const int fd = test_support::listening_socket(address, 0, listen_backlog, &port);
    if (fd < 0)
        return 0;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->pending.push_back(fd);
    }
    impl_->wake();
    return port;
}

} // namespace kestrova::bench
