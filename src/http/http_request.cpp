#include "http/http_request.h"

#include "http/cookies.h"
#include "http/header_text.h"
#include "text/text.h"

#include <chrono>
#include <utility>

namespace kestrova::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t unset_timeout_ms = 15'000;
constexpr int phases_in_total = 4;

struct DefaultHeader {
    std::string_view label;
    std::string_view line; ///< appended after CR LF; the Referer line gets the address
};

constexpr DefaultHeader default_headers[] = {
    {"Accept:", "Accept: */*"},
    {"Referer:", "Referer: "},
    {"Accept-Language:", "Accept-Language: zh-cn"},
    {"User-Agent:", "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded"},
};

/// The caller's variables as they stand before the call (empty when omitted).
struct Variables {
    std::string cookies;
    std::string response_cookies;
    std::string headers;
    std::string response_headers;
    int status = 0;
};

template <typename T> void write_back(T* variable, T&& value) {
    if (variable != nullptr)
        *variable = std::forward<T>(value);
}

void hand_back(const HttpRequest& request, Variables& variables) {
    write_back(request.cookies, std::move(variables.cookies));
    write_back(request.response_cookies, std::move(variables.response_cookies));
    write_back(request.headers, std::move(variables.headers));
    write_back(request.response_headers, std::move(variables.response_headers));
    write_back(request.status, std::move(variables.status));
}

void set_connection(RequestObject& object, const HttpRequest& request) {
    if (const auto timeouts = phase_timeouts_for(request.timeout_seconds))
        object.set_timeouts(*timeouts);
    if (request.proxy.empty())
        return;
    object.set_proxy(request.proxy);
    if (!request.proxy_user.empty())
        object.set_proxy_credentials(request.proxy_user, request.proxy_password,
                                     request.proxy_credential_flag.value_or(1));
}

void set_header_lines(RequestObject& object, const Variables& variables) {
    if (!variables.cookies.empty())
        object.set_request_header("Cookie", variables.cookies);
    if (!text::contains(variables.headers, text::crlf)) {
        object.set_request_header(header_name(variables.headers), header_value(variables.headers));
        return;
    }
    text::for_each_piece(variables.headers, text::crlf, [&object](std::string_view line) {
        if (!line.empty())
            object.set_request_header(header_name(line), header_value(line));
        return true;
    });
}

void read_response(RequestObject& object, Variables& variables, std::string& body) {
    body = object.take_response_body();
    variables.response_headers =
        replace_ignoring_case(object.response_headers(), "Set-Cookie", "Set-Cookie");
    variables.status = object.status();
    variables.response_cookies = cookies_from_headers(variables.response_headers);
    merge_cookies(variables.cookies, variables.response_cookies);
}

void fill_report(const HttpRequest& request, const SendOutcome& outcome,
                 Clock::time_point started) {
    if (request.report == nullptr)
        return;
    RequestReport& report = *request.report;
    report.elapsed_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    report.failed = outcome.failed;
    report.timed_out = outcome.timed_out;
    report.body_capped = outcome.body_capped;
    report.stopped_by_observer = outcome.stopped_by_observer;
    report.error = outcome.error;
}

std::string perform(const HttpRequest& request, Clock::time_point started) {
    RequestObject created(nullptr);
    RequestObject* object = request.shared_request_object;
    if (object == nullptr) {
        created = RequestObject();
        if (!created.has_object()) {
            fill_report(request, {true, false, false, false, "no request object"}, started);
            return {};
        }
        object = &created;
    }
    Variables variables{request.cookies ? *request.cookies : std::string(),
                        {},
                        request.headers ? *request.headers : std::string(),
                        {},
                        0};
    set_connection(*object, request);
    object->open(method_name(request.method), request.url);
    if (request.no_redirect)
        object->set_follow_redirects(false);
    object->set_ignore_certificate_errors(true);
    variables.headers = with_default_headers(std::move(variables.headers), request.url);
    set_header_lines(*object, variables);
    const BodyObserver* observer = request.body_observer ? &request.body_observer : nullptr;
    object->send(request.post_bytes.empty() ? request.post_text : request.post_bytes,
                 {request.body_cap, request.keep_body, observer});
    std::string body;
    read_response(*object, variables, body);
    hand_back(request, variables);
    fill_report(request, object->outcome(), started);
    return body;
}

} // namespace

std::string http_request(const HttpRequest& request) {
    const auto started = Clock::now();
    try {
        return perform(request, started);
    } catch (...) {
        // Only running out of memory gets here; the call fails like any other.
        fill_report(request, {true, false, false, false, "out of memory"}, started);
        return {};
    }
}

std::optional<PhaseTimeouts> phase_timeouts_for(int timeout_seconds) {
    if (timeout_seconds == -1)
        return std::nullopt;
    const std::int64_t t =
        timeout_seconds < 1 ? unset_timeout_ms : std::int64_t{timeout_seconds} * 1000;
    return PhaseTimeouts{t, t, t, t * phases_in_total};
}

const char* method_name(int method) {
    switch (method) {
    case 1:
        return "POST";
    case 2:
        return "HEAD";
    default:
        return "GET";
    }
}

std::string with_default_headers(std::string headers, std::string_view url) {
    if (headers.empty())
        headers = "Accept: */*";
    for (const DefaultHeader& header : default_headers) {
        if (text::contains(headers, header.label))
            continue;
        headers.append(text::crlf).append(header.line);
        if (header.label == "Referer:")
            headers.append(url);
    }
    return headers;
}

std::string cookies_from_headers(std::string_view response_headers) {
    std::string cookies;
    text::for_each_piece(response_headers, text::crlf, [&cookies](std::string_view line) {
        // Only Set-Cookie lines: a header that merely mentions the name
        // (Access-Control-Expose-Headers: Set-Cookie) sets no cookie.
        if (header_name(line) != "Set-Cookie")
            return true;
        const std::string pair = text::contains(line, ";")
                                     ? text_between(line, "Set-Cookie:", ";")
                                     : replace_ignoring_case(line, "Set-Cookie:", "");
        cookies.append(text::trim(pair)).append("; ");
        return true;
    });
    cookies.resize(cookies.size() >= 2 ? cookies.size() - 2 : 0);
    return cookies;
}

} // namespace kestrova::http
