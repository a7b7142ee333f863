// The page fetch of a harvest run: one direct GET over libcurl (behind the
// .cpp file).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova::harvest {

/// Limits of one fetch, so that no server can hold a harvest run for ever.
struct FetchBounds {
    std::chrono::milliseconds connect{30'000};    ///< resolving and connecting
    std::chrono::milliseconds idle{60'000};       ///< longest wait for the next byte
    std::chrono::milliseconds total{300'000};     ///< the whole fetch, redirects included
    std::size_t max_body = std::size_t{64} << 20; ///< bytes kept at most; the rest is not read
};

/// Fetches `address` (http or https) with one GET as HTTP/1.0, with the user
/// agent "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)" and
/// "Accept: */*": always from the server (no cache), directly (never through
/// a proxy, whatever the environment says), redirects followed, certificates
/// checked, anything from the first "#" on left out, a user name and
/// password in the address handed to the server.
///
/// The result is the whole body whatever the status code; empty when the
/// address is empty or cannot be parsed or the connection or request fails.
/// When reading fails half-way, or a bound runs out, the bytes read until
/// then are the result; a body longer than `max_body` gives its first
/// `max_body` bytes. Safe to call on many threads at once.
std::string fetch_page(std::string_view address, const FetchBounds& bounds = {});

} // namespace kestrova::harvest
