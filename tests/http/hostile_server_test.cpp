// Servers and proxies that misbehave: every request still ends, within its
// time budget, without a crash, with an empty body and status 0 where no
// response came back.
#include "http/http_request.h"
#include "support/loopback_server.h"
#include "support/socket_util.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestrova::http {
namespace {

using namespace std::chrono_literals;
using test_support::BlackholeListener;
using test_support::LoopbackServer;
using test_support::ReceivedRequest;
using test_support::Reply;

/// A generous bound: the budget is 1 s, slow machines and sanitizers get
/// the rest.
constexpr std::int64_t one_second_budget_limit_ms = 4000;

struct Outcome {
    std::string body;
    int status = -1;
    RequestReport report;
};

Outcome request(HttpRequest arguments) {
    Outcome outcome;
    arguments.status = &outcome.status;
    arguments.report = &outcome.report;
    outcome.body = http_request(arguments);
    return outcome;
}

void expect_timed_out_after_about_a_second(const Outcome& outcome) {
    EXPECT_EQ(outcome.body, "");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.report.failed);
    EXPECT_TRUE(outcome.report.timed_out) << outcome.report.error;
    EXPECT_GE(outcome.report.elapsed_ms, 900);
    EXPECT_LT(outcome.report.elapsed_ms, one_second_budget_limit_ms);
}

TEST(HostileServer, DripTimesOutAfterTheReceiveBudget) {
    // A byte every 200 ms: a time-out per read would never fire.
    LoopbackServer server([](const ReceivedRequest&) { return Reply::drip(200ms); });
    expect_timed_out_after_about_a_second(request({.url = server.url(), .timeout_seconds = 1}));
}

TEST(HostileServer, SilentServerTimesOut) {
    LoopbackServer server([](const ReceivedRequest&) { return Reply::hang(); });
    expect_timed_out_after_about_a_second(request({.url = server.url(), .timeout_seconds = 1}));
}

TEST(HostileServer, BlackholeProxyTimesOut) {
    BlackholeListener proxy;
    const std::string url = "http://127.0.0.1:" + std::to_string(test_support::unused_port()) + "/";
    expect_timed_out_after_about_a_second(
        request({.url = url, .proxy = proxy.host_port(), .timeout_seconds = 1}));
}

TEST(HostileServer, ServerThatNeverReadsBoundsTheSendPhase) {
    BlackholeListener server;
    const std::string body(std::size_t{64} << 20, 'b'); // far beyond the socket buffers
    expect_timed_out_after_about_a_second(request({.url = "http://" + server.host_port() + "/",
                                                   .method = 1,
                                                   .post_bytes = body,
                                                   .timeout_seconds = 1}));
}

TEST(HostileServer, FullBacklogBoundsTheConnectPhase) {
    // A listener that never accepts, with its backlog already full: the
    // kernel drops further connection attempts.
    std::uint16_t port = 0;
    const int listener = test_support::listening_socket("127.0.0.1", 0, 0, &port);
    ASSERT_GE(listener, 0);
    for (int i = 0; i < 4; ++i)
        test_support::can_connect("127.0.0.1", port, 100);
    std::vector<int> holders;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where);
        holders.push_back(fd);
    }
    std::this_thread::sleep_for(100ms);
    const Outcome outcome =
        request({.url = "http://127.0.0.1:" + std::to_string(port) + "/", .timeout_seconds = 1});
    for (int fd : holders)
        ::close(fd);
    ::close(listener);
    expect_timed_out_after_about_a_second(outcome);
}

TEST(HostileServer, EachHopOfARedirectHasItsOwnReceiveBudget) {
    LoopbackServer server([](const ReceivedRequest& request) {
        Reply reply =
            request.target == "/first" ? Reply::redirect(302, "/second") : Reply::text("there");
        reply.delay = 600ms;
        return reply;
    });
    const Outcome outcome = request({.url = server.url("/first"), .timeout_seconds = 1});
    EXPECT_EQ(outcome.body, "there");
    EXPECT_EQ(outcome.status, 200);
    EXPECT_GE(outcome.report.elapsed_ms, 1200);
}

TEST(HostileServer, SlowButTimelyAnswerArrives) {
    LoopbackServer server([](const ReceivedRequest&) {
        Reply reply = Reply::text("late");
        reply.delay = 300ms;
        return reply;
    });
    const Outcome outcome = request({.url = server.url(), .timeout_seconds = 1});
    EXPECT_EQ(outcome.body, "late");
    EXPECT_GE(outcome.report.elapsed_ms, 300);
    EXPECT_FALSE(outcome.report.failed);
}

TEST(HostileServer, NoHttpResponseFailsAtOnce) {
    const std::pair<const char*, Reply> cases[] = {
        {"garbage", Reply::garbage()},
        {"closed without a byte", Reply::close()},
        {"truncated body",
         [] {
             Reply reply;
             reply.raw = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this";
             return reply;
         }()},
        {"header line of 2 MiB",
         [] {
             Reply reply = Reply::text("x");
             reply.headers.emplace_back("X-Huge", std::string(std::size_t{2} << 20, 'h'));
             return reply;
         }()},
        {"20000 header lines",
         [] {
             Reply reply = Reply::text("x");
             for (int i = 0; i < 20000; ++i)
                 reply.headers.emplace_back("X-" + std::to_string(i), std::string(80, 'v'));
             return reply;
         }()},
    };
    for (const auto& [name, reply] : cases) {
        LoopbackServer server([reply](const ReceivedRequest&) { return reply; });
        std::string response_headers = "x";
        const Outcome outcome = request(
            {.url = server.url(), .response_headers = &response_headers, .timeout_seconds = 5});
        EXPECT_EQ(outcome.body, "") << name;
        EXPECT_EQ(outcome.status, 0) << name;
        EXPECT_EQ(response_headers, "") << name;
        EXPECT_TRUE(outcome.report.failed) << name;
        EXPECT_LT(outcome.report.elapsed_ms, 3000) << name;
    }
}

TEST(HostileServer, UnusableAddressesFailQuietly) {
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test_support::unused_port()) + "/";
    for (const std::string& url :
         {refused, std::string(), std::string("http://"), std::string("ftp://127.0.0.1/"),
          std::string("file:///etc/passwd"), std::string("http://[::1"),
          std::string("http://127.0.0.1:99999/"), std::string("http://127.0.0.1/\r\nX: y"),
          std::string("a\0b", 3)}) {
        const Outcome outcome = request({.url = url, .timeout_seconds = 2});
        EXPECT_EQ(outcome.body, "") << url;
        EXPECT_EQ(outcome.status, 0) << url;
        EXPECT_TRUE(outcome.report.failed) << url;
        EXPECT_LT(outcome.report.elapsed_ms, 1500) << url;
    }
}

TEST(HostileServer, AddressWithANulByteIsNotCutShort) {
    LoopbackServer server([](const ReceivedRequest& request) { return Reply::echo(request); });
    const Outcome outcome = request({.url = server.url("/") + std::string(1, '\0') + "tail"});
    EXPECT_EQ(outcome.body, "");
    EXPECT_TRUE(outcome.report.failed);
    EXPECT_TRUE(server.requests().empty());
}

TEST(BodyCap, EndlessBodyStopsAtTheCapWithTheBytesSoFar) {
    LoopbackServer server([](const ReceivedRequest&) { return Reply::endless("0123456789"); });
    for (const std::size_t cap : {std::size_t{1000}, default_body_cap}) {
        HttpRequest arguments{.url = server.url(), .timeout_seconds = 10};
        arguments.body_cap = cap;
        const Outcome outcome = request(arguments);
        ASSERT_EQ(outcome.body.size(), cap);
        EXPECT_TRUE(outcome.body.starts_with("0123456789012"));
        EXPECT_EQ(outcome.status, 200);
        EXPECT_TRUE(outcome.report.body_capped);
        EXPECT_FALSE(outcome.report.failed);
    }
}

TEST(BodyCap, BodyOfExactlyTheCapIsWhole) {
    LoopbackServer server(
        [](const ReceivedRequest&) { return Reply::text(std::string(500, 'a')); });
    HttpRequest arguments{.url = server.url()};
    arguments.body_cap = 500;
    const Outcome outcome = request(arguments);
    EXPECT_EQ(outcome.body.size(), 500u);
    EXPECT_FALSE(outcome.report.body_capped);
}

TEST(BodyObserver, SeesTheBodyAsItArrivesAndMayStopIt) {
    LoopbackServer server([](const ReceivedRequest&) { return Reply::endless("....MARK...."); });
    std::string seen;
    HttpRequest arguments{.url = server.url(), .timeout_seconds = 5};
    arguments.body_observer = [&seen](std::string_view chunk) {
        seen.append(chunk);
        return seen.size() < 100'000;
    };
    arguments.keep_body = false;
    const Outcome outcome = request(arguments);
    EXPECT_EQ(outcome.body, ""); // nothing kept
    EXPECT_GE(seen.size(), 100'000u);
    EXPECT_LT(seen.size(), 100'000u + (1u << 20));
    EXPECT_EQ(seen.substr(0, 12), "....MARK....");
    EXPECT_EQ(outcome.status, 200);
    EXPECT_TRUE(outcome.report.stopped_by_observer);
    EXPECT_FALSE(outcome.report.failed);
}

TEST(BodyObserver, KeptBodyMatchesWhatTheObserverSaw) {
    LoopbackServer server(
        [](const ReceivedRequest&) { return Reply::text(std::string(300'000, 'z')); });
    std::string seen;
    HttpRequest arguments{.url = server.url()};
    arguments.body_observer = [&seen](std::string_view chunk) {
        seen.append(chunk);
        return true;
    };
    const Outcome outcome = request(arguments);
    EXPECT_EQ(outcome.body.size(), 300'000u);
    EXPECT_EQ(seen, outcome.body);
    EXPECT_FALSE(outcome.report.stopped_by_observer);
}

TEST(BodyObserver, ThatThrowsFailsTheRequestQuietly) {
    LoopbackServer server([](const ReceivedRequest&) { return Reply::text("body"); });
    HttpRequest arguments{.url = server.url()};
    arguments.body_observer = [](std::string_view) -> bool {
        throw std::runtime_error("observer");
    };
    const Outcome outcome = request(arguments);
    EXPECT_EQ(outcome.body, "");
    EXPECT_TRUE(outcome.report.failed);
}

} // namespace
} // namespace kestrova::http
