// Loopback HTTP servers for tests and benchmarks: one event-loop thread can
// serve many listening addresses (127.x.y.z), each with its own handler that
// decides, per request, how to answer or how to misbehave.
//
// Everything is bounded: the loop wakes at least every 50 ms, input per
// connection is capped, and the destructor stops the thread and closes every
// socket at once, whatever the connections are doing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::test_support {

using Milliseconds = std::chrono::milliseconds;
using HeaderList = std::vector<std::pair<std::string, std::string>>;

/// One request as a server received it.
struct ReceivedRequest {
    std::string method;
    std::string target; ///< "/path", or "http://host/path" when sent to a proxy
    std::string version;
    HeaderList headers; ///< in order, names as sent
    std::string body;
    std::string raw; ///< head and body bytes exactly as received
    std::string local_address;
    std::uint16_t local_port = 0;

    /// Value of the first header called `name` (any case); "" when none.
    std::string header(std::string_view name) const;
    std::size_t header_count(std::string_view name) const;
    /// True for the absolute form a client sends to a proxy.
    bool is_absolute_form() const;
};

enum class Behaviour {
    respond, ///< the built reply (or `raw`), after `delay`
    hang,    ///< read the request, never answer, hold the connection
    drip,    ///< the head at once, then one body byte per `drip_interval`, for ever
    endless, ///< the head, then body bytes as fast as the peer takes them, for ever
    close,   ///< close the connection without a byte
};

/// What a handler wants done with one request.
struct Reply {
    Behaviour behaviour = Behaviour::respond;
    int status = 200;
    std::string reason = "OK";
    HeaderList headers; ///< Content-Length is added unless given
    std::string body;   ///< drip and endless repeat it (or 'x' when empty)
    std::string raw;    ///< when not empty: sent verbatim instead, then the connection closes
    Milliseconds delay{0};
    Milliseconds drip_interval{1000};
    bool keep_alive = true; ///< keep the connection when the client allows

    static Reply text(std::string body, int status = 200);
    /// The request's raw bytes as a text/plain body.
    static Reply echo(const ReceivedRequest& request);
    static Reply redirect(int status, std::string location);
    static Reply garbage();
    static Reply hang();
    static Reply drip(Milliseconds interval = Milliseconds(1000));
    static Reply endless(std::string pattern = {});
    static Reply close();
};

using Handler = std::function<Reply(const ReceivedRequest&)>;

/// Answers absolute-form proxy requests with `page`'s reply and everything
/// else with 400, like a simple forward proxy in front of a fixed site.
Handler simulated_proxy(Handler page);

/// One event-loop thread and any number of listening addresses.
class ServerLoop {
public:
    ServerLoop();
    ~ServerLoop();
    ServerLoop(const ServerLoop&) = delete;
    ServerLoop& operator=(const ServerLoop&) = delete;

    /// Starts listening on `address`:`port` (0: a free port) with `handler`,
    /// which runs on the loop thread and must not block. Returns the port,
    /// 0 when the address cannot be bound. Callable from any thread.
    std::uint16_t listen(const std::string& address, std::uint16_t port, Handler handler);

    /// Every request received so far, in order of arrival.
    std::vector<ReceivedRequest> requests() const;
    std::size_t connections_accepted() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// A server on one loopback address with its own loop.
class LoopbackServer {
public:
    explicit LoopbackServer(Handler handler, std::string address = "127.0.0.1");

    const std::string& address() const { return address_; }
    std::uint16_t port() const { return port_; }
    /// "127.0.0.1:41234"
    std::string host_port() const;
    /// "http://127.0.0.1:41234" followed by `path`.
    std::string url(std::string_view path = "/") const;
    std::vector<ReceivedRequest> requests() const { return loop_.requests(); }
    std::size_t connections_accepted() const { return loop_.connections_accepted(); }

private:
    ServerLoop loop_;
    std::string address_;
    std::uint16_t port_ = 0;
};

/// A listener that never accepts: the kernel completes connections into its
/// backlog, and nothing is ever read or answered. A blackhole proxy or site.
class BlackholeListener {
public:
    explicit BlackholeListener(const std::string& address = "127.0.0.1", int backlog = 4096);
    ~BlackholeListener();
    BlackholeListener(const BlackholeListener&) = delete;
    BlackholeListener& operator=(const BlackholeListener&) = delete;

    std::uint16_t port() const { return port_; }
    std::string host_port() const;

private:
    int fd_ = -1;
    std::string address_;
    std::uint16_t port_ = 0;
};

/// A port on `address` that nothing listens on (connections are refused).
std::uint16_t unused_port(const std::string& address = "127.0.0.1");

} // namespace kestrova::test_support
