#include "harvest/pattern_matching.h"

#include <boost/regex.hpp>
#include <cstdint>
#include <iterator>
#include <optional>
#include <stdexcept>

namespace kestrova::harvest {

namespace {

using Clock = std::chrono::steady_clock;

/// Thrown through the matcher when the page's time budget has run out.
struct OutOfTime {};

/// Counts the characters the matcher reads and looks at the clock once in a
/// while: every step of a search, backtracking included, reads the text, so
/// this bounds the wall time of any pattern.
class ReadBudget {
public:
    explicit ReadBudget(std::chrono::milliseconds budget) : deadline_(Clock::now() + budget) {}

    void spend() {
        if (--reads_left_ < 0)
            look_at_clock();
    }
    void look_at_clock() {
        if (Clock::now() >= deadline_)
            throw OutOfTime{};
        reads_left_ = reads_between_looks;
    }

private:
    static constexpr std::int64_t reads_between_looks = std::int64_t{1} << 16;
    Clock::time_point deadline_;
    std::int64_t reads_left_ = reads_between_looks;
};

/// A pointer into the page that spends the budget on every read.
class BudgetedIterator {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    BudgetedIterator() = default;
    BudgetedIterator(const char* at, ReadBudget* budget) : at_(at), budget_(budget) {}

    const char* get() const { return at_; }

    reference operator*() const {
        budget_->spend();
        return *at_;
    }
    reference operator[](difference_type n) const { return *(*this + n); }
    BudgetedIterator& operator++() {
        ++at_;
        return *this;
    }
    BudgetedIterator operator++(int) { return {at_++, budget_}; }
    BudgetedIterator& operator--() {
        --at_;
        return *this;
    }
    BudgetedIterator operator--(int) { return {at_--, budget_}; }
    BudgetedIterator& operator+=(difference_type n) {
        at_ += n;
        return *this;
    }
    BudgetedIterator& operator-=(difference_type n) {
        at_ -= n;
        return *this;
    }
    friend BudgetedIterator operator+(BudgetedIterator it, difference_type n) { return it += n; }
    friend BudgetedIterator operator+(difference_type n, BudgetedIterator it) { return it += n; }
    friend BudgetedIterator operator-(BudgetedIterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(BudgetedIterator a, BudgetedIterator b) {
        return a.at_ - b.at_;
    }
    friend bool operator==(BudgetedIterator a, BudgetedIterator b) { return a.at_ == b.at_; }
    friend auto operator<=>(BudgetedIterator a, BudgetedIterator b) { return a.at_ <=> b.at_; }

private:
    const char* at_ = nullptr;
    ReadBudget* budget_ = nullptr;
};

std::optional<boost::regex> compile(std::string_view pattern) {
    try {
        return boost::regex(pattern.begin(), pattern.end(), boost::regex::perl);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

using Match = boost::match_results<BudgetedIterator>;

enum class Searched { found, nothing, out_of_time, too_complex };

Searched search_from(const boost::regex& regex, BudgetedIterator from, BudgetedIterator end,
                     Match& match) {
    try {
        // Without match_prev_avail the search treats `from` as the start of the text.
        return boost::regex_search(from, end, match, regex, boost::match_default)
                   ? Searched::found
                   : Searched::nothing;
    } catch (const OutOfTime&) {
        return Searched::out_of_time;
    } catch (const std::runtime_error&) {
        // Too complex, or out of stack for its backtracking.
        return Searched::too_complex;
    }
}

MatchEnd end_after(Searched last_search) {
    switch (last_search) {
    case Searched::out_of_time:
        return MatchEnd::out_of_time;
    case Searched::too_complex:
        return MatchEnd::too_complex;
    default:
        return MatchEnd::searched_all;
    }
}

std::string_view whole_match(const Match& match) {
    const char* first = match[0].first.get();
    return {first, static_cast<std::size_t>(match[0].second.get() - first)};
}

} // namespace

MatchSummary for_each_match(std::string_view pattern, std::string_view text,
                            const std::function<void(std::string_view match)>& on_match,
                            std::chrono::milliseconds budget) {
    MatchSummary summary;
    std::optional<boost::regex> regex = compile(pattern);
    if (!regex) {
        summary.end = MatchEnd::invalid_pattern;
        return summary;
    }
    ReadBudget reads(budget);
    const BudgetedIterator end(text.data() + text.size(), &reads);
    BudgetedIterator from(text.data(), &reads);
    Match match;
    Searched searched;
    while ((searched = search_from(*regex, from, end, match)) == Searched::found) {
        const std::string_view found = whole_match(match);
        ++summary.count;
        on_match(found);
        if (found.empty())
            return summary;
        from = match[0].second;
    }
    summary.end = end_after(searched);
    return summary;
}

} // namespace kestrova::harvest
