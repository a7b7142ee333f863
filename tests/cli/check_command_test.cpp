// kestrova-cli check, end to end: the built program against simulated
// proxies on loopback addresses.
#include "cli_fixture.h"

#include <thread>

namespace kestrova::cli_test {
namespace {

class CheckCommand : public CliFixture {};

// A good, a bad, a refused and another good proxy in every format.
TEST_F(CheckCommand, WritesEachFormatExactly) {
    const std::string good = add_good_proxy(), bad = add_bad_proxy(), refused = refused_address(),
                      fast = add_good_proxy();
    const std::string list =
        write_file("list.txt", good + "\n" + bad + "\n" + refused + "\n" + fast + "\n");
    struct Case {
        std::string format;
        std::string expected; ///< milliseconds masked as MS
    };
    const Case cases[] = {
        {"txt", good + "\n" + fast + "\n"},
        {"tsv", good + "\tusable\tMS\n" + bad + "\tunusable\tMS\n" + refused + "\tunusable\tMS\n" +
                    fast + "\tusable\tMS\n"},
        {"json", "[\n  {\"address\": \"" + good +
                     "\", \"usable\": true, \"milliseconds\": MS},\n  {\"address\": \"" + bad +
                     "\", \"usable\": false, \"milliseconds\": MS},\n  {\"address\": \"" + refused +
                     "\", \"usable\": false, \"milliseconds\": MS},\n  {\"address\": \"" + fast +
                     "\", \"usable\": true, \"milliseconds\": MS}\n]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        CliResult run = run_cli(check_args({"--format", c.format, list}));
        EXPECT_EQ(run.exit_code, 0) << run.err;
        const std::string figure_prefix = c.format == "json" ? "\"milliseconds\": " : "\t";
        EXPECT_EQ(mask_milliseconds(run.out, figure_prefix, 5000), c.expected);
        EXPECT_TRUE(std::regex_match(
            run.err, std::regex("4 of 4 checked: 2 usable, 2 unusable, [0-9]+\\.[0-9] s\n")))
            << run.err;
    }
}

TEST_F(CheckCommand, SortsByLatencyUsableFromTheFastestThenUnusable) {
    const std::string refused = refused_address(), slow = add_good_proxy(900ms),
                      quick = add_good_proxy(), middle = add_good_proxy(450ms),
                      bad = add_bad_proxy();
    const std::string list =
        write_file("list.txt", refused + "\n" + slow + "\n" + quick + "\n" + middle + "\n" + bad);
    CliResult run = run_cli(check_args({"--sort", "latency", "--format", "tsv", list}));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::vector<std::string> lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    std::vector<std::string> order;
    std::vector<long> times;
    for (const std::string& line : lines) {
        order.push_back(line.substr(0, line.find('\t')));
        times.push_back(std::stol(line.substr(line.rfind('\t') + 1)));
    }
    EXPECT_EQ(order, (std::vector<std::string>{quick, middle, slow, refused, bad}));
    EXPECT_LT(times[0], 400);
    EXPECT_GE(times[1], 450);
    EXPECT_GE(times[2], 900);
}

// Standard input under the list import rules: LF and CR LF, a UTF-8
// byte-order mark, UTF-16 with a byte-order mark, NUL padding at the end.
TEST_F(CheckCommand, ReadsStandardInputUnderTheImportRules) {
    const std::string first = add_good_proxy(), second = add_good_proxy();
    auto utf16le = [](const std::string& ascii) {
        std::string bytes = "\xFF\xFE";
        for (char c : ascii)
            bytes += std::string{c, '\0'};
        return bytes;
    };
    const std::string inputs[] = {
        first + "\r\n" + second + "\n",
        "\xEF\xBB\xBF" + first + "\n" + second,
        utf16le(first + "\r\n" + second + "\r\n"),
        first + "\n" + second + "\n" + std::string(3, '\0'),
    };
    for (const std::string& input : inputs) {
        CliResult run = run_cli(check_args({"--format", "tsv"}), input);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(mask_milliseconds(run.out, "\t", 5000),
                  first + "\tusable\tMS\n" + second + "\tusable\tMS\n");
    }
    CliResult dash = run_cli(check_args({"-"}), first + "\n");
    EXPECT_EQ(dash.out, first + "\n");
}

// Blank lines are left out, with one line saying so; the rest is checked.
TEST_F(CheckCommand, SkipsBlankLinesAndSaysSo) {
    const std::string good = add_good_proxy();
    CliResult run = run_cli(check_args({"--quiet"}), "\n" + good + "\n  \n\t\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, good + "\n");
    EXPECT_EQ(run.err, "kestrova-cli check: skipped 3 blank lines (the first is line 1)\n");
}

TEST_F(CheckCommand, WritesTheOutputFileAndHonoursThreadsAndMarker) {
    const std::string other_marker = add_proxy(Reply::text("<p>Kestrova probe 探针</p>"));
    const std::string standard = add_good_proxy();
    const std::string output = write_file("out.json", "old content that must go");
    CliResult run = run_cli(check_args({"--marker", "探针", "--threads", "1", "--timeout", "900",
                                        "--output", output, "--format", "json", "--quiet", "-"}),
                            other_marker + "\n" + standard + "\n");
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(mask_milliseconds(read_file(output), "\"milliseconds\": ", 5000),
              "[\n  {\"address\": \"" + other_marker +
                  "\", \"usable\": true, \"milliseconds\": MS},\n  {\"address\": \"" + standard +
                  "\", \"usable\": false, \"milliseconds\": MS}\n]\n");
}

// The first Ctrl-C stops launching, waits for the probes out and writes
// every result; the proxies never contacted are left out.
TEST_F(CheckCommand, FirstInterruptKeepsEveryResultCheckedSoFar) {
    std::vector<std::string> fast, slow;
    for (int i = 0; i < 3; ++i)
        fast.push_back(add_good_proxy());
    for (int i = 0; i < 12; ++i)
        slow.push_back(add_good_proxy(1500ms));
    std::string input;
    for (const auto* group : {&fast, &slow})
        for (const std::string& address : *group)
            input += address + "\n";
    CliProcess process(check_args({"--threads", "3", "--timeout", "10000", "--format", "tsv"}),
                       input);
    auto slow_ones_out = [&] {
        std::set<std::string> seen = contacted();
        return std::count_if(slow.begin(), slow.end(),
                             [&](const std::string& a) { return seen.contains(a); });
    };
    for (int i = 0; i < 200 && slow_ones_out() < 3; ++i)
        process.still_running_after(50ms);
    ASSERT_EQ(slow_ones_out(), 3);
    process.send_interrupt();
    CliResult run = process.finish(15s);

    EXPECT_EQ(run.exit_code, 130);
    std::set<std::string> written;
    for (const std::string& line : lines_of(run.out)) {
        EXPECT_NE(line.find("\tusable\t"), std::string::npos) << line;
        written.insert(line.substr(0, line.find('\t')));
    }
    EXPECT_EQ(written, contacted());
    EXPECT_EQ(written.size(), 6u);
    EXPECT_TRUE(run.err.starts_with("interrupted: 6 of 15 checked: 6 usable, 0 unusable, "))
        << run.err;
}

// The second Ctrl-C ends at once, with the results known until then.
TEST_F(CheckCommand, SecondInterruptEndsAtOnceWithWhatIsKnown) {
    const std::string good = add_good_proxy(), other = add_good_proxy();
    std::vector<std::string> hanging = {add_hanging_proxy(), add_hanging_proxy()};
    CliProcess process(check_args({"--threads", "4", "--timeout", "30000"}),
                       good + "\n" + hanging[0] + "\n" + other + "\n" + hanging[1] + "\n");
    for (int i = 0; i < 200 && contacted().size() < 4; ++i)
        process.still_running_after(50ms);
    ASSERT_EQ(contacted().size(), 4u);
    process.still_running_after(300ms); // the two good ones report
    process.send_interrupt();
    EXPECT_TRUE(process.still_running_after(500ms)) << "the first waits for the probes out";
    process.send_interrupt();
    const auto second = std::chrono::steady_clock::now();
    CliResult run = process.finish(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - second, 2s);
    EXPECT_EQ(run.exit_code, 130);
    EXPECT_EQ(run.out, good + "\n" + other + "\n");
    EXPECT_TRUE(run.err.starts_with("interrupted: 2 of 4 checked: 2 usable, 0 unusable, "))
        << run.err;
}

// On a terminal standard error carries a redrawn progress line, then the
// summary on a line of its own.
TEST_F(CheckCommand, DrawsProgressOnlyOnATerminal) {
    std::string input;
    for (int i = 0; i < 4; ++i)
        input += add_good_proxy(500ms) + "\n";
    CliProcess on_terminal(check_args({"--threads", "1"}), input, true);
    CliResult run = on_terminal.finish(20s);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.err.find("\r[######------------------]  1/4  usable 1  "), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("/s  left 0:0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\r\x1b[K4 of 4 checked: 4 usable, 0 unusable, "), std::string::npos)
        << run.err;

    CliProcess quiet(check_args({"--threads", "4", "--quiet"}), input, true);
    EXPECT_EQ(quiet.finish(20s).err, "");
}

} // namespace
} // namespace kestrova::cli_test
