// kestrova-cli harvest, end to end, against pages on a loopback server.
#include "cli_fixture.h"

#include <map>

namespace kestrova::cli_test {
namespace {

class HarvestCommand : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        std::map<std::string, Reply> pages = {
            {"/a.txt", Reply::text("1.1.1.1:80\r\n2.2.2.2:8080 and 3.3.3.3:3128\n")},
            {"/b.html", Reply::text("<td>2.2.2.2:8080</td><td>4.4.4.4:1080</td>1.1.1.1:80")},
            {"/none", Reply::text("nothing here")},
        };
        port_ = loop.listen("127.0.0.1", 0, [pages](const test_support::ReceivedRequest& r) {
            auto found = pages.find(r.target);
            return found != pages.end() ? found->second : Reply::text("missing", 404);
        });
        ASSERT_NE(port_, 0);
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::uint16_t port_ = 0;
};

TEST_F(HarvestCommand, PrintsEveryMatchAndOneLinePerPage) {
    const std::string refused = "http://" + refused_address() + "/list";
    CliResult run = run_cli({"harvest", url("/a.txt"), refused, url("/b.html"), url("/none")});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "1.1.1.1:80\n2.2.2.2:8080\n3.3.3.3:3128\n"
                       "2.2.2.2:8080\n4.4.4.4:1080\n1.1.1.1:80\n");
    EXPECT_EQ(run.err, url("/a.txt") + ": 3 matches\n" + refused + ": 0 matches\n" +
                           url("/b.html") + ": 3 matches\n" + url("/none") + ": 0 matches\n");
}

TEST_F(HarvestCommand, UniqueKeepsTheFirstOfEachMatch) {
    CliResult run = run_cli({"harvest", "--unique", url("/a.txt"), url("/b.html")});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "1.1.1.1:80\n2.2.2.2:8080\n3.3.3.3:3128\n4.4.4.4:1080\n");
    EXPECT_EQ(run.err,
              url("/a.txt") + ": 3 matches (3 new)\n" + url("/b.html") + ": 3 matches (1 new)\n");
}

// The sources file follows the list import rules (CR LF, blank lines left
// out) and comes before the addresses given as arguments.
TEST_F(HarvestCommand, TakesPagesFromASourcesFileAndAPattern) {
    const std::string sources = write_file("sources.txt", url("/b.html") + "\r\n\r\n");
    CliResult run = run_cli({"harvest", "--pattern", R"(\d+\.\d+\.\d+\.\d+:(80|1080)\b)",
                             "--sources", sources, url("/a.txt")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "4.4.4.4:1080\n1.1.1.1:80\n1.1.1.1:80\n");
    EXPECT_EQ(run.err, url("/b.html") + ": 2 matches\n" + url("/a.txt") + ": 1 matches\n");
}

TEST_F(HarvestCommand, CtrlCEndsItWithWholeLines) {
    test_support::LoopbackServer stuck(
        [](const test_support::ReceivedRequest&) { return Reply::hang(); });
    CliProcess process({"harvest", url("/a.txt"), stuck.url("/slow")});
    for (int i = 0; i < 200 && stuck.requests().empty(); ++i)
        process.still_running_after(50ms);
    ASSERT_EQ(stuck.requests().size(), 1u);
    process.send_interrupt();
    CliResult run = process.finish(5s);
    EXPECT_EQ(run.exit_code, 130);
    EXPECT_EQ(run.out, "1.1.1.1:80\n2.2.2.2:8080\n3.3.3.3:3128\n");
}

} // namespace
} // namespace kestrova::cli_test
