// A farm of simulated HTTP proxies on loopback addresses (127.x.y.z) with a
// seeded mix of behaviours, and the probe page they stand in front of.
//
// Every proxy gets an address of its own, so thousands of them can listen at
// once. The simulated proxies do not forward: each answers an absolute-form
// request the way a proxy of its kind would, after its own latency. The farm
// knows the verdict each proxy deserves and the least time a probe of it
// needs; that is its truth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::bench {

enum class Behaviour {
    good,       ///< the probe page after its latency
    refused,    ///< nothing listens on the address
    blackhole,  ///< connections complete, nothing is ever read or answered
    drip,       ///< a head, then one body byte every 100 ms, for ever
    wrong_page, ///< 200 with a page without the marker
    gbk_page,   ///< 200 with the probe page in code page 936 (shows the marker, no UTF-8 match)
    garbage,    ///< bytes that are not HTTP, then the connection closes
    endless,    ///< a head, then a body without the marker as fast as it is taken
    empty_page, ///< 200 with an empty body
    forbidden,  ///< 403 with a short refusal page
    redirect,   ///< 302 to the probe page (a second address); serves that one
};

/// What bounds the time a probe of a proxy needs at the least.
enum class Bound {
    instant, ///< refused at once
    latency, ///< the proxy's own latency (twice for a redirect)
    timeout, ///< only the probe's time-out ends it
};

struct FarmProxy {
    std::string address; ///< "127.77.0.5:40123"
    Behaviour behaviour = Behaviour::good;
    bool usable = false; ///< the verdict the proxy deserves: "可以用"
    Bound bound = Bound::latency;
    std::int64_t latency_ms = 0;
    /// Least time a probe needs, with time-out-bound proxies at `timeout_ms`.
    std::int64_t least_ms = 0;
};

/// Share of each behaviour, in parts of the sum of all shares.
using Mix = std::vector<std::pair<Behaviour, int>>;

struct FarmOptions {
    std::size_t count = 5000;
    std::uint64_t seed = 1;
    /// The farm takes the addresses after this one; all stay inside 127.0.0.0/8.
    std::string base_address = "127.77.0.0";
    std::size_t loops = 4; ///< server threads sharing the listeners
    std::int64_t timeout_ms = 2000;
    /// Pace of an endless body, per connection, as over a fast real link;
    /// 0: as fast as the client takes it (on loopback the farm then spends
    /// a core per stream).
    std::size_t endless_bytes_per_second = 8 << 20;
    Mix mix = {};
};

const char* behaviour_name(Behaviour behaviour);
std::optional<Behaviour> behaviour_from_name(std::string_view name);
const char* bound_name(Bound bound);
std::optional<Bound> bound_from_name(std::string_view name);

/// The mix the benchmark uses unless told otherwise.
Mix default_mix();
/// "good=55,refused=10,..." (behaviours left out get no share); nullopt
/// when a name or number is not understood or every share is zero.
std::optional<Mix> parse_mix(std::string_view text);
std::string mix_text(const Mix& mix);

/// Whether `address` (dotted IPv4) lies inside 127.0.0.0/8.
bool is_loopback_address(std::string_view address);

/// The listening farm. Construction starts every listener; destruction stops
/// the server threads and closes every socket.
class ProxyFarm {
public:
    /// Throws std::runtime_error when an option is unusable or an address
    /// cannot be bound (for example for want of file descriptors).
    explicit ProxyFarm(FarmOptions options);
    ~ProxyFarm();
    ProxyFarm(const ProxyFarm&) = delete;
    ProxyFarm& operator=(const ProxyFarm&) = delete;

    /// "http://127.77.0.1:PORT/": the page every proxy stands in front of.
    const std::string& probe_url() const;
    const std::vector<FarmProxy>& proxies() const;
    const FarmOptions& options() const;
    std::size_t connections_accepted() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// The UTF-8 probe page carrying "百度一下".
const std::string& probe_page_utf8();

} // namespace kestrova::bench
