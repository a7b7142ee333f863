#include "harvest/harvest_run.h"

#include "harvest/harvest_control_names.h"
#include "shell/activity_log.h"
#include "shell/control_names.h"
#include "text/codepage.h"
#include "text/text.h"

#include <algorithm>
#include <climits>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrova::harvest {

namespace {

namespace names = controls::harvest;

/// Matches are appended in pieces of about this size, each a run of whole
/// lines, so a page with a million matches costs few trips to the UI thread.
constexpr std::size_t append_piece_size = std::size_t{64} << 10;

/// The matches of one page as lines (match + CR LF), in pieces of whole lines.
struct PageMatches {
    std::size_t count = 0;
    std::vector<std::string> pieces;
};

PageMatches match_page(std::string_view pattern, std::string_view page,
                       std::chrono::milliseconds budget) {
    PageMatches found;
    auto take = [&found](std::string_view match) {
        if (found.pieces.empty() || found.pieces.back().size() >= append_piece_size)
            found.pieces.emplace_back();
        found.pieces.back().append(match).append(text::crlf);
    };
    found.count = for_each_match(pattern, page, take, budget).count;
    return found;
}

std::string log_entry(std::string_view address, std::size_t count) {
    static const std::string probed = text::gbk("探测到地址：[");
    static const std::string found = text::gbk("]\r\n共有代理数量：");
    std::string entry = probed;
    entry.append(address).append(found).append(text::int_to_text(static_cast<std::int64_t>(count)));
    return entry;
}

void harvest_source(WindowPort& main_window, WindowPort& harvest_window, const std::string& address,
                    const std::string& pattern, const HarvestSettings& settings) {
    const std::string body = fetch_page(address, settings.fetch);
    const PageMatches found = match_page(pattern, text::up_to_nul(body), settings.matching_budget);
    log_line(main_window, log_entry(address, found.count));
    for (const std::string& piece : found.pieces)
        main_window.append_to_box(controls::proxy_input, piece);
    // One indivisible step, so two runs at once never lose each other's steps.
    harvest_window.step_progress(names::progress_bar, 1);
}

} // namespace

void harvest_run(WindowPort& main_window, WindowPort& harvest_window,
                 const HarvestSettings& settings) {
    const std::vector<std::string> sources =
        text::split(harvest_window.box_text(names::source_list), text::crlf);
    const std::string pattern = harvest_window.box_text(names::pattern);
    const auto source_count = static_cast<int>(std::min<std::size_t>(sources.size(), INT_MAX));
    harvest_window.set_progress_maximum(names::progress_bar, source_count);
    harvest_window.set_progress_position(names::progress_bar, 0);
    for (const std::string& address : sources)
        harvest_source(main_window, harvest_window, address, pattern, settings);
}

bool start_harvest(std::shared_ptr<WindowPort> main_window,
                   std::shared_ptr<WindowPort> harvest_window, HarvestSettings settings) {
    if (!main_window || !harvest_window)
        return false;
    try {
        std::thread([main_window, harvest_window, settings] {
            try {
                harvest_run(*main_window, *harvest_window, settings);
            } catch (...) {
                // Out of memory on a giant page: the run ends, the process lives.
            }
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace kestrova::harvest
