// End-to-end runs of kestrova-cli: simulated proxies on loopback addresses in
// front of a probe page, and list files in a temporary folder.
#pragma once

#include "cli_process.h"
#include "support/loopback_server.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace kestrova::cli_test {

using test_support::Reply;

/// The probe page of a working proxy: UTF-8, with the marker.
inline std::string probe_page() {
    return "<html><head><meta charset=utf-8></head><body><input value=\"百度一下\"></body></html>";
}

/// The arguments every check needs to stay on loopback: the probe page's
/// address is only ever sent to the simulated proxies.
inline std::vector<std::string> check_args(std::vector<std::string> more) {
    std::vector<std::string> args = {"check", "--probe-url", "http://probe.kestrova.test/"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

/// Replaces every run of digits after `prefix` with "MS", after checking
/// each is at most `max_ms`: the measured times vary, the rest is exact.
inline std::string mask_milliseconds(const std::string& text, const std::string& prefix,
                                     long max_ms) {
    std::regex figure(prefix + "([0-9]+)");
    std::string masked;
    auto last = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), figure), end; it != end; ++it) {
        EXPECT_LE(std::stol((*it)[1].str()), max_ms) << text;
        masked.append(last, (*it)[0].first).append(prefix).append("MS");
        last = (*it)[0].second;
    }
    return masked.append(last, text.cend());
}

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("kestrova-cli-test-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    /// A proxy on its own loopback address (127.0.0.2, .3, ...).
    std::string add_proxy(Reply reply) {
        std::string address = "127.0.0." + std::to_string(2 + next_proxy_++ % 250);
        auto handler = test_support::simulated_proxy(
            [reply](const test_support::ReceivedRequest&) { return reply; });
        std::uint16_t port = loop.listen(address, 0, handler);
        EXPECT_NE(port, 0);
        return address + ":" + std::to_string(port);
    }
    std::string add_good_proxy(std::chrono::milliseconds delay = 0ms) {
        Reply reply = Reply::text(probe_page());
        reply.delay = delay;
        return add_proxy(reply);
    }
    /// Answers, but without the marker.
    std::string add_bad_proxy() { return add_proxy(Reply::text("<html>no marker</html>")); }
    /// Takes the request and never answers.
    std::string add_hanging_proxy() { return add_proxy(Reply::hang()); }
    /// Nothing listens there.
    static std::string refused_address() {
        return "127.0.0.1:" + std::to_string(test_support::unused_port("127.0.0.1"));
    }

    /// The proxies that have received a request so far ("127.0.0.2:4000").
    std::set<std::string> contacted() const {
        std::set<std::string> addresses;
        for (const test_support::ReceivedRequest& request : loop.requests())
            addresses.insert(request.local_address + ":" + std::to_string(request.local_port));
        return addresses;
    }

    std::string write_file(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    std::string path_of(const std::string& name) const { return (folder_ / name).string(); }
    static std::string read_file(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    test_support::ServerLoop loop;

private:
    std::filesystem::path folder_;
    int next_proxy_ = 0;
};

/// Lines of `text` split at LF.
inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace kestrova::cli_test
