#include "http/header_text.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

namespace kestrova::http {
namespace {

using text::gbk;

struct HeaderCase {
    std::string line;
    std::string name;
    std::string value;
};

TEST(HeaderLine, NameAndValueAreTrimmedPartsAroundTheFirstColon) {
    const HeaderCase cases[] = {
        {"Accept: */*", "Accept", "*/*"},
        {"  X-A :  b  ", "X-A", "b"},
        {"Host: example.com:8080", "Host", "example.com:8080"},
        {"no colon at all", "", ""},
        {":only value", "", "only value"},
        {"Empty:", "Empty", ""},
        {gbk("　名字　:　值　"), gbk("名字"), gbk("值")},
        {"\tTab: v\t", "\tTab", "v\t"}, // tabs are not spaces
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(header_name(c.line), c.name) << c.line;
        EXPECT_EQ(header_value(c.line), c.value) << c.line;
    }
}

struct BetweenCase {
    std::string text;
    std::string left;
    std::string right;
    int start;
    bool ignore_case;
    std::string expected;
};

TEST(TextBetween, FindsTheBytesBetweenTheMarkers) {
    const BetweenCase cases[] = {
        {"<a>x</a>", "<a>", "</a>", 0, false, "x"},
        {"a1a2a3", "a", "a", 0, false, "1"},
        {"a1a2a3", "a", "a", -4, false, "1"},
        {"a1a2a3", "a", "a", 3, false, "2"}, // 1-based start
        {"a1a2a3", "a", "a", 7, false, ""},  // start past the end
        {"no left here", "<", ">", 0, false, ""},
        {"<left but no right", "<", ">", 0, false, ""},
        {"ab", "a", "b", 0, false, ""},                            // right follows left at once
        {"k=\"v\";", gbk("k=#引号"), gbk("#引号"), 0, false, "v"}, // #引号 stands for a quote
        {"SET-cookie: x;", "set-COOKIE:", ";", 0, false, ""},
        {"SET-cookie: x;", "set-COOKIE:", ";", 0, true, " x"},
        {"<B>y</b>", "<b>", "</B>", 0, true, "y"},
        // 0x81 0x5B is one character: its second byte is not a "[".
        {"\x81[a][b]", "[", "]", 0, false, "b"},
        // Start on the second byte of a character: the scan begins after it.
        {"\x81x1x2x", "x", "x", 2, false, "2"},
        // Case folding never touches the second byte of a character.
        {"\xB0s=1;s=2;", "S=", ";", 0, true, "2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_between(c.text, c.left, c.right, c.start, c.ignore_case), c.expected)
            << c.text << " | " << c.left << " | " << c.right << " | " << c.start;
}

TEST(IgnoringCase, ReplacesEveryOccurrenceAtCharacterBoundaries) {
    EXPECT_EQ(replace_ignoring_case("set-cookie: a\r\nSET-COOKIE: b\r\nSet-Cookie: c", "Set-Cookie",
                                    "Set-Cookie"),
              "Set-Cookie: a\r\nSet-Cookie: b\r\nSet-Cookie: c");
    EXPECT_EQ(replace_ignoring_case("X: set-cookiE;Set-Cookie:v", "set-cookie:", ""),
              "X: set-cookiE;v");
    // "\xB0S" is one character, so no match begins at its second byte.
    EXPECT_EQ(replace_ignoring_case("\xB0Set-Cookie", "Set-Cookie", "Z"), "\xB0Set-Cookie");
    EXPECT_EQ(find_ignoring_case("\xB0Set-Cookie set-cookie", "SET-COOKIE"), 12u);
    EXPECT_EQ(find_ignoring_case("abc", "d"), std::string::npos);
}

} // namespace
} // namespace kestrova::http
