#include "support/loopback_server.h"

#include "support/socket_util.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestrova::test_support {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int loop_tick_ms = 50;
constexpr int max_events = 128;
constexpr int max_accepts_per_wake = 256;
constexpr int max_reads_per_wake = 16;
constexpr int max_writes_per_wake = 16;
constexpr std::size_t read_chunk = 64 * 1024;
constexpr std::size_t endless_chunk = 64 * 1024;
constexpr std::size_t max_request_bytes = std::size_t{64} << 20;
constexpr std::uint64_t wake_id = 0;

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

/// Request line and header lines of `head` (without the blank line).
ReceivedRequest parse_head(std::string_view head) {
    ReceivedRequest request;
    std::size_t line_end = head.find("\r\n");
    const std::string_view request_line = head.substr(0, line_end);
    const std::size_t first = request_line.find(' ');
    const std::size_t second =
        request_line.find(' ', first == std::string_view::npos ? 0 : first + 1);
    request.method = request_line.substr(0, first);
    if (first != std::string_view::npos)
        request.target = request_line.substr(first + 1, second - first - 1);
    if (second != std::string_view::npos)
        request.version = request_line.substr(second + 1);
    while (line_end != std::string_view::npos) {
        const std::size_t start = line_end + 2;
        line_end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, line_end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            request.headers.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
    }
    return request;
}

std::size_t content_length(const ReceivedRequest& request) {
    const std::string value = request.header("Content-Length");
    std::size_t length = 0;
    for (char c : value) {
        if (c < '0' || c > '9' || length > max_request_bytes)
            break;
        length = length * 10 + static_cast<std::size_t>(c - '0');
    }
    return length;
}

bool client_keeps_alive(const ReceivedRequest& request) {
    const std::string connection = request.header("Connection");
    if (request.version == "HTTP/1.1")
        return !equals_ignoring_case(connection, "close");
    return equals_ignoring_case(connection, "keep-alive");
}

bool has_header(const HeaderList& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(), [name](const auto& header) {
        return equals_ignoring_case(header.first, name);
    });
}

std::string response_head(const Reply& reply, bool keep_alive, bool with_length) {
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (with_length && !has_header(reply.headers, "Content-Length"))
        head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    if (!keep_alive)
        head += "Connection: close\r\n";
    return head + "\r\n";
}

struct Endpoint {
    std::string address;
    std::uint16_t port = 0;
    Handler handler;
};

enum class Stage { reading, waiting, writing, dripping, streaming, hanging };

struct Connection {
    int fd = -1;
    std::shared_ptr<Endpoint> endpoint;
    std::string in;
    std::string out;
    std::size_t sent = 0;
    Stage stage = Stage::reading;
    Reply reply;
    bool keep_alive = false;
    bool head_only = false;
    std::size_t pattern_at = 0;
    Clock::time_point wake_at;

    /// The next `count` bytes of the endless body pattern.
    std::string pattern_bytes(std::size_t count) {
        const std::string_view pattern = reply.body.empty() ? std::string_view("x") : reply.body;
        std::string bytes;
        bytes.reserve(count);
        while (bytes.size() < count) {
            bytes += pattern[pattern_at];
            pattern_at = (pattern_at + 1) % pattern.size();
        }
        return bytes;
    }
};

} // namespace

// --- requests and replies ------------------------------------------------------

std::string ReceivedRequest::header(std::string_view name) const {
    for (const auto& [header_name, value] : headers)
        if (equals_ignoring_case(header_name, name))
            return value;
    return {};
}

std::size_t ReceivedRequest::header_count(std::string_view name) const {
    return static_cast<std::size_t>(
        std::count_if(headers.begin(), headers.end(),
                      [name](const auto& h) { return equals_ignoring_case(h.first, name); }));
}

bool ReceivedRequest::is_absolute_form() const {
    return target.starts_with("http://") || target.starts_with("https://");
}

Reply Reply::text(std::string body, int status) {
    Reply reply;
    reply.status = status;
    reply.reason = status == 200 ? "OK" : "Status";
    reply.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    reply.body = std::move(body);
    return reply;
}

Reply Reply::echo(const ReceivedRequest& request) {
    Reply reply = text(request.raw);
    reply.headers = {{"Content-Type", "text/plain"}};
    return reply;
}

Reply Reply::redirect(int status, std::string location) {
    Reply reply = text("moved", status);
    reply.reason = "Moved";
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

Reply Reply::garbage() {
    Reply reply;
    reply.raw = "SSH-2.0-OpenSSH_9.2\r\n\x01\x02\x03\xff\xfe garbage, not HTTP\r\n\r\n";
    return reply;
}

Reply Reply::hang() {
    Reply reply;
    reply.behaviour = Behaviour::hang;
    return reply;
}

Reply Reply::drip(Milliseconds interval) {
    Reply reply = text({});
    reply.behaviour = Behaviour::drip;
    reply.drip_interval = interval;
    return reply;
}

Reply Reply::endless(std::string pattern) {
    Reply reply = text(std::move(pattern));
    reply.behaviour = Behaviour::endless;
    return reply;
}

Reply Reply::close() {
    Reply reply;
    reply.behaviour = Behaviour::close;
    return reply;
}

Handler simulated_proxy(Handler page) {
    return [page = std::move(page)](const ReceivedRequest& request) {
        if (!request.is_absolute_form())
            return Reply::text("not a proxy request", 400);
        return page(request);
    };
}

// --- the loop ------------------------------------------------------------------

struct ServerLoop::Impl {
    int epoll_fd = -1;
    int wake_fd = -1;
    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> accepted{0};
    std::thread thread;

    mutable std::mutex mutex; // guards log and pending
    std::vector<ReceivedRequest> log;
    std::vector<std::pair<int, std::shared_ptr<Endpoint>>> pending;

    // Loop thread only.
    std::uint64_t next_id = 1;
    std::map<std::uint64_t, std::pair<int, std::shared_ptr<Endpoint>>> listeners;
    std::map<std::uint64_t, Connection> connections;

    Impl()
        : epoll_fd(epoll_create1(EPOLL_CLOEXEC)), wake_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        watch(wake_fd, wake_id, EPOLLIN);
        thread = std::thread([this] { run(); });
    }

    ~Impl() {
        stopping = true;
        wake();
        thread.join();
        for (auto& [id, connection] : connections)
            ::close(connection.fd);
        for (auto& [id, listener] : listeners)
            ::close(listener.first);
        for (auto& [fd, endpoint] : pending)
            ::close(fd);
        ::close(wake_fd);
        ::close(epoll_fd);
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_fd, &one, sizeof one);
    }

    void watch(int fd, std::uint64_t id, std::uint32_t events) const {
        epoll_event event{};
        event.events = events;
        event.data.u64 = id;
        epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event);
    }

    void want_write(Connection& connection, std::uint64_t id, bool yes) const {
        epoll_event event{};
        event.events = EPOLLIN | (yes ? EPOLLOUT : 0u);
        event.data.u64 = id;
        epoll_ctl(epoll_fd, EPOLL_CTL_MOD, connection.fd, &event);
    }

    void run() {
        epoll_event events[max_events];
        while (!stopping) {
            const int count = epoll_wait(epoll_fd, events, max_events, wait_ms());
            for (int i = 0; i < count && !stopping; ++i)
                dispatch(events[i]);
            run_timers();
        }
    }

    int wait_ms() const {
        auto soonest = Clock::now() + Milliseconds(loop_tick_ms);
        for (const auto& [id, connection] : connections)
            if (connection.stage == Stage::waiting || connection.stage == Stage::dripping)
                soonest = std::min(soonest, connection.wake_at);
        const auto left = std::chrono::duration_cast<Milliseconds>(soonest - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, loop_tick_ms));
    }

    void dispatch(const epoll_event& event) {
        const std::uint64_t id = event.data.u64;
        if (id == wake_id) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto read = ::read(wake_fd, &count, sizeof count);
            adopt_pending();
        } else if (auto listener = listeners.find(id); listener != listeners.end()) {
            accept_all(listener->second.first, listener->second.second);
        } else if (connections.contains(id)) {
            if (event.events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                on_readable(id);
            if (connections.contains(id) && (event.events & EPOLLOUT))
                flush(id);
        }
    }

    void adopt_pending() {
        std::vector<std::pair<int, std::shared_ptr<Endpoint>>> adopted;
        {
            std::lock_guard lock(mutex);
            adopted.swap(pending);
        }
        for (auto& listener : adopted) {
            const std::uint64_t id = next_id++;
            watch(listener.first, id, EPOLLIN);
            listeners.emplace(id, std::move(listener));
        }
    }

    void accept_all(int listen_fd, const std::shared_ptr<Endpoint>& endpoint) {
        for (int i = 0; i < max_accepts_per_wake; ++i) {
            const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            set_no_delay(fd);
            ++accepted;
            const std::uint64_t id = next_id++;
            Connection& connection = connections[id];
            connection.fd = fd;
            connection.endpoint = endpoint;
            watch(fd, id, EPOLLIN);
        }
    }

    void close_connection(std::uint64_t id) {
        auto found = connections.find(id);
        if (found == connections.end())
            return;
        epoll_ctl(epoll_fd, EPOLL_CTL_DEL, found->second.fd, nullptr);
        ::close(found->second.fd);
        connections.erase(found);
    }

    void on_readable(std::uint64_t id) {
        Connection& connection = connections.at(id);
        char buffer[read_chunk];
        for (int i = 0; i < max_reads_per_wake; ++i) {
            const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                close_connection(id);
                return;
            }
            if (got < 0)
                break;
            if (connection.stage != Stage::hanging)
                connection.in.append(buffer, static_cast<std::size_t>(got));
            if (connection.in.size() > max_request_bytes) {
                close_connection(id);
                return;
            }
        }
        if (connection.stage == Stage::reading)
            serve_next(id);
    }

    /// Takes one complete request off the input, if there is one, and starts
    /// its reply.
    void serve_next(std::uint64_t id) {
        Connection& connection = connections.at(id);
        const std::size_t head_end = connection.in.find("\r\n\r\n");
        if (head_end == std::string::npos)
            return;
        ReceivedRequest request = parse_head(std::string_view(connection.in).substr(0, head_end));
        const std::size_t whole = head_end + 4 + content_length(request);
        if (connection.in.size() < whole)
            return;
        request.body = connection.in.substr(head_end + 4, whole - head_end - 4);
        request.raw = connection.in.substr(0, whole);
        connection.in.erase(0, whole);
        request.local_address = connection.endpoint->address;
        request.local_port = connection.endpoint->port;
        Reply reply = answer(*connection.endpoint, request);
        {
            std::lock_guard lock(mutex);
            log.push_back(request);
        }
        start_reply(id, request, std::move(reply));
    }

    static Reply answer(const Endpoint& endpoint, const ReceivedRequest& request) {
        try {
            return endpoint.handler(request);
        } catch (...) {
            return Reply::text("handler failed", 500);
        }
    }

    void start_reply(std::uint64_t id, const ReceivedRequest& request, Reply reply) {
        Connection& connection = connections.at(id);
        connection.reply = std::move(reply);
        const Reply& r = connection.reply;
        connection.head_only = request.method == "HEAD";
        connection.keep_alive = r.behaviour == Behaviour::respond && r.raw.empty() &&
                                r.keep_alive && client_keeps_alive(request);
        connection.pattern_at = 0;
        switch (r.behaviour) {
        case Behaviour::close:
            close_connection(id);
            return;
        case Behaviour::hang:
            connection.stage = Stage::hanging;
            return;
        default:
            break;
        }
        connection.out = first_bytes(connection);
        connection.sent = 0;
        connection.stage = Stage::waiting;
        connection.wake_at = Clock::now() + r.delay;
        if (r.delay.count() <= 0) {
            connection.stage = Stage::writing;
            flush(id);
        }
    }

    static std::string first_bytes(const Connection& connection) {
        const Reply& r = connection.reply;
        if (!r.raw.empty())
            return r.raw;
        if (r.behaviour != Behaviour::respond)
            return response_head(r, false, false);
        std::string bytes = response_head(r, connection.keep_alive, true);
        if (!connection.head_only)
            bytes += r.body;
        return bytes;
    }

    void flush(std::uint64_t id) {
        Connection& connection = connections.at(id);
        for (int i = 0; i < max_writes_per_wake && connection.sent < connection.out.size(); ++i) {
            const ssize_t put = ::send(connection.fd, connection.out.data() + connection.sent,
                                       connection.out.size() - connection.sent, MSG_NOSIGNAL);
            if (put < 0 && (errno == EAGAIN || errno == EINTR))
                break;
            if (put < 0) {
                close_connection(id);
                return;
            }
            connection.sent += static_cast<std::size_t>(put);
            if (connection.sent == connection.out.size() && connection.stage == Stage::streaming)
                refill(connection);
        }
        const bool done = connection.sent >= connection.out.size();
        want_write(connection, id, !done || connection.stage == Stage::streaming);
        if (done)
            written(id);
    }

    void refill(Connection& connection) {
        connection.out = connection.pattern_bytes(endless_chunk);
        connection.sent = 0;
    }

    /// Everything queued has gone out: what comes next depends on the reply.
    void written(std::uint64_t id) {
        Connection& connection = connections.at(id);
        connection.out.clear();
        connection.sent = 0;
        const Reply& r = connection.reply;
        if (!r.raw.empty()) {
            close_connection(id);
        } else if (r.behaviour == Behaviour::drip) {
            connection.stage = Stage::dripping;
            connection.wake_at = Clock::now() + r.drip_interval;
        } else if (r.behaviour == Behaviour::endless) {
            connection.stage = Stage::streaming;
            refill(connection);
            want_write(connection, id, true);
        } else if (connection.keep_alive) {
            connection.stage = Stage::reading;
            serve_next(id);
        } else {
            ::shutdown(connection.fd, SHUT_WR);
            close_connection(id);
        }
    }

    void run_timers() {
        const auto now = Clock::now();
        std::vector<std::uint64_t> due;
        for (const auto& [id, connection] : connections)
            if ((connection.stage == Stage::waiting || connection.stage == Stage::dripping) &&
                connection.wake_at <= now)
                due.push_back(id);
        for (std::uint64_t id : due) {
            Connection& connection = connections.at(id);
            if (connection.stage == Stage::dripping)
                connection.out = connection.pattern_bytes(1);
            connection.stage =
                connection.reply.behaviour == Behaviour::drip && connection.stage == Stage::dripping
                    ? Stage::dripping
                    : Stage::writing;
            connection.wake_at = Clock::time_point::max();
            flush(id);
        }
    }
};

ServerLoop::ServerLoop() : impl_(std::make_unique<Impl>()) {}
ServerLoop::~ServerLoop() = default;

std::uint16_t ServerLoop::listen(const std::string& address, std::uint16_t port, Handler handler) {
    std::uint16_t bound = 0;
    const int fd = listening_socket(address, port, 1024, &bound);
    if (fd < 0)
        return 0;
    auto endpoint = std::make_shared<Endpoint>(Endpoint{address, bound, std::move(handler)});
    {
        std::lock_guard lock(impl_->mutex);
        impl_->pending.emplace_back(fd, std::move(endpoint));
    }
    impl_->wake();
    return bound;
}

std::vector<ReceivedRequest> ServerLoop::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::size_t ServerLoop::connections_accepted() const {
    return impl_->accepted;
}

// --- single servers ------------------------------------------------------------

LoopbackServer::LoopbackServer(Handler handler, std::string address)
    : address_(std::move(address)) {
    port_ = loop_.listen(address_, 0, std::move(handler));
}

std::string LoopbackServer::host_port() const {
    return address_ + ":" + std::to_string(port_);
}

std::string LoopbackServer::url(std::string_view path) const {
    return "http://" + host_port() + std::string(path);
}

BlackholeListener::BlackholeListener(const std::string& address, int backlog) : address_(address) {
    fd_ = listening_socket(address, 0, backlog, &port_);
}

BlackholeListener::~BlackholeListener() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string BlackholeListener::host_port() const {
    return address_ + ":" + std::to_string(port_);
}

std::uint16_t unused_port(const std::string& address) {
    std::uint16_t port = 0;
    const int fd = bound_socket(address, 0, &port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace kestrova::test_support
