#include "scoring.h"

#include "truth_file.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <queue>

namespace kestrova::bench {

double Score::precision() const {
    const std::size_t said_usable = true_usable + false_usable;
    if (said_usable == 0)
        return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(true_usable) / static_cast<double>(said_usable);
}

double Score::recall() const {
    const std::size_t deserved = true_usable + missed_usable;
    if (deserved == 0)
        return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(true_usable) / static_cast<double>(deserved);
}

Score score(const std::vector<FarmProxy>& truth, const std::vector<std::optional<bool>>& verdicts) {
    Score result;
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const bool deserved = truth[i].usable;
        const std::optional<bool> said = i < verdicts.size() ? verdicts[i] : std::nullopt;
        if (!said) {
            ++result.unanswered;
            // An unanswered usable proxy was not found: it counts against recall.
            if (deserved)
                ++result.missed_usable;
        } else if (*said && deserved) {
            ++result.true_usable;
        } else if (*said) {
            ++result.false_usable;
        } else if (deserved) {
            ++result.missed_usable;
        }
        if (!said || *said != deserved)
            ++result.wrong_by_behaviour[behaviour_name(truth[i].behaviour)];
    }
    return result;
}

IdealMakespan ideal_makespan(const std::vector<FarmProxy>& truth, int threads,
                             std::int64_t timeout_ms) {
    IdealMakespan ideal;
    std::int64_t sum = 0;
    std::int64_t longest = 0;
    for (const FarmProxy& proxy : truth) {
        const std::int64_t least = least_ms_under(proxy, timeout_ms);
        sum += least;
        longest = std::max(longest, least);
    }
    ideal.least_sum_seconds = static_cast<double>(sum) / 1000.0;
    ideal.longest_seconds = static_cast<double>(longest) / 1000.0;
    ideal.seconds = ideal.least_sum_seconds / std::max(threads, 1) + ideal.longest_seconds;
    return ideal;
}

double list_schedule_seconds(const std::vector<FarmProxy>& truth, int threads,
                             std::int64_t timeout_ms) {
    // Free times of the slots, soonest on top.
    std::priority_queue<std::int64_t, std::vector<std::int64_t>, std::greater<>> slots;
    for (int i = 0; i < std::max(threads, 1); ++i)
        slots.push(0);
    std::int64_t makespan = 0;
    for (const FarmProxy& proxy : truth) {
        const std::int64_t end = slots.top() + least_ms_under(proxy, timeout_ms);
        slots.pop();
        slots.push(end);
        makespan = std::max(makespan, end);
    }
    return static_cast<double>(makespan) / 1000.0;
}

Spread excess_spread(const std::vector<FarmProxy>& truth, const std::vector<std::int64_t>& elapsed,
                     Bound bound, std::int64_t timeout_ms) {
    std::vector<double> excess;
    for (std::size_t i = 0; i < truth.size() && i < elapsed.size(); ++i)
        if (truth[i].bound == bound && elapsed[i] >= 0)
            excess.push_back(
                static_cast<double>(elapsed[i] - least_ms_under(truth[i], timeout_ms)));
    Spread spread;
    spread.count = excess.size();
    if (excess.empty())
        return spread;
    std::sort(excess.begin(), excess.end());
    spread.median = excess[excess.size() / 2];
    spread.p99 = excess[std::min(excess.size() - 1, excess.size() * 99 / 100)];
    spread.max = excess.back();
    return spread;
}

} // namespace kestrova::bench
