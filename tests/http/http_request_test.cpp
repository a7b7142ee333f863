// http_request against loopback servers: what goes on the wire, what comes
// back to the caller's variables.
#include "http/http_request.h"
#include "support/loopback_server.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace kestrova::http {
namespace {

using test_support::LoopbackServer;
using test_support::ReceivedRequest;
using test_support::Reply;

const std::string default_user_agent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

LoopbackServer echo_server() {
    return LoopbackServer([](const ReceivedRequest& request) { return Reply::echo(request); });
}

/// Header names of a request that http_request sets, in the order received.
std::vector<std::string> names_of(const ReceivedRequest& request) {
    std::vector<std::string> names;
    for (const auto& [name, value] : request.headers)
        if (name != "Host")
            names.push_back(name);
    return names;
}

TEST(DefaultHeaders, AreAddedInOrderAndWrittenBackToTheCaller) {
    const std::string url = "http://127.0.0.1:1/page?q=1";
    EXPECT_EQ(with_default_headers("", url),
              "Accept: */*\r\nReferer: " + url + "\r\nAccept-Language: zh-cn\r\nUser-Agent: " +
                  default_user_agent + "\r\nContent-Type: application/x-www-form-urlencoded");
}

TEST(DefaultHeaders, LabelsAreCaseSensitiveSubstrings) {
    struct Case {
        std::string given;
        std::string expected_start;
        bool has_default_referer;
    };
    const std::string tail = "\r\nAccept-Language: zh-cn\r\nUser-Agent: " + default_user_agent +
                             "\r\nContent-Type: application/x-www-form-urlencoded";
    const Case cases[] = {
        {"Referer: x", "Referer: x\r\nAccept: */*\r\nAccept-Language", false},
        {"referer: x", "referer: x\r\nAccept: */*\r\nReferer: U", true},
        {"accept: text/html", "accept: text/html\r\nAccept: */*\r\nReferer: U", true},
        {"X-Note: Accept: anything", "X-Note: Accept: anything\r\nReferer: U", true},
    };
    for (const auto& c : cases) {
        const std::string result = with_default_headers(c.given, "U");
        EXPECT_TRUE(result.starts_with(c.expected_start)) << result;
        EXPECT_TRUE(result.ends_with(tail)) << result;
        EXPECT_EQ(result.find("Referer: U") != std::string::npos, c.has_default_referer) << result;
    }
    const std::string all_five =
        "Accept: a Referer: b Accept-Language: c User-Agent: d Content-Type: e";
    EXPECT_EQ(with_default_headers(all_five, "U"), all_five);
}

TEST(HttpRequest, SendsTheCookieBeforeTheHeaderLinesAndTheDefaultsInOrder) {
    auto server = echo_server();
    std::string cookies = "sid = 7";
    std::string headers;
    int status = -1;
    const std::string body = http_request(
        {.url = server.url("/p"), .cookies = &cookies, .headers = &headers, .status = &status});

    ASSERT_EQ(status, 200);
    EXPECT_EQ(headers, with_default_headers("", server.url("/p")));
    const ReceivedRequest sent = server.requests().at(0);
    EXPECT_EQ(body, sent.raw);
    const std::vector<std::string> expected{"Cookie",          "Accept",     "Referer",
                                            "Accept-Language", "User-Agent", "Content-Type"};
    EXPECT_EQ(names_of(sent), expected);
    EXPECT_EQ(sent.header("Cookie"), "sid = 7"); // sent as given, merged afterwards
    EXPECT_EQ(sent.header("User-Agent"), default_user_agent);
    EXPECT_EQ(cookies, "sid=7");
}

TEST(HttpRequest, CallersLowerCaseLabelGoesBesideTheDefault) {
    auto server = echo_server();
    std::string headers = "accept: text/html";
    http_request({.url = server.url(), .headers = &headers});
    const ReceivedRequest sent = server.requests().at(0);
    EXPECT_EQ(sent.header_count("Accept"), 2u);
}

TEST(HttpRequest, SkipsHeaderLinesItCannotSendAndGoesOn) {
    auto server = echo_server();
    std::string headers =
        "no colon\r\n\r\nBad Name: 1\r\nX-Inject: 1\nEvil: 2\r\nX-Empty:\r\nX-Good: yes";
    int status = 0;
    http_request({.url = server.url(), .headers = &headers, .status = &status});
    ASSERT_EQ(status, 200);
    const ReceivedRequest sent = server.requests().at(0);
    EXPECT_EQ(sent.header("X-Good"), "yes");
    EXPECT_EQ(sent.header_count("X-Empty"), 1u);
    EXPECT_EQ(sent.header_count("Evil"), 0u);
    EXPECT_EQ(sent.header_count("X-Inject"), 0u);
    EXPECT_EQ(sent.header_count("Bad Name"), 0u);
}

TEST(HttpRequest, MapsMethodNumbers) {
    auto server = echo_server();
    const std::pair<int, std::string> cases[] = {
        {0, "GET"}, {1, "POST"}, {2, "HEAD"}, {3, "GET"}, {-1, "GET"}};
    for (const auto& [method, name] : cases) {
        int status = 0;
        const std::string body =
            http_request({.url = server.url(), .method = method, .status = &status});
        EXPECT_EQ(server.requests().back().method, name) << method;
        EXPECT_EQ(status, 200);
        EXPECT_EQ(body.empty(), name == "HEAD") << method;
    }
}

TEST(HttpRequest, SendsTheByteBodyBeforeTheTextBody) {
    struct Case {
        int method;
        std::string post_text;
        std::string post_bytes;
        std::string wire_method;
        std::string body;
        std::string content_length;
    };
    const Case cases[] = {
        {1, "a=1", std::string(1, '\xff'), "POST", std::string(1, '\xff'), "1"},
        {1, "a=1", "", "POST", "a=1", "3"},
        {1, "", "", "POST", "", "0"},
        {1, "", std::string("\0\x01\x02", 3), "POST", std::string("\0\x01\x02", 3), "3"},
        {0, "", "", "GET", "", ""},
        {0, "q=1", "", "GET", "q=1", "3"},
        {2, "h=1", "", "HEAD", "", ""}, // HEAD never carries a body
    };
    auto server = echo_server();
    for (const auto& c : cases) {
        int status = 0;
        http_request({.url = server.url(),
                      .method = c.method,
                      .post_text = c.post_text,
                      .status = &status,
                      .post_bytes = c.post_bytes});
        const ReceivedRequest sent = server.requests().back();
        EXPECT_EQ(status, 200);
        EXPECT_EQ(sent.method, c.wire_method);
        EXPECT_EQ(sent.body, c.body) << c.method << " " << c.post_text;
        EXPECT_EQ(sent.header("Content-Length"), c.content_length)
            << c.method << " " << c.post_text;
        EXPECT_EQ(sent.header_count("Expect"), 0u);
    }
}

TEST(TimeoutMapping, GivesEachPhaseTheWholeTime) {
    const std::pair<int, std::optional<PhaseTimeouts>> cases[] = {
        {0, PhaseTimeouts{15000, 15000, 15000, 60000}},
        {-5, PhaseTimeouts{15000, 15000, 15000, 60000}},
        {2, PhaseTimeouts{2000, 2000, 2000, 8000}},
        {-1, std::nullopt},
    };
    for (const auto& [seconds, expected] : cases)
        EXPECT_EQ(phase_timeouts_for(seconds), expected) << seconds;
    EXPECT_EQ(HttpRequest{}.timeout_seconds, 0); // omitted reads as 0: 15 s
}

TEST(TimeoutMapping, SharedObjectKeepsWhatAnEarlierRequestSet) {
    auto server = echo_server();
    RequestObject fresh;
    EXPECT_EQ(fresh.timeouts(), default_timeouts);
    http_request({.url = server.url(), .timeout_seconds = -1, .shared_request_object = &fresh});
    EXPECT_EQ(fresh.timeouts(), default_timeouts);

    RequestObject shared;
    http_request({.url = server.url(), .timeout_seconds = 2, .shared_request_object = &shared});
    EXPECT_EQ(shared.timeouts(), (PhaseTimeouts{2000, 2000, 2000, 8000}));
    http_request({.url = server.url(), .timeout_seconds = -1, .shared_request_object = &shared});
    EXPECT_EQ(shared.timeouts(), (PhaseTimeouts{2000, 2000, 2000, 8000}));
}

Reply with_headers(std::vector<std::pair<std::string, std::string>> headers) {
    Reply reply = Reply::text("cookies");
    reply.headers = std::move(headers);
    return reply;
}

TEST(SetCookie, LinesInAnyCaseAreNormalisedAndMerged) {
    LoopbackServer server([](const ReceivedRequest&) {
        return with_headers({{"set-cookie", "a=1; path=/"},
                             {"SET-COOKIE", "b=2"},
                             {"Access-Control-Expose-Headers", "Set-Cookie"}});
    });
    std::string cookies;
    std::string response_cookies = "stale";
    std::string response_headers;
    http_request({.url = server.url(),
                  .cookies = &cookies,
                  .response_cookies = &response_cookies,
                  .response_headers = &response_headers});
    EXPECT_NE(response_headers.find("Set-Cookie: a=1; path=/\r\n"), std::string::npos);
    EXPECT_NE(response_headers.find("Set-Cookie: b=2\r\n"), std::string::npos);
    EXPECT_EQ(response_headers.find("set-cookie"), std::string::npos);
    EXPECT_FALSE(response_headers.starts_with("HTTP/"));
    EXPECT_EQ(response_cookies, "a=1;b=2");
    EXPECT_EQ(cookies, "a=1; b=2");
}

TEST(SetCookie, NewValuesReplaceOldOnesAndDeletionsRemoveThem) {
    LoopbackServer server([](const ReceivedRequest&) {
        return with_headers({{"Set-Cookie", "b=3; HttpOnly"}, {"Set-Cookie", "c=deleted; path=/"}});
    });
    std::string cookies = "a=1; b=2; c=5";
    http_request({.url = server.url(), .cookies = &cookies});
    EXPECT_EQ(cookies, "b=3; a=1");
}

TEST(SetCookie, WithoutSetCookieTheCookieTextIsOnlyNormalised) {
    auto server = echo_server();
    std::string cookies = "x = 1 ; y=2";
    std::string response_cookies = "stale";
    http_request({.url = server.url(), .cookies = &cookies, .response_cookies = &response_cookies});
    EXPECT_EQ(response_cookies, "");
    EXPECT_EQ(cookies, "x=1; y=2");
}

TEST(SetCookie, PairsAreTakenFromEachLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n", "a=1; b=2"},
        {"Content-Type: text/html\r\n", ""},
        {"Set-Cookie:\r\nSet-Cookie: b=2\r\n", "; b=2"}, // an empty pair still counts
        {"Set-Cookie: x=Set-Cookie:y\r\n", "x=y"},
        {"Vary: Set-Cookie\r\nSet-Cookie: s=1;\r\n", "s=1"},
    };
    for (const auto& [headers, expected] : cases)
        EXPECT_EQ(cookies_from_headers(headers), expected) << headers;
}

TEST(HttpRequest, ReturnsErrorPagesWithTheirStatus) {
    LoopbackServer server([](const ReceivedRequest&) { return Reply::text("missing", 404); });
    int status = 0;
    RequestReport report;
    EXPECT_EQ(http_request({.url = server.url(), .status = &status, .report = &report}), "missing");
    EXPECT_EQ(status, 404);
    EXPECT_FALSE(report.failed);
}

LoopbackServer redirecting_server() {
    return LoopbackServer([](const ReceivedRequest& request) {
        if (request.target == "/start")
            return Reply::redirect(302, "/final");
        if (request.target == "/loop")
            return Reply::redirect(302, "/loop");
        if (request.target == "/file")
            return Reply::redirect(302, "file:///etc/passwd");
        return Reply::text("final page");
    });
}

TEST(Redirects, AreFollowedUnlessRefused) {
    auto server = redirecting_server();
    int status = 0;
    std::string response_headers;
    EXPECT_EQ(http_request({.url = server.url("/start"),
                            .response_headers = &response_headers,
                            .status = &status}),
              "final page");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(response_headers.find("Location"), std::string::npos); // the final response only

    EXPECT_EQ(http_request({.url = server.url("/start"),
                            .response_headers = &response_headers,
                            .status = &status,
                            .no_redirect = true}),
              "moved");
    EXPECT_EQ(status, 302);
    EXPECT_NE(response_headers.find("Location: /final"), std::string::npos);
}

TEST(Redirects, EndlessChainsAndOtherSchemesFail) {
    auto server = redirecting_server();
    for (const char* path : {"/loop", "/file"}) {
        int status = -1;
        RequestReport report;
        EXPECT_EQ(http_request({.url = server.url(path), .status = &status, .report = &report}),
                  "");
        EXPECT_EQ(status, 0) << path;
        EXPECT_TRUE(report.failed) << path;
    }
    EXPECT_LE(server.requests().size(), 1u + 10u + 1u);
}

TEST(SharedObject, KeepsTheConnectionAlive) {
    auto server = echo_server();
    RequestObject shared;
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(http_request({.url = server.url(), .shared_request_object = &shared}).empty());
    EXPECT_EQ(server.connections_accepted(), 1u);

    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(http_request({.url = server.url()}).empty());
    EXPECT_EQ(server.connections_accepted(), 3u);
}

TEST(SharedObject, KeepsSettingsOfEarlierRequests) {
    auto server = redirecting_server();
    RequestObject shared;
    int status = 0;
    http_request({.url = server.url("/start"),
                  .status = &status,
                  .no_redirect = true,
                  .shared_request_object = &shared});
    EXPECT_EQ(status, 302);
    // Nothing resets the object: redirects stay off for its next request.
    http_request(
        {.url = server.url("/start"), .status = &status, .shared_request_object = &shared});
    EXPECT_EQ(status, 302);
}

TEST(SharedObject, WithoutAnObjectEveryReadFailsButVariablesAreWritten) {
    RequestObject none(nullptr);
    std::string cookies = "a = 1";
    std::string response_cookies = "x";
    std::string headers;
    std::string response_headers = "x";
    int status = -1;
    RequestReport report;
    EXPECT_EQ(http_request({.url = "http://127.0.0.1:1/",
                            .cookies = &cookies,
                            .response_cookies = &response_cookies,
                            .headers = &headers,
                            .response_headers = &response_headers,
                            .status = &status,
                            .shared_request_object = &none,
                            .report = &report}),
              "");
    EXPECT_EQ(cookies, "a=1");
    EXPECT_EQ(response_cookies, "");
    EXPECT_EQ(headers, with_default_headers("", "http://127.0.0.1:1/"));
    EXPECT_EQ(response_headers, "");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(report.failed);
}

TEST(HttpRequest, ManyThreadsAtOnceEachGetTheirOwnAnswer) {
    LoopbackServer server([](const ReceivedRequest& request) {
        return with_headers({{"Set-Cookie", "t=" + request.target.substr(1)}});
    });
    constexpr int thread_count = 40;
    std::vector<std::string> cookies(thread_count);
    std::vector<int> statuses(thread_count);
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i)
        threads.emplace_back([&, i] {
            http_request({.url = server.url("/" + std::to_string(i)),
                          .cookies = &cookies[i],
                          .status = &statuses[i],
                          .timeout_seconds = 10});
        });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < thread_count; ++i) {
        EXPECT_EQ(statuses[i], 200);
        EXPECT_EQ(cookies[i], "t=" + std::to_string(i));
    }
}

} // namespace
} // namespace kestrova::http
