// kestrova-cli on bad input: one clear line on standard error, nothing on
// standard output, the exit code of the fault, no probe sent, no hang.
#include "cli_fixture.h"

namespace kestrova::cli_test {
namespace {

class CliErrors : public CliFixture {};

TEST_F(CliErrors, BadInputGetsOneLineAndItsExitCode) {
    const std::string proxy = add_good_proxy();
    const std::string list = write_file("list.txt", proxy + "\n");
    const std::string empty = write_file("empty.txt", "");
    const std::string blank = write_file("blank.txt", "\r\n  \n\n");
    const std::string binary =
        write_file("image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    const std::string control = write_file("escapes.txt", proxy + "\n\x1b[31m" + proxy + "\n");
    const std::string not_a_folder = list + "/out.txt";
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int exit_code;
        std::string message; ///< the whole line, without "kestrova-cli COMMAND: "
    };
    const std::string usage = " (kestrova-cli check --help shows usage)";
    const Case cases[] = {
        {check_args({empty}), "", 1, empty + ": no addresses"},
        {check_args({}), "", 1, "standard input: no addresses"},
        {check_args({blank}), "", 1, blank + ": no addresses, only blank lines"},
        {check_args({binary}), "", 1, binary + ": binary data, not text (NUL byte at offset 8)"},
        {check_args({control}), "", 1, control + ": binary data, not text (byte 0x1B on line 2)"},
        {check_args({path_of("missing.txt")}), "", 1,
         "cannot read " + path_of("missing.txt") + ": No such file or directory"},
        {check_args({path_of("")}), "", 1, "cannot read " + path_of("") + ": is a folder"},
        {check_args({"--output", not_a_folder, list}), "", 1,
         "cannot write " + not_a_folder + ": Not a directory"},
        {check_args({"--threads", "0", list}), "", 2,
         "--threads takes a whole number from 1 to 10000, not \"0\"" + usage},
        {check_args({"--threads", "ten", list}), "", 2,
         "--threads takes a whole number from 1 to 10000, not \"ten\"" + usage},
        {check_args({"--threads=-3", list}), "", 2,
         "--threads takes a whole number from 1 to 10000, not \"-3\"" + usage},
        {check_args({"--timeout", "2s", list}), "", 2,
         "--timeout takes a whole number of milliseconds from 1 to 86400000, not \"2s\"" + usage},
        {{"check", "--probe-url", "probe page", list},
         "",
         2,
         "--probe-url \"probe page\" does not parse: Bad scheme" + usage},
        {{"check", "--probe-url", "http://", list},
         "",
         2,
         "--probe-url \"http://\" does not parse: No host part in the URL" + usage},
        {check_args({"--format", "xml", list}), "", 2, "--format takes txt, tsv or json" + usage},
        {check_args({"--sort", "speed", list}), "", 2, "--sort takes input or latency" + usage},
        {check_args({"--marker", "", list}), "", 2, "--marker must not be empty" + usage},
        {check_args({"--verbose", list}), "", 2, "unknown option --verbose" + usage},
        {check_args({list, list}), "", 2, "one input FILE at most" + usage},
        {check_args({"--threads"}), "", 2, "--threads needs a value" + usage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        CliResult run = run_cli(c.args, c.input, 10s);
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "kestrova-cli check: " + c.message + "\n");
    }
    EXPECT_TRUE(loop.requests().empty()) << "no probe goes out for bad input";
}

TEST_F(CliErrors, HarvestRefusesABadPatternAndAnUnreadableSourceList) {
    test_support::LoopbackServer page(
        [](const test_support::ReceivedRequest&) { return Reply::text("1.2.3.4:80"); });
    const std::string binary = write_file("sources.bin", std::string("abc\0def", 7));
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string message;
    };
    const std::string usage = " (kestrova-cli harvest --help shows usage)";
    const Case cases[] = {
        {{"harvest", "--pattern", "(\\d+", page.url()},
         2,
         "invalid regular expression \"(\\d+\"" + usage},
        {{"harvest", "--pattern", "[", page.url()}, 2, "invalid regular expression \"[\"" + usage},
        {{"harvest", "--sources", path_of("none.txt")},
         1,
         "cannot read " + path_of("none.txt") + ": No such file or directory"},
        {{"harvest", "--sources", binary},
         1,
         binary + ": binary data, not text (NUL byte at offset 3)"},
        {{"harvest", "--unique=yes", page.url()}, 2, "--unique takes no value" + usage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        CliResult run = run_cli(c.args, "", 10s);
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "kestrova-cli harvest: " + c.message + "\n");
    }
    EXPECT_TRUE(page.requests().empty());
}

TEST_F(CliErrors, UnknownCommandShowsUsage) {
    CliResult run = run_cli({"verify", "list.txt"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_TRUE(run.err.starts_with("usage: kestrova-cli check [options] [FILE]\n")) << run.err;
    EXPECT_EQ(run.out, "");
}

} // namespace
} // namespace kestrova::cli_test
