// Finding all matches with the continuation rules of a harvest run.
#include "harvest/pattern_matching.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace kestrova::harvest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string default_pattern = R"(\d+\.\d+\.\d+\.\d+\:\d+)";

struct Found {
    std::vector<std::string> matches;
    MatchSummary summary;
};

Found find_all(const std::string& pattern, std::string_view text,
               std::chrono::milliseconds budget = default_matching_budget) {
    Found found;
    found.summary = for_each_match(
        pattern, text, [&](std::string_view match) { found.matches.emplace_back(match); }, budget);
    return found;
}

struct Case {
    const char* what;
    std::string pattern;
    std::string text;
    std::vector<std::string> matches;
};

TEST(PatternMatching, FindsEveryMatchByTheContinuationRules) {
    const Case cases[] = {
        {"two addresses",
         default_pattern,
         "1.2.3.4:80 x 5.6.7.8:8080",
         {"1.2.3.4:80", "5.6.7.8:8080"}},
        {"no boundaries of its own", default_pattern, "912.34.56.78:31289", {"912.34.56.78:31289"}},
        {"an address twice",
         default_pattern,
         "1.2.3.4:80\r\n1.2.3.4:80\r\n",
         {"1.2.3.4:80", "1.2.3.4:80"}},
        {"no match", default_pattern, "1.2.3:80 and 1.2.3.4 only", {}},
        {"empty match ends the search", R"(\d*)", "ab12", {""}},
        {"empty match after a match", R"(\d*)", "12ab34", {"12", ""}},
        {"^ matches where a search starts", R"(^\d)", "12", {"1", "2"}},
        {"\\A matches where a search starts", R"(\A\d)", "123", {"1", "2", "3"}},
        {"\\b matches where a search starts", R"(\b\d)", "12 3", {"1", "2", "3"}},
        {"^ and $ match at line breaks", "^b|a$", "a\nb", {"a", "b"}},
        {"dot matches a line break", "a.b", "a\nb", {"a\nb"}},
        {"case-sensitive", "abc", "ABC abc", {"abc"}},
        {"capture groups play no part", R"((\d+)\.(\d+))", "x1.2y", {"1.2"}},
        {"empty text", default_pattern, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Found found = find_all(c.pattern, c.text);
        EXPECT_EQ(found.matches, c.matches);
        EXPECT_EQ(found.summary.count, c.matches.size());
        EXPECT_EQ(found.summary.end, MatchEnd::searched_all);
    }
}

TEST(PatternMatching, PatternThatDoesNotCompileFindsNothing) {
    for (const char* pattern : {"(", "[a-", "a{2,1}", "*"}) {
        SCOPED_TRACE(pattern);
        Found found = find_all(pattern, "1.2.3.4:80 ((( [a- aa *");
        EXPECT_TRUE(found.matches.empty());
        EXPECT_EQ(found.summary.count, 0u);
        EXPECT_EQ(found.summary.end, MatchEnd::invalid_pattern);
    }
}

TEST(PatternMatching, MatchesAreViewsIntoTheText) {
    const std::string text = "a 1.2.3.4:80";
    std::string_view seen;
    for_each_match(default_pattern, text, [&](std::string_view match) { seen = match; });
    EXPECT_EQ(seen.data(), text.data() + 2);
    EXPECT_EQ(seen.size(), 10u);
}

// Boost.Regex gives up on these by its own complexity and stack limits; in a
// slow (sanitizer) build the page's time budget may come first. Either way
// the page ends, with nothing found.
TEST(PatternMatching, CatastrophicPatternOnALargePageGivesUpQuickly) {
    const std::string page(std::size_t{1} << 20, 'a');
    for (const char* pattern : {"(a+)+b", "(a|aa)+b", R"((\w+\s?)+$x)"}) {
        SCOPED_TRACE(pattern);
        const auto start = Clock::now();
        Found found = find_all(pattern, page, 5s);
        EXPECT_TRUE(found.summary.end == MatchEnd::too_complex ||
                    found.summary.end == MatchEnd::out_of_time);
        EXPECT_EQ(found.summary.count, 0u);
        EXPECT_LT(Clock::now() - start, 10s);
    }
}

// Each search stays inside Boost's limit, which starts afresh with every
// search; only the page's time budget ends this one.
TEST(PatternMatching, TimeBudgetEndsMatchingWithTheMatchesFoundSoFar) {
    std::string page;
    while (page.size() < (std::size_t{1} << 20))
        page += std::string(14, 'a') + "c";
    const auto start = Clock::now();
    Found found = find_all("(a+)+b|c", page, 1s);
    const auto took = Clock::now() - start;
    EXPECT_EQ(found.summary.end, MatchEnd::out_of_time);
    EXPECT_GT(found.summary.count, 0u);
    EXPECT_LT(found.summary.count, page.size() / 15);
    EXPECT_EQ(found.matches, std::vector<std::string>(found.summary.count, "c"));
    EXPECT_LT(took, 5s);
}

} // namespace
