// Judging a front end against the farm's truth: precision and recall of
// "可以用", the ideal makespan, and how much longer than needed probes took.
#pragma once

#include "proxy_farm.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::bench {

struct Score {
    std::size_t true_usable = 0;
    std::size_t false_usable = 0;  ///< said "可以用", deserves "不可用"
    std::size_t missed_usable = 0; ///< said "不可用", deserves "可以用"
    std::size_t unanswered = 0;    ///< no verdict at all
    std::map<std::string, std::size_t> wrong_by_behaviour;

    /// NaN when nothing was called usable (recall: when nothing deserved it).
    double precision() const;
    double recall() const;
};

/// `verdicts[i]` is the verdict given for `truth[i]`, if any.
Score score(const std::vector<FarmProxy>& truth, const std::vector<std::optional<bool>>& verdicts);

struct IdealMakespan {
    double least_sum_seconds = 0;
    double longest_seconds = 0;
    double seconds = 0; ///< least_sum / threads + longest
};

/// Under a time-out of `timeout_ms`, for proxies that only the time-out ends.
IdealMakespan ideal_makespan(const std::vector<FarmProxy>& truth, int threads,
                             std::int64_t timeout_ms);

/// The makespan of a dispatcher without any overhead: rows in list order,
/// each to the slot that frees first, each taking its least time. The
/// engine does the same in the same order, so the gap to this is its cost.
double list_schedule_seconds(const std::vector<FarmProxy>& truth, int threads,
                             std::int64_t timeout_ms);

struct Spread {
    std::size_t count = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

/// Elapsed minus least time (ms) of the probes whose proxies have `bound`.
Spread excess_spread(const std::vector<FarmProxy>& truth, const std::vector<std::int64_t>& elapsed,
                     Bound bound, std::int64_t timeout_ms);

} // namespace kestrova::bench
