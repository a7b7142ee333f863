// The harvest run: fetch every source page, find the pattern's matches, log
// one entry per page and append the matches to the proxy input box.
#pragma once

#include "harvest/fetch_page.h"
#include "harvest/pattern_matching.h"
#include "shell/window_port.h"

#include <chrono>
#include <memory>

namespace kestrova::harvest {

/// Bounds of one run's work per source page.
struct HarvestSettings {
    FetchBounds fetch{};
    std::chrono::milliseconds matching_budget = default_matching_budget;
};

/// The body of a harvest thread. Reads the source list and the pattern of
/// `harvest_window` once; sets its progress bar to the number of sources
/// and position 0; then for each source line (split at CR LF, not trimmed):
/// fetch_page, the text up to the first NUL, all matches of the pattern, a
/// two-line entry in `main_window`'s activity log ("探测到地址：[" address
/// "]" and "共有代理数量：" n), every match plus CR LF appended to the proxy
/// input box, and one step of the progress bar. A page that cannot be
/// fetched, an invalid pattern or a pattern that gives up gives fewer (or
/// no) matches, never an error; no message is shown.
void harvest_run(WindowPort& main_window, WindowPort& harvest_window,
                 const HarvestSettings& settings = {});

/// Starts harvest_run on a thread of its own, not kept track of, which holds
/// both ports until it ends; returns at once. False when no thread could be
/// started (then nothing happens).
bool start_harvest(std::shared_ptr<WindowPort> main_window,
                   std::shared_ptr<WindowPort> harvest_window, HarvestSettings settings = {});

} // namespace kestrova::harvest
