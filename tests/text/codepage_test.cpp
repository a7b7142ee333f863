// Conversions between UTF-8, UTF-16 and code page 936. Bytes are spelled out
// in hex so that the tests do not lean on the converter they check.
#include "text/codepage.h"
#include "text/text.h"

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using namespace kestrova::text;
using namespace std::string_literals;

const std::string marker_cp936 = "\xB0\xD9\xB6\xC8\xD2\xBB\xCF\xC2";                // 百度一下
const std::string marker_utf8 = "\xE7\x99\xBE\xE5\xBA\xA6\xE4\xB8\x80\xE4\xB8\x8B"; // 百度一下

std::string hex(std::string_view bytes) {
    std::string out;
    for (unsigned char byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", byte);
        out += two;
    }
    return out;
}

std::string hex(std::u16string_view units) {
    std::string out;
    for (char16_t unit : units) {
        char four[6];
        std::snprintf(four, sizeof four, "%04X ", static_cast<unsigned>(unit));
        out += four;
    }
    return out;
}

TEST(Utf8ToAnsi, ConvertsAndReplacesWhatItCannotRead) {
    const std::pair<std::string, std::string> cases[] = {
        {marker_utf8, marker_cp936},
        {"abc\r\n", "abc\r\n"},
        {"", ""},
        {"\xE2\x82\xAC", "\x80"}, // the euro sign is 0x80 in code page 936
        {"\xEF\xBC\xA1\xEF\xBC\x91\xE3\x80\x80",
         "\xA3\xC1\xA3\xB1\xA1\xA1"}, // Ａ１ and ideographic space
        // Invalid UTF-8: one '?' for each longest start of a sequence.
        {"a\xFF"
         "b",
         "a?b"},
        {"a\xE4\xBD"
         "b",
         "a?b"},                      // cut off inside the text
        {"ab\xE4\xBD", "ab?"},        // cut off at the end
        {"ab\xF0\x9F\x98", "ab?"},    // four-byte sequence cut off at the end
        {"\xC0\x80", "??"},           // overlong NUL
        {"\xED\xA0\x80", "???"},      // an encoded surrogate
        {"\xF4\x90\x80\x80", "????"}, // beyond U+10FFFF
        {"\x80\xBF"
         "x",
         "??x"},                               // stray continuation bytes
        {"\xE4\xBD\xE5\xBA\xA6", "?\xB6\xC8"}, // the good character after a cut-off one survives
        // Characters code page 936 cannot hold: one '?' each.
        {"a\xF0\x9F\x98\x80"
         "b",
         "a?b"},               // U+1F600, a surrogate pair in UTF-16
        {"\xEF\xBF\xBD", "?"}, // U+FFFD itself
        {"\xEF\xBB\xBF"
         "a",
         "?a"},            // a byte-order mark is a character too
        {"ab\0cd"s, "ab"}, // the text ends at its NUL byte
    };
    for (const auto& [utf8, cp936] : cases) {
        SCOPED_TRACE(hex(utf8));
        EXPECT_EQ(hex(utf8_to_ansi(utf8)), hex(cp936));
    }
}

TEST(Utf8ToAnsi, FindsTheMarkerInAPage) {
    const std::string page = "<!DOCTYPE html><title>" + marker_utf8 +
                             "\xEF\xBC\x8C\xE4\xBD\xA0\xE5\xB0\xB1" // ，你就
                             "\xF0\x9F\x98\x80</title><input value=\"" +
                             marker_utf8 + "\">";
    const std::string converted = utf8_to_ansi(page);
    EXPECT_TRUE(contains(converted, marker_cp936)) << hex(converted);
    EXPECT_EQ(kestrova::text::find(converted, marker_cp936), 22u);
    EXPECT_FALSE(contains(utf8_to_ansi(marker_cp936), marker_cp936)); // not UTF-8
}

struct DecodeCase {
    std::string bytes;
    CodePage page;
    std::u16string wide;
};

TEST(DecodeToWide, ReplacesInvalidInputWithReplacementCharacter) {
    const DecodeCase cases[] = {
        {marker_utf8, CodePage::utf8, u"\u767E\u5EA6\u4E00\u4E0B"},
        {"", CodePage::utf8, u""},
        {"a\xFF"
         "b",
         CodePage::utf8, u"a\uFFFDb"},
        {"a\xE4\xBD"
         "b",
         CodePage::utf8, u"a\uFFFDb"},
        {"ab\xE4\xBD", CodePage::utf8, u"ab\uFFFD"},
        {"\xED\xA0\x80", CodePage::utf8, u"\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x9F\x98\x80", CodePage::utf8, u"\U0001F600"},
        {"a\0b"s, CodePage::utf8, u"a"},
        {marker_cp936, CodePage::gbk, u"\u767E\u5EA6\u4E00\u4E0B"},
        {"\x80", CodePage::gbk, u"\u20AC"},
        {"\xA3\xB1\xA1\xA1", CodePage::gbk, u"\uFF11\u3000"},
        // 0x81 cannot begin a character with 0x0D: it alone is replaced and
        // the CR LF after it is read afresh.
        {"\x81\r\n", CodePage::gbk, u"\uFFFD\r\n"},
        {"\xFF"
         "a",
         CodePage::gbk, u"\uFFFDa"},
        {"ab\xB0", CodePage::gbk, u"ab\uFFFD"}, // cut off at the end
        {"a\0\xB0\xA1"s, CodePage::gbk, u"a"},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(hex(c.bytes) + (c.page == CodePage::gbk ? "in 936" : "in UTF-8"));
        EXPECT_EQ(hex(decode_to_wide(c.bytes, c.page)), hex(c.wide));
    }
}

struct EncodeCase {
    std::u16string wide;
    CodePage page;
    std::string bytes;
};

TEST(EncodeFromWide, ReplacesWhatThePageCannotHoldWithQuestionMark) {
    const EncodeCase cases[] = {
        {u"\u767E\u5EA6\u4E00\u4E0B", CodePage::gbk, marker_cp936},
        {u"", CodePage::gbk, ""},
        {u"\u20AC", CodePage::gbk, "\x80"},
        {u"a\U0001F600b", CodePage::gbk, "a?b"}, // one '?' for the pair
        {u"\uFFFD", CodePage::gbk, "?"},
        {u"a\xD800"
         u"b",
         CodePage::gbk, "a?b"}, // unpaired high surrogate
        {u"a\xDC00"
         u"b",
         CodePage::gbk, "a?b"},                 // unpaired low surrogate
        {u"a\xD800", CodePage::gbk, "a?"},      // high surrogate at the end
        {u"\xDC00\xD800", CodePage::gbk, "??"}, // a pair in the wrong order
        {u"ab\0cd"s, CodePage::gbk, "ab"},
        {u"\u767E", CodePage::utf8, "\xE7\x99\xBE"},
        {u"a\U0001F600", CodePage::utf8, "a\xF0\x9F\x98\x80"},
        {u"a\xD800"
         u"b",
         CodePage::utf8, "a?b"},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(hex(c.wide) + (c.page == CodePage::gbk ? "to 936" : "to UTF-8"));
        EXPECT_EQ(hex(encode_from_wide(c.wide, c.page)), hex(c.bytes));
    }
}

TEST(AnsiToUtf8, ConvertsAndReplacesInvalidBytes) {
    EXPECT_EQ(ansi_to_utf8(marker_cp936), marker_utf8);
    EXPECT_EQ(ansi_to_utf8("\x81\r"), "\xEF\xBF\xBD\r");
    EXPECT_EQ(ansi_to_utf8("a\x81\x40"
                           "b"),
              "a\xE4\xB8\x82"
              "b"); // an ASCII trail byte
    EXPECT_EQ(ansi_to_utf8("x\0\xB0\xD9"s), "x");
    EXPECT_EQ(ansi_to_utf8(""), "");
    // Each bad byte grows to three: far more output than input.
    const std::string bad(5000, '\xFF');
    std::string replaced;
    for (std::size_t i = 0; i < bad.size(); ++i)
        replaced += "\xEF\xBF\xBD";
    EXPECT_EQ(ansi_to_utf8(bad), replaced);
}

TEST(RoundTrip, TextsThePagesCanHoldComeBackUnchanged) {
    const std::string cp936_texts[] = {
        marker_cp936,
        "\xBF\xC9\xD2\xD4\xD3\xC3", // 可以用
        "IP\xB4\xFA\xC0\xED [1.2.3.4:80] \xB2\xBB\xBF\xC9\xD3\xC3\r\n",
        "\x80 \xA3\xC1\xA3\xC2\xA3\xC3\xA3\xB1\xA3\xB2\xA3\xB3\xA1\xA1",
    };
    for (const std::string& text : cp936_texts) {
        SCOPED_TRACE(hex(text));
        EXPECT_EQ(encode_from_wide(decode_to_wide(text, CodePage::gbk)), text);
        EXPECT_EQ(utf8_to_ansi(ansi_to_utf8(text)), text);
    }
    const std::string utf8_texts[] = {marker_utf8, "plain", "\xF0\x9F\x98\x80\xC3\xA9\xE2\x82\xAC"};
    for (const std::string& text : utf8_texts) {
        SCOPED_TRACE(hex(text));
        EXPECT_EQ(encode_from_wide(decode_to_wide(text), CodePage::utf8), text);
    }
}

TEST(RoundTrip, LongTextsSurviveWhole) {
    std::string utf8;
    std::string cp936;
    std::string back;
    for (int i = 0; i < 100000; ++i) {
        utf8 += marker_utf8 + "<a href=\"x\">\xF0\x9F\x98\x80\xFF";
        cp936 += marker_cp936 + "<a href=\"x\">??";
        back += marker_utf8 + "<a href=\"x\">??";
    }
    EXPECT_EQ(utf8_to_ansi(utf8), cp936);
    EXPECT_EQ(ansi_to_utf8(cp936), back);
    EXPECT_EQ(decode_to_wide(cp936, CodePage::gbk).size(), 100000u * (4 + 14));
}

// The direct UTF-8 to code page 936 conversion must give exactly what the two
// steps give, including on every short invalid sequence.
TEST(Utf8ToAnsi, EqualsDecodeThenEncode) {
    std::vector<std::string> inputs;
    for (int first = 1; first < 256; ++first)
        for (int second = 0; second < 256; ++second)
            inputs.push_back({static_cast<char>(first), static_cast<char>(second)});
    const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90,
                                   0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    const unsigned char leads[] = {0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5};
    for (unsigned char lead : leads)
        for (unsigned char b : edges)
            for (unsigned char c : edges)
                for (unsigned char d : edges)
                    inputs.push_back(std::string{'x', static_cast<char>(lead), static_cast<char>(b),
                                                 static_cast<char>(c), static_cast<char>(d), 'y'});
    int mismatches = 0;
    for (const std::string& input : inputs) {
        const std::string direct = utf8_to_ansi(input);
        const std::string two_steps = encode_from_wide(decode_to_wide(input));
        if (direct != two_steps && ++mismatches <= 5)
            ADD_FAILURE() << hex(input) << "direct " << hex(direct) << "two steps "
                          << hex(two_steps);
    }
    EXPECT_EQ(mismatches, 0);
}

// Probes convert on hundreds of threads at once.
TEST(Conversions, RunOnManyThreadsAtOnce) {
    const std::string page = "<p>" + marker_utf8 + "\xFF\xF0\x9F\x98\x80</p>";
    const std::string expected = "<p>" + marker_cp936 +
                                 "?"
                                 "?</p>";
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 64; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (utf8_to_ansi(page) != expected || ansi_to_utf8(marker_cp936) != marker_utf8 ||
                    decode_to_wide(marker_cp936, CodePage::gbk).size() != 4)
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
