// One run of the command-line front end, kestrova-cli check, over the farm's
// proxies, as a child process: its own wall time, memory and verdicts.
#pragma once

#include "proxy_farm.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrova::bench {

struct CliSettings {
    std::string program; ///< path of kestrova-cli
    int threads = 30;
    std::int64_t timeout_ms = 2000;
    std::string probe_url;
    std::string work_prefix; ///< the address list and the results go to PREFIX.list / .tsv
    double time_cap_seconds = 600;
};

struct CliRunResult {
    bool finished = false; ///< exited 0 within the time cap
    int exit_status = -1;
    double wall_seconds = 0;
    double cpu_seconds = 0;
    long peak_resident_kb = -1;
    std::map<std::string, bool> usable_by_address; ///< from its tsv output
};

CliRunResult run_cli(const std::vector<FarmProxy>& proxies, const CliSettings& settings);

} // namespace kestrova::bench
