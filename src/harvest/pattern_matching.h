// Finding every match of the user's pattern in a page (Boost.Regex behind the
// .cpp file).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

namespace kestrova::harvest {

/// How the search of one page ended.
enum class MatchEnd {
    searched_all,    ///< the whole page was searched
    invalid_pattern, ///< the pattern does not compile; nothing was searched
    too_complex,     ///< Boost.Regex gave up (complexity or stack); earlier matches stand
    out_of_time,     ///< the page's time budget ran out; earlier matches stand
};

struct MatchSummary {
    std::size_t count = 0;
    MatchEnd end = MatchEnd::searched_all;
};

/// Wall time one page may spend in matching. Boost's own complexity limit
/// grows with the page and resets with every search, so it alone cannot
/// keep a hostile pattern from holding a run for hours.
inline constexpr std::chrono::milliseconds default_matching_budget{10'000};

/// Calls `on_match` with every match of `pattern` in `text`, in order, and
/// counts them. The pattern is Perl syntax, case-sensitive, searched with the
/// default match flags ("^" and "$" match at line breaks, "." matches a line
/// break). The first search covers the whole text; each further search
/// begins where the previous match ended and treats that point as the
/// beginning of the text, so "^", "\A" and "\b" can match there. A search
/// that finds nothing ends the matching; so does a match of zero length,
/// after it has been counted. A match is the whole match (sub-expression 0),
/// a view into `text`.
MatchSummary for_each_match(std::string_view pattern, std::string_view text,
                            const std::function<void(std::string_view match)>& on_match,
                            std::chrono::milliseconds budget = default_matching_budget);

} // namespace kestrova::harvest
