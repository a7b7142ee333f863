// http_request: one HTTP request with default headers, an optional proxy,
// phase time-outs and cookie extraction. Re-entrant; keeps nothing between
// calls. Never throws and never reports: callers judge success by the body,
// the status or the headers (or by the optional report).
#pragma once

#include "http/request_object.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova::http {

/// What became of one call, for logs and measurements.
struct RequestReport {
    std::int64_t elapsed_ms = 0; ///< the whole call, wall-clock
    bool failed = false;         ///< no usable response came back
    bool timed_out = false;
    bool body_capped = false;
    bool stopped_by_observer = false;
    std::string error{}; ///< short ASCII description when failed
};

/// The arguments of one request. Omitted in/out and out arguments (null
/// pointers) read as empty and are not written anywhere.
struct HttpRequest {
    std::string url{};
    int method = 0;                          ///< 0 GET, 1 POST, 2 HEAD; anything else is GET
    std::string post_text{};                 ///< sent when `post_bytes` is empty
    std::string* cookies = nullptr;          ///< in/out: sent as Cookie; then the merged text
    std::string* response_cookies = nullptr; ///< out: name=value pairs of Set-Cookie lines
    std::string* headers = nullptr;          ///< in/out: CR LF lines; then as sent, defaults in
    std::string* response_headers = nullptr; ///< out: header lines of the final response
    int* status = nullptr;                   ///< out: status code, 0 without a response
    bool no_redirect = false;
    std::string post_bytes{}; ///< byte body; sent instead of `post_text` when not empty
    std::string proxy{};      ///< "host:port" or with a proxy scheme; "" direct
    int timeout_seconds = 0;  ///< -1: the object's own; below 1: 15 s; else per phase
    std::string proxy_user{}; ///< used only together with `proxy`
    std::string proxy_password{};
    std::optional<int> proxy_credential_flag{};     ///< 1 when omitted
    RequestObject* shared_request_object = nullptr; ///< used without reset when given

    // Beyond the routine's sixteen arguments:
    std::size_t body_cap = default_body_cap; ///< body bytes taken in at most
    bool keep_body = true;                   ///< false: only the observer sees the body
    BodyObserver body_observer{};            ///< sees the body as it arrives; may stop it
    RequestReport* report = nullptr;         ///< out, optional
};

/// Performs the request and returns the response body (empty without one).
std::string http_request(const HttpRequest& request);

/// The budgets `timeout_seconds` stands for; nothing for -1 (the request
/// object keeps its own). Below 1 means 15 seconds; each phase gets the
/// whole time and the request as a whole four times as much.
std::optional<PhaseTimeouts> phase_timeouts_for(int timeout_seconds);

/// "GET", "POST" or "HEAD" for 0, 1, 2; "GET" for anything else.
const char* method_name(int method);

/// The header text after the default headers have been added: Accept,
/// Referer (the address), Accept-Language, User-Agent and Content-Type, each
/// only when its label (case-sensitive, with the colon) is not in it yet.
std::string with_default_headers(std::string headers, std::string_view url);

/// The cookie pairs of the Set-Cookie lines of a normalised header text,
/// joined by "; ".
std::string cookies_from_headers(std::string_view response_headers);

} // namespace kestrova::http
