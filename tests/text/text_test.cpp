// Scanning, splitting, searching, trimming and number rules of code page 936
// byte text. Bytes are spelled out in hex where the character boundaries
// matter: 0xB0 0xA1 is one character, 0xA1 0xA1 the ideographic space.
#include "text/text.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>

namespace {

using namespace kestrova::text;
using namespace std::string_literals;

constexpr auto npos = std::string_view::npos;
constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();

std::string hex(std::string_view bytes) {
    std::string out;
    for (unsigned char byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", byte);
        out += two;
    }
    return out;
}

struct SplitCase {
    std::string text;
    std::string separator;
    std::vector<std::string> pieces;
};

TEST(Split, PiecesFollowTheSeparatorRules) {
    const SplitCase cases[] = {
        {"A\r\nB\r\n", "\r\n", {"A", "B"}},
        {"A\r\n\r\nB", "\r\n", {"A", "", "B"}},
        {"\r\n", "\r\n", {""}},
        {"", "\r\n", {}},
        {"\r\nA", "\r\n", {"", "A"}},
        {"AB", "\r\n", {"AB"}},
        {"A\rB\nC\n\r", "\r\n", {"A\rB\nC\n\r"}}, // lone CR and LF are text
        // 0x81 0x0D is one character: the CR is its trail byte, so the
        // CR LF that the bytes seem to hold is no separator.
        {"\x81\r\nB\r\nC", "\r\n", {"\x81\r\nB", "C"}},
        {"A\x81\r\n", "\r\n", {"A\x81\r\n"}},
        {"\xB0\xA1\r\nB", "\r\n", {"\xB0\xA1", "B"}},
        {"A\r\n\x81", "\r\n", {"A", "\x81"}}, // a lead byte at the end is one byte
        {"a=1;b=2;", ";", {"a=1", "b=2"}},
        {"a;;b", ";", {"a", "", "b"}},
        {";", ";", {""}},
        {"\x81;x;y", ";", {"\x81;x", "y"}},
        {"a=1; b=2; ", "; ", {"a=1", "b=2"}},
        {"a; b;c; ; d", "; ", {"a", "b;c", "", "d"}},
        {"a;b", "", {"a;b"}}, // an empty separator never matches
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(hex(c.text) + "at " + hex(c.separator));
        EXPECT_EQ(split(c.text, c.separator), c.pieces);
        const std::vector<std::string_view> views = split_views(c.text, c.separator);
        EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), c.pieces);
    }
}

TEST(Split, ForEachPieceStopsWhenAsked) {
    std::vector<std::string_view> seen;
    for_each_piece("a\r\nb\r\nc", crlf, [&seen](std::string_view piece) {
        seen.push_back(piece);
        return piece != "b";
    });
    EXPECT_EQ(seen, (std::vector<std::string_view>{"a", "b"}));
}

struct FindCase {
    std::string text;
    std::string needle;
    std::size_t from;
    std::size_t found;
};

TEST(Find, MatchesBeginOnlyWhereACharacterBegins) {
    const std::string marker = "\xB0\xD9\xB6\xC8\xD2\xBB\xCF\xC2"; // 百度一下
    const FindCase cases[] = {
        {"a;b;c", ";", 0, 1},
        {"a;b;c", ";", 2, 3},
        {"a;b;c", ";", 4, npos},
        {"ab", "b", 0, 1},
        {"ab", "abc", 0, npos},
        {"Set-Cookie", "set", 0, npos}, // bytes compare exactly
        {"abc", "", 1, 1},
        {"abc", "", 3, 3},
        {"abc", "", 4, npos},
        // 0xB0 0xA1 | 0xA1 0xB0: the ideographic space bytes straddle two
        // characters.
        {"\xB0\xA1\xA1\xB0", "\xA1\xA1", 0, npos},
        {"\xB0\xA1\xA1\xA1", "\xA1\xA1", 0, 2},
        // The marker would begin on the second byte of 0x81 0xB0.
        {"\x81" + marker, marker, 0, npos},
        {"\x81\x40" + marker, marker, 0, 2},
        {"<p>" + marker + "</p>", marker, 0, 3},
        {"\xB0\x81", "\x81", 0, npos},
        {"a\x81", "\x81", 0, 1}, // a lone lead byte at the end is a character
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(hex(c.text) + "for " + hex(c.needle) + "from " + std::to_string(c.from));
        EXPECT_EQ(kestrova::text::find(c.text, c.needle, c.from), c.found);
    }
}

TEST(Find, ContainsNothingInAnEmptyText) {
    EXPECT_FALSE(contains("", ""));
    EXPECT_FALSE(contains("", "a"));
    EXPECT_TRUE(contains("a", ""));
    EXPECT_TRUE(contains("xSet-Cookie: a", "Set-Cookie"));
    EXPECT_FALSE(contains("\xB0\xA1\xA1\xB0", "\xA1\xA1"));
}

struct TrimCase {
    std::string text;
    std::string left;
    std::string right;
    std::string both;
    std::string without_spaces;
};

TEST(Trim, OnlyAsciiAndIdeographicSpacesAtCharacterBoundaries) {
    const TrimCase cases[] = {
        {"  a b  ", "a b  ", "  a b", "a b", "ab"},
        {"\xA1\xA1 a\xA1\xA1", "a\xA1\xA1", "\xA1\xA1 a", "a", "a"},
        {"\ta\t", "\ta\t", "\ta\t", "\ta\t", "\ta\t"},
        {" \r\n ", "\r\n ", " \r\n", "\r\n", "\r\n"},
        {"", "", "", "", ""},
        {" \xA1\xA1 ", "", "", "", ""},
        // 0xB0 0xA1 then 0xA1 0xA1: a real ideographic space at the end.
        {"\xB0\xA1\xA1\xA1", "\xB0\xA1\xA1\xA1", "\xB0\xA1", "\xB0\xA1", "\xB0\xA1"},
        // 0xB0 0xA1 then 0xA1 0x41: no ideographic space anywhere.
        {"\xB0\xA1\xA1\x41", "\xB0\xA1\xA1\x41", "\xB0\xA1\xA1\x41", "\xB0\xA1\xA1\x41",
         "\xB0\xA1\xA1\x41"},
        // 0x81 0x20 is one character; its space is a trail byte.
        {"x\x81 ", "x\x81 ", "x\x81 ", "x\x81 ", "x\x81 "},
        // A lone 0xA1 at the end is no ideographic space.
        {"x\xA1", "x\xA1", "x\xA1", "x\xA1", "x\xA1"},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(hex(c.text));
        EXPECT_EQ(trim_left(c.text), c.left);
        EXPECT_EQ(trim_right(c.text), c.right);
        EXPECT_EQ(trim(c.text), c.both);
        EXPECT_EQ(remove_spaces(c.text), c.without_spaces);
    }
}

TEST(Trim, ViewsPointIntoTheText) {
    const std::string text = "\xA1\xA1 name \xA1\xA1";
    const std::string_view trimmed = trim_view(text);
    EXPECT_EQ(trimmed, "name");
    EXPECT_EQ(trimmed.data(), text.data() + 3);
}

TEST(Numbers, TextToInt) {
    const std::pair<std::string, std::int32_t> cases[] = {
        {"12abc", 12},
        {"\xA3\xB1\xA3\xB2", 12}, // full-width １２
        {"\xA3\xB1"
         "2",
         12},
        {"  -7", -7},
        {"\t 3", 3},
        {"\n\v\f\r5", 5},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"+-1", 0},
        {"1 2", 1},
        {"007", 7},
        {"2000", 2000},
        {"\xA1\xA1\xA3\xAD\xA3\xB3", -3}, // ideographic space, full-width －３
        {"\xA3\xAB\xA3\xB4", 4},          // full-width ＋４
        {"\x81\xA3\xB1", 0},              // 0xA3 is a trail byte here
        {"3\xA3", 3},
        {"2147483647", int_max},
        {"2147483648", int_max},
        {"99999999999999999999999", int_max},
        {"-2147483648", int_min},
        {"-2147483649", int_min},
        {"-99999999999999999999999", int_min},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(hex(text));
        EXPECT_EQ(to_int(text), value);
    }
}

TEST(Numbers, IntToText) {
    EXPECT_EQ(int_to_text(0), "0");
    EXPECT_EQ(int_to_text(2000), "2000");
    EXPECT_EQ(int_to_text(-5), "-5");
    EXPECT_EQ(int_to_text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(int_to_text(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
}

TEST(Numbers, FractionDropsTowardZeroAndSaturates) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, std::int32_t> cases[] = {
        {2.9, 2},
        {-1.5, -1},
        {2.999, 2},
        {0.999, 0},
        {-0.999, 0},
        {-1.999, -1},
        {1e10, int_max},
        {-1e10, int_min},
        {inf, int_max},
        {-inf, int_min},
        {2147483647.9, int_max},
        {-2147483648.9, int_min},
        {2147483646.5, 2147483646},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(fraction_to_int(value), expected);
    }
    EXPECT_EQ(fraction_to_int(std::nan("")), 0);
}

TEST(Bytes, UpToNul) {
    EXPECT_EQ(up_to_nul("ab\0cd"s), "ab");
    EXPECT_EQ(up_to_nul("abc"), "abc");
    EXPECT_EQ(up_to_nul("\0a"s), "");
    EXPECT_EQ(up_to_nul(""), "");
}

} // namespace
