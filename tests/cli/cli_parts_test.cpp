// The pure parts of kestrova-cli: reading a list, the result formats, the
// option parser and the progress texts.
#include "cli/check_results.h"
#include "cli/command_line.h"
#include "cli/input_list.h"
#include "cli/progress.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

namespace kestrova::cli {
namespace {

using Addresses = std::vector<std::string>;

std::string utf16be(const std::string& ascii) {
    std::string bytes = "\xFE\xFF";
    for (char c : ascii)
        bytes += std::string{'\0', c};
    return bytes;
}

TEST(AddressesFromBytes, FollowTheImportRules) {
    struct Case {
        std::string bytes;
        Addresses addresses;
        std::size_t blank_lines;
    };
    const Case cases[] = {
        {"a:1\r\nb:2\nc:3", {"a:1", "b:2", "c:3"}, 0},
        {"\xEF\xBB\xBF"
         "a:1\n",
         {"a:1"},
         0},
        {utf16be("a:1\nb"), {"a:1", "b"}, 0},
        {std::string("a:1\n\0\0", 6), {"a:1"}, 0},
        {"\n a:1 \n\t\n\xA1\xA1\n", {" a:1 ", "\xA1\xA1"}, 2},
        // A lead byte takes the next byte with it, even a CR.
        {"\xB0\r\nx", {"\xB0\r", "x"}, 0},
    };
    for (const Case& c : cases) {
        AddressList list = addresses_from_bytes(c.bytes);
        EXPECT_EQ(list.problem, "");
        EXPECT_EQ(list.addresses, c.addresses);
        EXPECT_EQ(list.blank_lines, c.blank_lines);
    }
}

TEST(AddressesFromBytes, RefuseBinaryAndEmptyInput) {
    struct Case {
        std::string bytes;
        std::string problem;
    };
    const Case cases[] = {
        {"", "no addresses"},
        {"\r\n \n", "no addresses, only blank lines"},
        {std::string("a:1\n\0b", 6), "binary data, not text (NUL byte at offset 4)"},
        {"a:1\nb\x07:2\n", "binary data, not text (byte 0x07 on line 2)"},
        {"a:1\rb:2\n", "binary data, not text (byte 0x0D on line 1)"},
        {"\x7F"
         "ELF",
         "binary data, not text (byte 0x7F on line 1)"},
    };
    for (const Case& c : cases) {
        AddressList list = addresses_from_bytes(c.bytes);
        EXPECT_EQ(list.problem, c.problem);
        EXPECT_TRUE(list.addresses.empty());
    }
}

TEST(FormatResults, WritesUtf8AndEscapesWhatEachFormatCannotHold) {
    const std::vector<CheckResult> results = {
        {text::gbk("代理") + ":80", true, 12},
        {"a\"b\\c\td", false, 0},
    };
    EXPECT_EQ(format_results(results, OutputFormat::txt), "代理:80\n");
    EXPECT_EQ(format_results(results, OutputFormat::tsv),
              "代理:80\tusable\t12\na\"b\\\\c\\td\tunusable\t0\n");
    EXPECT_EQ(format_results(results, OutputFormat::json),
              "[\n  {\"address\": \"代理:80\", \"usable\": true, \"milliseconds\": 12},\n"
              "  {\"address\": \"a\\\"b\\\\c\\td\", \"usable\": false, \"milliseconds\": 0}\n]\n");
    EXPECT_EQ(format_results({}, OutputFormat::json), "[]\n");
    EXPECT_EQ(json_string("\x01\n\r/"), "\"\\u0001\\n\\r/\"");
}

TEST(SortResults, LatencyPutsUsableFromTheFastestFirstAndKeepsTies) {
    std::vector<CheckResult> results = {
        {"u1", false, 5},   {"s300", true, 300}, {"u2", false, 1},
        {"s10a", true, 10}, {"s10b", true, 10},
    };
    sort_results(results, SortOrder::latency);
    std::vector<std::string> order;
    for (const CheckResult& result : results)
        order.push_back(result.address);
    EXPECT_EQ(order, (Addresses{"s10a", "s10b", "s300", "u1", "u2"}));
}

TEST(ParseArgs, TakesBothValueFormsAndEndsOptionsAtDoubleDash) {
    const OptionSpec options[] = {{"threads", true}, {"quiet", false}, {"help", false}};
    const std::vector<std::string> args = {"--threads=5", "--quiet", "-",       "--threads",
                                           "7",           "--",      "--quiet", "-h"};
    ParsedArgs parsed = parse_args(args, options);
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.value_or("threads", ""), "7");
    EXPECT_TRUE(parsed.has_flag("quiet"));
    EXPECT_FALSE(parsed.has_flag("help"));
    EXPECT_EQ(parsed.operands, (Addresses{"-", "--quiet", "-h"}));

    EXPECT_EQ(parse_args(std::vector<std::string>{"-q"}, options).error, "unknown option -q");
    EXPECT_EQ(parse_number("0010", 1, 20), 10);
    for (const char* bad : {"", "+5", " 5", "5 ", "21", "0", "99999999999999999999"})
        EXPECT_EQ(parse_number(bad, 1, 20), std::nullopt) << bad;
}

TEST(ProgressTexts, ShowFiguresRateAndTimeLeft) {
    EXPECT_EQ(progress_text({0, 8, 0, 0.0}), "[------------------------]  0/8  usable 0");
    EXPECT_EQ(progress_text({300, 1000, 12, 2.0}),
              "[#######-----------------]  300/1000  usable 12  150/s  left 0:05");
    EXPECT_TRUE(progress_text({1, 7201, 0, 1.0}).ends_with("  usable 0  1/s  left 2:00:00"));
    EXPECT_EQ(summary_text({1000, 1000, 12, 6.66}, false),
              "1000 of 1000 checked: 12 usable, 988 unusable, 6.7 s");
    EXPECT_EQ(summary_text({3, 10, 1, 0.5}, true),
              "interrupted: 3 of 10 checked: 1 usable, 2 unusable, 0.5 s");
}

} // namespace
} // namespace kestrova::cli
