#include "harvest/fetch_page.h"

#include <algorithm>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace kestrova::harvest {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* user_agent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr long max_redirects = 10;

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using HeaderList = std::unique_ptr<curl_slist, ListCleanup>;

void initialise_curl_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

/// What the callbacks of one fetch work on.
struct Download {
    const FetchBounds& bounds;
    std::string body{};
    Clock::time_point last_byte = Clock::now();
};

size_t take_body(char* data, size_t size, size_t count, void* context) {
    auto& download = *static_cast<Download*>(context);
    const size_t arrived = size * count;
    const size_t room = download.bounds.max_body - download.body.size();
    download.last_byte = Clock::now();
    download.body.append(data, std::min(arrived, room));
    // Returning less than arrived stops the transfer: the page is what fits.
    return arrived <= room ? arrived : 0;
}

size_t take_header(char*, size_t size, size_t count, void* context) {
    static_cast<Download*>(context)->last_byte = Clock::now();
    return size * count;
}

// libcurl calls this about once a second even while nothing arrives.
int check_idle(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& download = *static_cast<Download*>(context);
    return Clock::now() - download.last_byte > download.bounds.idle ? 1 : 0;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
               return p == (t >= 'A' && t <= 'Z' ? static_cast<char>(t + 32) : t);
           });
}

bool has_control_character(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

/// The address without its fragment, or "" when it is no http(s) address.
/// Control characters (a line break, say) would end up in the request head.
std::string fetchable_address(std::string_view address) {
    address = address.substr(0, address.find('#'));
    if (!starts_with_ignoring_case(address, "http://") &&
        !starts_with_ignoring_case(address, "https://"))
        return {};
    if (has_control_character(address))
        return {};
    return std::string(address);
}

long milliseconds(std::chrono::milliseconds duration) {
    return static_cast<long>(std::max<std::chrono::milliseconds::rep>(duration.count(), 1));
}

HeaderList request_headers() {
    curl_slist* list = curl_slist_append(nullptr, "Accept: */*");
    if (list && !curl_slist_append(list, "Pragma: no-cache")) {
        curl_slist_free_all(list);
        list = nullptr;
    }
    return HeaderList(list);
}

void set_request(CURL* handle, const std::string& url, curl_slist* headers) {
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, user_agent);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, max_redirects);
    // Cookies live for this fetch only, so a redirect that sets one works.
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
}

void set_connection(CURL* handle) {
    // Direct, whatever http_proxy and friends say.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
}

void set_bounds_and_callbacks(CURL* handle, Download& download) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(download.bounds.connect));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, milliseconds(download.bounds.total));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, take_body);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &download);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, take_header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &download);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, check_idle);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &download);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

} // namespace

std::string fetch_page(std::string_view address, const FetchBounds& bounds) {
    const std::string url = fetchable_address(address);
    if (url.empty())
        return {};
    initialise_curl_once();
    EasyHandle handle(curl_easy_init());
    HeaderList headers = request_headers();
    if (!handle || !headers)
        return {};
    Download download{bounds};
    set_request(handle.get(), url, headers.get());
    set_connection(handle.get());
    set_bounds_and_callbacks(handle.get(), download);
    // Whatever went wrong, the bytes read until then are the page: none when
    // the connection failed, the first part when reading failed half-way.
    curl_easy_perform(handle.get());
    return std::move(download.body);
}

} // namespace kestrova::harvest
