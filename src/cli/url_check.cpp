#include "cli/url_check.h"

#include <curl/curl.h>
#include <memory>

namespace kestrova::cli {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string scheme_of(CURLU* url) {
    char* scheme = nullptr;
    if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        return {};
    std::string text = scheme;
    curl_free(scheme);
    return text;
}

} // namespace

std::string url_problem(std::string_view url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed)
        return "out of memory";
    const std::string text(url);
    if (text.find('\0') != std::string::npos)
        return "holds a NUL byte";
    CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), 0);
    if (code != CURLUE_OK)
        return curl_url_strerror(code);
    std::string scheme = scheme_of(parsed.get());
    if (scheme != "http" && scheme != "https")
        return "not an http or https address";
    return {};
}

} // namespace kestrova::cli
