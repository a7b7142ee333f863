// Requests through proxies: a simulated one that records what it receives,
// and a real one (tinyproxy) in front of a loopback server.
#include "http/http_request.h"
#include "support/loopback_server.h"
#include "support/tinyproxy.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrova::http {
namespace {

using test_support::LoopbackServer;
using test_support::ReceivedRequest;
using test_support::Reply;
using test_support::Tinyproxy;

/// An address on loopback that nothing listens on: if a request skipped
/// the proxy, it would be refused here and never leave the machine.
std::string unreachable_site(std::string_view path) {
    return "http://127.0.0.1:" + std::to_string(test_support::unused_port()) + std::string(path);
}

LoopbackServer simulated_proxy(std::string page) {
    return LoopbackServer(test_support::simulated_proxy(
        [page = std::move(page)](const ReceivedRequest&) { return Reply::text(page); }));
}

TEST(SimulatedProxy, ReceivesTheAbsoluteFormRequest) {
    auto proxy = simulated_proxy("page via proxy");
    const std::string url = unreachable_site("/probe?x=1");
    for (const std::string& address : {proxy.host_port(), "http://" + proxy.host_port()}) {
        int status = 0;
        EXPECT_EQ(http_request({.url = url, .status = &status, .proxy = address}),
                  "page via proxy");
        EXPECT_EQ(status, 200);
        const ReceivedRequest received = proxy.requests().back();
        EXPECT_EQ(received.target, url);
        EXPECT_EQ(received.header("Proxy-Authorization"), "");
    }
}

TEST(SimulatedProxy, CredentialsGoToTheProxyOnlyWithAProxy) {
    auto proxy = simulated_proxy("ok");
    http_request({.url = unreachable_site("/"),
                  .proxy = proxy.host_port(),
                  .proxy_user = "alice",
                  .proxy_password = "s3cret",
                  .proxy_credential_flag = 0});
    // base64("alice:s3cret")
    EXPECT_EQ(proxy.requests().back().header("Proxy-Authorization"), "Basic YWxpY2U6czNjcmV0");

    LoopbackServer site([](const ReceivedRequest& request) { return Reply::echo(request); });
    http_request({.url = site.url(), .proxy_user = "alice", .proxy_password = "s3cret"});
    EXPECT_EQ(site.requests().back().header_count("Proxy-Authorization"), 0u);
    EXPECT_EQ(site.requests().back().target, "/");
}

TEST(SimulatedProxy, UnknownProxySchemeFails) {
    auto proxy = simulated_proxy("ok");
    RequestReport report;
    int status = -1;
    EXPECT_EQ(http_request({.url = unreachable_site("/"),
                            .status = &status,
                            .proxy = "gopher://" + proxy.host_port(),
                            .report = &report}),
              "");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(report.failed);
}

TEST(SimulatedProxy, ManyProxiesOnLoopbackAddressesShareOneLoop) {
    using namespace std::chrono_literals;
    test_support::ServerLoop farm;
    const auto good = test_support::simulated_proxy([](const ReceivedRequest&) {
        Reply reply = Reply::text("probe page");
        reply.delay = 50ms;
        return reply;
    });
    const std::uint16_t good_port = farm.listen("127.0.0.2", 0, good);
    const std::uint16_t garbage_port =
        farm.listen("127.0.0.3", 0, [](const ReceivedRequest&) { return Reply::garbage(); });
    const std::uint16_t silent_port =
        farm.listen("127.0.0.4", 0, [](const ReceivedRequest&) { return Reply::hang(); });
    ASSERT_NE(good_port, 0);
    const std::string url = unreachable_site("/");
    const auto through = [&url](const std::string& host, std::uint16_t port) {
        return http_request(
            {.url = url, .proxy = host + ":" + std::to_string(port), .timeout_seconds = 1});
    };
    EXPECT_EQ(through("127.0.0.2", good_port), "probe page");
    EXPECT_EQ(through("127.0.0.3", garbage_port), "");
    EXPECT_EQ(through("127.0.0.4", silent_port), "");
    const auto received = farm.requests();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].local_address, "127.0.0.2");
    EXPECT_EQ(received[2].local_address, "127.0.0.4");
}

/// Sets proxy variables for the length of a test and restores them.
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::string& proxy) {
        for (const char* name : names)
            setenv(name, proxy.c_str(), 1);
    }
    ~ProxyEnvironment() {
        for (const char* name : names)
            unsetenv(name);
    }

private:
    static constexpr const char* names[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                            "HTTPS_PROXY", "all_proxy",  "ALL_PROXY"};
};

TEST(SimulatedProxy, EnvironmentVariablesNeverApply) {
    auto environment_proxy = simulated_proxy("from the environment's proxy");
    auto chosen_proxy = simulated_proxy("from the chosen proxy");
    LoopbackServer site([](const ReceivedRequest&) { return Reply::text("direct"); });
    ProxyEnvironment environment("http://" + environment_proxy.host_port());

    EXPECT_EQ(http_request({.url = site.url()}), "direct");
    EXPECT_EQ(http_request({.url = site.url(), .proxy = chosen_proxy.host_port()}),
              "from the chosen proxy");
    EXPECT_TRUE(environment_proxy.requests().empty());
}

class RealProxy : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Tinyproxy::installed())
            GTEST_SKIP() << Tinyproxy::binary << " is not installed (Debian package tinyproxy)";
    }

    LoopbackServer site{[](const ReceivedRequest& request) { return Reply::echo(request); }};
};

TEST_F(RealProxy, RequestGoesThroughTinyproxy) {
    auto proxy = Tinyproxy::start();
    ASSERT_TRUE(proxy.has_value()) << "tinyproxy did not start";
    int status = 0;
    const std::string body = http_request({.url = site.url("/through"),
                                           .status = &status,
                                           .proxy = proxy->host_port(),
                                           .timeout_seconds = 10});
    EXPECT_EQ(status, 200);
    ASSERT_EQ(site.requests().size(), 1u);
    const ReceivedRequest received = site.requests().front();
    EXPECT_EQ(received.target, "/through");
    EXPECT_NE(received.header("Via").find("kestrova-test-proxy"), std::string::npos);
    EXPECT_EQ(body, received.raw);
    EXPECT_NE(proxy->log().find("GET " + site.url("/through")), std::string::npos);
}

TEST_F(RealProxy, TinyproxyDemandsItsCredentials) {
    auto proxy = Tinyproxy::start({.user = "alice", .password = "s3cret"});
    ASSERT_TRUE(proxy.has_value()) << "tinyproxy did not start";
    struct Case {
        std::string user;
        std::string password;
        int status;
    };
    const Case cases[] = {{"", "", 407}, {"alice", "wrong", 401}, {"alice", "s3cret", 200}};
    for (const auto& c : cases) {
        // (tinyproxy answers a wrong password with 401 rather than 407)
        int status = 0;
        http_request({.url = site.url(),
                      .status = &status,
                      .proxy = proxy->host_port(),
                      .timeout_seconds = 10,
                      .proxy_user = c.user,
                      .proxy_password = c.password});
        EXPECT_EQ(status, c.status) << c.user << ":" << c.password;
    }
    EXPECT_EQ(site.requests().size(), 1u);
}

} // namespace
} // namespace kestrova::http
