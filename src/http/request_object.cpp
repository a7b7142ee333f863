#include "http/request_object.h"

#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <mutex>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace kestrova::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long max_redirects = 10;
constexpr std::size_t max_head_bytes = std::size_t{1} << 20;
constexpr int longest_wait_ms = 1000;

enum class Method { none, get, post, head };

void initialise_curl_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Clock::time_point after(Clock::time_point from, std::int64_t ms) {
    const auto room =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - from);
    return ms >= room.count() ? Clock::time_point::max() : from + std::chrono::milliseconds(ms);
}

bool is_token_char(char c) {
    static constexpr std::string_view specials = "!#$%&'*+-.^_`|~";
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           specials.find(c) != std::string_view::npos;
}

bool is_valid_header_name(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), is_token_char);
}

bool is_valid_header_value(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

bool is_followable_status(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

/// "HTTP/1.1 302 Found" gives 302; anything unreadable gives 0.
int status_of_line(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4)
        return 0;
    int code = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

std::string_view without_line_end(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

/// The clock of one transfer: which phase it is in and when that phase, or
/// the whole transfer, runs out of time.
class PhaseClock {
public:
    enum class Phase { connecting, sending, receiving, between_hops };

    explicit PhaseClock(const PhaseTimeouts& budgets)
        : budgets_(budgets), started_(Clock::now()),
          total_deadline_(after(started_, budgets.total_ms)) {
        enter(Phase::connecting);
    }

    void enter(Phase phase) {
        phase_ = phase;
        phase_deadline_ = after(Clock::now(), budget_of(phase));
    }
    Phase phase() const { return phase_; }
    Clock::time_point deadline() const { return std::min(phase_deadline_, total_deadline_); }
    bool expired() const { return Clock::now() >= deadline(); }

    const char* expiry_message() const {
        if (Clock::now() >= total_deadline_)
            return "timed out: the whole request took too long";
        switch (phase_) {
        case Phase::connecting:
            return "timed out while connecting";
        case Phase::sending:
            return "timed out while sending the request";
        default:
            return "timed out while receiving the response";
        }
    }

    /// How long to wait for network activity before looking at the clock again.
    int wait_ms() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline() - Clock::now())
                .count();
        return static_cast<int>(std::clamp<std::int64_t>(left + 1, 1, longest_wait_ms));
    }

private:
    std::int64_t budget_of(Phase phase) const {
        switch (phase) {
        case Phase::connecting:
            return budgets_.connect_ms;
        case Phase::sending:
            return budgets_.send_ms;
        default:
            return budgets_.receive_ms;
        }
    }

    PhaseTimeouts budgets_;
    Clock::time_point started_;
    Clock::time_point total_deadline_;
    Phase phase_ = Phase::connecting;
    Clock::time_point phase_deadline_;
};

/// Everything the callbacks of one transfer work on.
struct Transfer {
    Transfer(const PhaseTimeouts& budgets, const BodyHandling& handling, std::size_t upload_size,
             bool follow)
        : clock(budgets), handling(handling), upload_size(upload_size), follow(follow) {}

    PhaseClock clock;
    const BodyHandling& handling;
    std::size_t upload_size;
    bool follow;

    std::string body;
    std::size_t taken = 0;
    std::string head;
    int head_status = 0;
    bool body_capped = false;
    bool stopped_by_observer = false;
    const char* callback_error = nullptr;

    void request_sent() { clock.enter(PhaseClock::Phase::receiving); }
};

using Phase = PhaseClock::Phase;

// --- libcurl callbacks (no exception may cross them) -----------------------

curl_socket_t open_socket(void* context, curlsocktype, curl_sockaddr* address) {
    static_cast<Transfer*>(context)->clock.enter(Phase::connecting);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int connection_ready(void* context, char*, char*, int, int) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (transfer.upload_size == 0)
        transfer.request_sent();
    else
        transfer.clock.enter(Phase::sending);
    return CURL_PREREQFUNC_OK;
}

void take_head_line(Transfer& transfer, std::string_view line) {
    if (line.starts_with("HTTP/")) {
        // A new response begins (after a redirect or an interim 1xx).
        transfer.head.clear();
        transfer.head_status = status_of_line(line);
        if (transfer.clock.phase() == Phase::sending)
            transfer.request_sent();
    } else if (line.empty()) {
        // The next hop gets a receive budget of its own to drain this body and
        // resolve; connecting and sending then start their own budgets.
        if (transfer.follow && is_followable_status(transfer.head_status))
            transfer.clock.enter(Phase::between_hops);
    } else if (transfer.head.size() + line.size() <= max_head_bytes) {
        transfer.head.append(line).append("\r\n");
    } else {
        transfer.callback_error = "response headers too large";
    }
}

size_t take_header(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    try {
        take_head_line(transfer, without_line_end(std::string_view(data, size * count)));
    } catch (...) {
        transfer.callback_error = "out of memory for response headers";
    }
    return transfer.callback_error ? 0 : size * count;
}

/// Feeds the bytes to the observer; false when the transfer must stop.
bool observe(Transfer& transfer, std::string_view chunk) {
    const BodyObserver* observer = transfer.handling.observer;
    if (chunk.empty() || observer == nullptr || !*observer)
        return true;
    if ((*observer)(chunk))
        return true;
    transfer.stopped_by_observer = true;
    return false;
}

size_t take_body(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    const std::size_t room = transfer.handling.cap - transfer.taken;
    const std::string_view chunk(data, std::min(length, room));
    try {
        transfer.taken += chunk.size();
        if (transfer.handling.keep)
            transfer.body.append(chunk);
        if (!observe(transfer, chunk))
            return CURL_WRITEFUNC_ERROR;
    } catch (...) {
        transfer.callback_error = "body observer or body storage failed";
        return CURL_WRITEFUNC_ERROR;
    }
    if (chunk.size() < length) {
        transfer.body_capped = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return length;
}

} // namespace

// --- the object ------------------------------------------------------------

struct RequestObject::State {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;

    // Settings that stay from one request to the next.
    PhaseTimeouts timeouts = default_timeouts;
    std::string proxy;
    std::string proxy_user;
    std::string proxy_password;
    bool has_proxy_credentials = false;
    bool follow_redirects = true;
    bool ignore_certificate_errors = false;

    // The request being prepared, from `open` on.
    Method method = Method::none;
    std::string url;
    std::vector<std::string> header_lines;

    // The last response.
    std::string body;
    std::string head;
    int status = 0;
    SendOutcome outcome;

    State() : easy(curl_easy_init()), multi(curl_multi_init()) {}
    ~State() {
        if (multi != nullptr)
            curl_multi_cleanup(multi);
        if (easy != nullptr)
            curl_easy_cleanup(easy);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    void configure(Transfer& transfer, std::string_view upload, curl_slist* headers);
    void configure_method(std::string_view upload);
    void configure_proxy();
    void configure_callbacks(Transfer& transfer);
    CURLcode run(Transfer& transfer);
    void finish(Transfer& transfer, CURLcode result);
};

namespace {

curl_slist* header_list(const std::vector<std::string>& lines) {
    curl_slist* list = nullptr;
    bool has_expect = false;
    for (const std::string& line : lines) {
        has_expect = has_expect ||
                     equals_ignoring_case(std::string_view(line).substr(0, 7), "Expect:") ||
                     equals_ignoring_case(std::string_view(line).substr(0, 7), "Expect;");
        if (curl_slist* longer = curl_slist_append(list, line.c_str()))
            list = longer;
    }
    // libcurl would otherwise ask for "100-continue" and wait before sending
    // larger bodies; the request object this stands for never does.
    if (!has_expect)
        if (curl_slist* longer = curl_slist_append(list, "Expect:"))
            list = longer;
    return list;
}

} // namespace

void RequestObject::State::configure_method(std::string_view upload) {
    if (method == Method::head) {
        // A HEAD request carries no body: its meaning would be undefined, and
        // a server that ignores it would read it as the next request.
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        return;
    }
    if (method == Method::post)
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
    else
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    if (upload.empty() && method != Method::post)
        return;
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(upload.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, upload.data());
    // A body on GET: keep the method word, send the body anyway.
    if (method == Method::get)
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "GET");
}

void RequestObject::State::configure_proxy() {
    // Set explicitly, even when empty, so that no environment variable applies.
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    if (proxy.empty() || !has_proxy_credentials)
        return;
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy_user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy_password.c_str());
}

void RequestObject::State::configure_callbacks(Transfer& transfer) {
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, open_socket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, connection_ready);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, take_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, take_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
}

void RequestObject::State::configure(Transfer& transfer, std::string_view upload,
                                     curl_slist* headers) {
    // A reset forgets every option but keeps live connections and caches.
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Never wait for a name lookup that is still running when time is up.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect_ms));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.total_ms));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, follow_redirects ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, max_redirects);
    const long verify = ignore_certificate_errors ? 0L : 1L;
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify * 2);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, verify);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, verify * 2);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    configure_proxy();
    configure_method(upload);
    configure_callbacks(transfer);
}

CURLcode RequestObject::State::run(Transfer& transfer) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    int running = 1;
    // Bounded by the clock: the total budget ends it at the latest.
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        curl_off_t uploaded = 0;
        curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
        if (transfer.clock.phase() == Phase::sending &&
            static_cast<std::size_t>(uploaded) >= transfer.upload_size)
            transfer.request_sent();
        if (running == 0)
            break;
        if (transfer.clock.expired()) {
            result = CURLE_OPERATION_TIMEDOUT;
            transfer.callback_error = transfer.clock.expiry_message();
            break;
        }
        curl_multi_poll(multi, nullptr, 0, transfer.clock.wait_ms(), nullptr);
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued))
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    curl_multi_remove_handle(multi, easy);
    return result;
}

void RequestObject::State::finish(Transfer& transfer, CURLcode result) {
    outcome = {};
    outcome.body_capped = transfer.body_capped;
    outcome.stopped_by_observer = transfer.stopped_by_observer;
    const bool stopped_on_purpose =
        result == CURLE_WRITE_ERROR && (transfer.body_capped || transfer.stopped_by_observer);
    if (result == CURLE_OK || stopped_on_purpose) {
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        status = static_cast<int>(code);
        body = std::move(transfer.body);
        head = std::move(transfer.head);
        return;
    }
    outcome.failed = true;
    outcome.timed_out = result == CURLE_OPERATION_TIMEDOUT;
    if (outcome.timed_out && transfer.callback_error == nullptr)
        transfer.callback_error = transfer.clock.expiry_message();
    outcome.error = transfer.callback_error ? transfer.callback_error : curl_easy_strerror(result);
}

RequestObject::RequestObject() {
    initialise_curl_once();
    auto state = std::make_unique<State>();
    if (state->easy != nullptr && state->multi != nullptr)
        state_ = std::move(state);
}

RequestObject::RequestObject(std::nullptr_t) noexcept {}
RequestObject::~RequestObject() = default;
RequestObject::RequestObject(RequestObject&& other) noexcept = default;
RequestObject& RequestObject::operator=(RequestObject&& other) noexcept = default;

bool RequestObject::set_timeouts(const PhaseTimeouts& timeouts) {
    const bool usable = timeouts.connect_ms >= 1 && timeouts.send_ms >= 1 &&
                        timeouts.receive_ms >= 1 && timeouts.total_ms >= 1;
    if (!state_ || !usable)
        return false;
    state_->timeouts = timeouts;
    return true;
}

bool RequestObject::set_proxy(std::string_view proxy) {
    if (!state_ || proxy.find('\0') != std::string_view::npos)
        return false;
    state_->proxy = proxy;
    return true;
}

bool RequestObject::set_proxy_credentials(std::string_view user, std::string_view password,
                                          int /*flag*/) {
    const auto has_nul = [](std::string_view s) { return s.find('\0') != std::string_view::npos; };
    if (!state_ || has_nul(user) || has_nul(password))
        return false;
    state_->proxy_user = user;
    state_->proxy_password = password;
    state_->has_proxy_credentials = true;
    return true;
}

bool RequestObject::open(std::string_view method, std::string_view url) {
    if (!state_)
        return false;
    State& s = *state_;
    s.header_lines.clear();
    s.body.clear();
    s.head.clear();
    s.status = 0;
    s.outcome = {};
    s.url = url;
    // An address with a NUL byte would be cut short on its way to libcurl.
    const bool usable_url = url.find('\0') == std::string_view::npos;
    s.method = !usable_url        ? Method::none
               : method == "GET"  ? Method::get
               : method == "POST" ? Method::post
               : method == "HEAD" ? Method::head
                                  : Method::none;
    return s.method != Method::none;
}

bool RequestObject::set_follow_redirects(bool follow) {
    if (!state_)
        return false;
    state_->follow_redirects = follow;
    return true;
}

bool RequestObject::set_ignore_certificate_errors(bool ignore) {
    if (!state_)
        return false;
    state_->ignore_certificate_errors = ignore;
    return true;
}

bool RequestObject::set_request_header(std::string_view name, std::string_view value) {
    if (!state_ || state_->method == Method::none || !is_valid_header_name(name) ||
        !is_valid_header_value(value))
        return false;
    // "Name;" is libcurl's way of sending a header with an empty value.
    std::string line(name);
    line += value.empty() ? ";" : ": ";
    line += value;
    state_->header_lines.push_back(std::move(line));
    return true;
}

bool RequestObject::send(std::string_view body, const BodyHandling& handling) {
    if (!state_)
        return false;
    State& s = *state_;
    s.body.clear();
    s.head.clear();
    s.status = 0;
    s.outcome = {};
    if (s.method == Method::none) {
        s.outcome.failed = true;
        s.outcome.error = "no request opened";
        return false;
    }
    const std::size_t upload_size = s.method == Method::head ? 0 : body.size();
    Transfer transfer(s.timeouts, handling, upload_size, s.follow_redirects);
    curl_slist* headers = header_list(s.header_lines);
    s.configure(transfer, body.substr(0, upload_size), headers);
    const CURLcode result = s.run(transfer);
    curl_slist_free_all(headers);
    s.finish(transfer, result);
    return !s.outcome.failed;
}

std::string RequestObject::take_response_body() {
    return state_ ? std::exchange(state_->body, std::string()) : std::string();
}

std::string RequestObject::response_headers() const {
    return state_ ? state_->head : std::string();
}

int RequestObject::status() const {
    return state_ ? state_->status : 0;
}

const SendOutcome& RequestObject::outcome() const {
    static const SendOutcome no_object{true, false, false, false, "no request object"};
    return state_ ? state_->outcome : no_object;
}

PhaseTimeouts RequestObject::timeouts() const {
    return state_ ? state_->timeouts : PhaseTimeouts{};
}

} // namespace kestrova::http
