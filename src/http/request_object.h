// The request object that http_request works on: one libcurl easy handle with
// its own connection cache, behind the few operations the routine uses.
//
// Settings (time-outs, proxy, credentials, redirects, certificate checks)
// stay on the object from one request to the next, as on a platform request
// object; `open` starts a new request and forgets the previous request's
// method, address, headers and response. Reusing one object keeps its
// connections alive for the next request. One object must not be used by two
// threads at once; different objects are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kestrova::http {

/// Time budgets of a request in milliseconds. Each phase is timed as a
/// whole, so a peer that trickles bytes cannot stretch it.
struct PhaseTimeouts {
    std::int64_t connect_ms = 0; ///< resolving and connecting (proxy hand-shakes included)
    std::int64_t send_ms = 0;    ///< from the connection being ready to the request sent
    std::int64_t receive_ms = 0; ///< from the request sent to the body complete
    std::int64_t total_ms = 0;   ///< the whole request, redirects included

    friend bool operator==(const PhaseTimeouts&, const PhaseTimeouts&) = default;
};

/// The budgets of an object whose time-outs were never set.
inline constexpr PhaseTimeouts default_timeouts{60'000, 30'000, 30'000, 300'000};

/// Largest body a request takes in unless told otherwise.
inline constexpr std::size_t default_body_cap = std::size_t{16} << 20;

/// Sees each chunk of body bytes as it arrives; returning false stops the
/// transfer (which is not a failure).
using BodyObserver = std::function<bool(std::string_view chunk)>;

/// What `send` does with the body as it streams in.
struct BodyHandling {
    /// Bytes taken in at most; when more arrive the transfer stops and the
    /// bytes up to the cap stand as the body.
    std::size_t cap = default_body_cap;
    /// Whether the bytes taken in are kept as the response body.
    bool keep = true;
    /// Optional; sees every byte taken in.
    const BodyObserver* observer = nullptr;
};

/// How the last `send` ended.
struct SendOutcome {
    bool failed = false;              ///< no usable response (body, headers, status empty)
    bool timed_out = false;           ///< a phase or the total budget ran out
    bool body_capped = false;         ///< more than the cap arrived; the transfer stopped
    bool stopped_by_observer = false; ///< the body observer asked to stop
    std::string error{};              ///< short ASCII description when failed
};

class RequestObject {
public:
    /// A new object with a fresh libcurl handle; `has_object()` is false
    /// when none could be made.
    RequestObject();
    /// A holder without an object: every operation on it fails.
    explicit RequestObject(std::nullptr_t) noexcept;
    ~RequestObject();
    RequestObject(RequestObject&& other) noexcept;
    RequestObject& operator=(RequestObject&& other) noexcept;
    RequestObject(const RequestObject&) = delete;
    RequestObject& operator=(const RequestObject&) = delete;

    bool has_object() const noexcept { return state_ != nullptr; }

    // Operations. Each returns false when it fails and then changes nothing.

    /// Every budget must be at least 1 ms.
    bool set_timeouts(const PhaseTimeouts& timeouts);
    /// "host:port" is an HTTP proxy; a scheme (http, https, socks4, socks4a,
    /// socks5, socks5h) selects another kind. "" means direct requests.
    /// Proxy settings from the environment never apply.
    bool set_proxy(std::string_view proxy);
    /// Offered to the proxy with basic authentication. `flag` is accepted
    /// for the caller's sake and has no effect on this client.
    bool set_proxy_credentials(std::string_view user, std::string_view password, int flag);
    /// Starts a new request: "GET", "POST" or "HEAD" and the address.
    bool open(std::string_view method, std::string_view url);
    /// Redirects are followed (at most 10) unless turned off.
    bool set_follow_redirects(bool follow);
    /// Accept any server or proxy certificate (unknown authority, wrong
    /// usage, name mismatch, invalid date).
    bool set_ignore_certificate_errors(bool ignore);
    /// Adds a request header after the ones already added. Fails for an
    /// empty or malformed name and for a value with CR, LF or NUL.
    bool set_request_header(std::string_view name, std::string_view value);
    /// Performs the opened request with `body` (none when empty, except that
    /// a POST always says how long its body is). Blocks until the response is
    /// complete, has failed or ran out of time. False when it failed.
    bool send(std::string_view body, const BodyHandling& handling = {});

    /// The body of the last response; leaves it empty in the object.
    std::string take_response_body();
    /// The header lines of the last final response without its status line,
    /// each followed by CR LF; "" when there was none.
    std::string response_headers() const;
    /// The status code of the last response; 0 when there was none.
    int status() const;
    const SendOutcome& outcome() const;
    PhaseTimeouts timeouts() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace kestrova::http
