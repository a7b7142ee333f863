// The farm's truth file: what every proxy deserves and how long a probe of it
// needs at the least. Other front ends read the addresses from it
// (`grep -v '^#' FILE | cut -f1`).
//
//   # probe_url<TAB>http://127.77.0.1:40000/
//   # timeout_ms<TAB>2000
//   # farm_pid<TAB>12345
//   127.77.0.2:41234<TAB>可以用<TAB>231<TAB>latency<TAB>good
#pragma once

#include "proxy_farm.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrova::bench {

struct Truth {
    std::string probe_url;
    std::int64_t timeout_ms = 0; ///< the time-out the least times of time-out-bound proxies assume
    std::uint64_t seed = 0;
    std::string mix;
    long farm_pid = 0;
    std::vector<FarmProxy> proxies;
};

Truth truth_of(const ProxyFarm& farm, long farm_pid);

/// Writes to a temporary name and renames, so a reader never sees half a file.
bool write_truth(const std::string& path, const Truth& truth);

/// Nullopt (and `error` set) when the file is missing or malformed.
std::optional<Truth> read_truth(const std::string& path, std::string& error);

/// The least time a probe of `proxy` needs under `timeout_ms`.
std::int64_t least_ms_under(const FarmProxy& proxy, std::int64_t timeout_ms);

} // namespace kestrova::bench
