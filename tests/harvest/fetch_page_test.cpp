// fetch_page against loopback servers only.
#include "harvest/fetch_page.h"
#include "page_server.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrova::harvest;
using namespace kestrova::harvest_test;
using kestrova::test_support::LoopbackServer;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(FetchPage, SendsOneHttp10GetWithTheBrowserHeaders) {
    LoopbackServer server(pages({{"/list.txt?page=2", Reply::text("1.2.3.4:80\r\n")}}));
    const std::string address = "http://user:secret@" + server.host_port() + "/list.txt?page=2#top";

    EXPECT_EQ(fetch_page(address), "1.2.3.4:80\r\n");

    ASSERT_EQ(server.requests().size(), 1u);
    const auto request = server.requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_EQ(request.target, "/list.txt?page=2");
    EXPECT_EQ(request.header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
    EXPECT_EQ(request.header("Accept"), "*/*");
    EXPECT_EQ(request.header_count("Accept"), 1u);
    EXPECT_EQ(request.header("Authorization"), "Basic dXNlcjpzZWNyZXQ="); // user:secret
    EXPECT_EQ(request.header("Pragma"), "no-cache");
    EXPECT_TRUE(request.body.empty());
}

TEST(FetchPage, GivesTheBodyWhateverTheStatus) {
    for (int status : {200, 404, 500}) {
        SCOPED_TRACE(status);
        LoopbackServer server(
            pages({{"/", Reply::text("body " + std::to_string(status), status)}}));
        EXPECT_EQ(fetch_page(server.url("/")), "body " + std::to_string(status));
    }
}

TEST(FetchPage, FollowsRedirects) {
    LoopbackServer server(pages({{"/old", Reply::redirect(302, "/newer")},
                                 {"/newer", Reply::redirect(301, "/new")},
                                 {"/new", Reply::text("5.6.7.8:8080")}}));
    EXPECT_EQ(fetch_page(server.url("/old")), "5.6.7.8:8080");
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST(FetchPage, NeverGoesThroughAProxy) {
    LoopbackServer proxy([](const auto&) { return Reply::text("from the proxy"); });
    LoopbackServer site(pages({{"/", Reply::text("from the site")}}));
    const std::string proxy_address = "http://" + proxy.host_port();
    const char* variables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"};
    for (const char* name : variables)
        setenv(name, proxy_address.c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");

    const std::string page = fetch_page(site.url("/"));

    for (const char* name : variables)
        unsetenv(name);
    EXPECT_EQ(page, "from the site");
    EXPECT_EQ(proxy.connections_accepted(), 0u);
}

TEST(FetchPage, UpperCaseSchemeIsFetched) {
    LoopbackServer server(pages({{"/", Reply::text("page")}}));
    EXPECT_EQ(fetch_page("HTTP://" + server.host_port() + "/"), "page");
}

TEST(FetchPage, GivesNothingForAnAddressItCannotFetch) {
    LoopbackServer server([](const auto&) { return Reply::text("page"); });
    const std::string host = server.host_port();
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(kestrova::test_support::unused_port()) + "/";
    const std::string addresses[] = {
        "",
        "no address at all",
        host + "/",                 // no scheme
        "ftp://" + host + "/",      // not http
        "file:///etc/hostname",     // not http
        "http://",                  // no host
        "#http://" + host + "/",    // all fragment
        " http://" + host + "/",    // not trimmed
        "http://" + host + "/a\nb", // a line break inside
        "https://" + host + "/",    // TLS to a plain server
        refused,                    // nothing listens
    };
    FetchBounds quick;
    quick.connect = 2s;
    quick.idle = 2s;
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        EXPECT_EQ(fetch_page(address, quick), "");
    }
}

TEST(FetchPage, ReadingThatFailsHalfWayGivesTheBytesReadSoFar) {
    LoopbackServer server(pages({{"/", cut_off("1.2.3.4:80\r\n", 1000)}}));
    EXPECT_EQ(fetch_page(server.url("/")), "1.2.3.4:80\r\n");
}

TEST(FetchPage, ServerThatNeverAnswersIsLeftAfterTheIdleBound) {
    LoopbackServer server([](const auto&) { return Reply::hang(); });
    FetchBounds bounds;
    bounds.idle = 1s;
    const auto start = Clock::now();
    EXPECT_EQ(fetch_page(server.url("/"), bounds), "");
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(FetchPage, TricklingServerIsLeftAfterTheTotalBoundWithWhatCame) {
    LoopbackServer server([](const auto&) { return Reply::drip(100ms); });
    FetchBounds bounds;
    bounds.idle = 2s;
    bounds.total = 1500ms;
    const auto start = Clock::now();
    const std::string page = fetch_page(server.url("/"), bounds);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_FALSE(page.empty());
    EXPECT_EQ(page, std::string(page.size(), 'x'));
}

TEST(FetchPage, EndlessBodyIsCutAtTheSizeBound) {
    LoopbackServer server([](const auto&) { return Reply::endless("1.2.3.4:80\r\n"); });
    FetchBounds bounds;
    bounds.max_body = std::size_t{1} << 20;
    const auto start = Clock::now();
    const std::string page = fetch_page(server.url("/"), bounds);
    EXPECT_LT(Clock::now() - start, 20s);
    ASSERT_EQ(page.size(), bounds.max_body);
    EXPECT_EQ(page.substr(0, 24), "1.2.3.4:80\r\n1.2.3.4:80\r\n");
}

TEST(FetchPage, SeveralFetchesAtOnce) {
    LoopbackServer server([](const auto& request) {
        Reply reply = Reply::text("page " + request.target);
        reply.delay = 200ms;
        return reply;
    });
    std::vector<std::string> pages(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < pages.size(); ++i)
        threads.emplace_back(
            [&, i] { pages[i] = fetch_page(server.url("/" + std::to_string(i))); });
    for (auto& thread : threads)
        thread.join();
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(pages[i], "page /" + std::to_string(i));
}

} // namespace
