// One verification run of the real engine (Verifier over the in-memory
// window) over the farm's proxies, with what it cost.
#pragma once

#include "proxy_farm.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::bench {

struct EngineSettings {
    int threads = 30;
    std::int64_t timeout_ms = 2000; ///< the text of the time-out box
    std::string probe_url;
    double time_cap_seconds = 600; ///< the run is given up after this
    double progress_every_seconds = 10;
};

struct ProbeRecord {
    std::string address;
    bool usable = false;
    std::int64_t elapsed_ms = 0;
};

/// Read every 2 ms while a run goes on (threads every 10 ms).
struct RunSamples {
    int peak_running = 0;    ///< probes in flight
    long peak_threads = 0;   ///< threads of the process
    double slot_seconds = 0; ///< probes in flight integrated over the run
    /// Free slots integrated over the time when rows still waited for one.
    double idle_while_waiting_seconds = 0;
    double first_full_seconds = -1; ///< when the limit was first reached
};

struct EngineResult {
    bool finished = false;
    double wall_seconds = 0; ///< click of the start button to the end of finish_run
    std::vector<ProbeRecord> probes;
    RunSamples samples;
    long peak_resident_kb = -1;
    bool peak_resident_reset = false; ///< false: the peak includes what came before
    double cpu_seconds = 0;
};

EngineResult run_engine(const std::vector<FarmProxy>& proxies, const EngineSettings& settings);

} // namespace kestrova::bench
