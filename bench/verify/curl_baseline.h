// The baseline a user would write: xargs -P with curl through each proxy and
// a grep for the marker, over the same farm.
#pragma once

#include "proxy_farm.h"

#include <map>
#include <string>
#include <vector>

namespace kestrova::bench {

struct BaselineSettings {
    int parallel = 30;
    std::int64_t timeout_ms = 2000; ///< curl --max-time
    std::string probe_url;
    std::string work_prefix; ///< the address list and the answers go to PREFIX.list / .out
    double time_cap_seconds = 600;
    double progress_every_seconds = 10;
};

struct BaselineResult {
    bool finished = false;
    double wall_seconds = 0;
    double cpu_seconds = 0; ///< of every process the pipeline ran
    int exit_status = -1;
    std::string command;
    std::map<std::string, bool> usable_by_address; ///< from the pipeline's output
};

BaselineResult run_curl_baseline(const std::vector<FarmProxy>& proxies,
                                 const BaselineSettings& settings);

} // namespace kestrova::bench
