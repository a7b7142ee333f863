// Measures http_request on this machine:
//  1. requests per second against a loopback server, reusing one request
//     object (keep-alive) and with a new object per request;
//  2. resident memory of the process while 1,000 threads are blocked at once
//     in http_request through a blackhole proxy.
// Usage: http_bench [blocked thread count (default 1000)]
#include "http/http_request.h"
#include "support/loopback_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrova;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int blocked_timeout_seconds = 6;

std::string cpu_model() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.starts_with("model name"))
            return line.substr(line.find(':') + 2);
    return "unknown";
}

/// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), or the thread count.
long status_field(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(name + ":"))
            return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    return -1;
}

long open_descriptors() {
    std::error_code error;
    long count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Throughput {
    int requests = 0;
    int failures = 0;
    double seconds = 0;
};

Throughput measure(int count, const std::string& url, http::RequestObject* shared) {
    Throughput result{count, 0, 0};
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        int status = 0;
        http::http_request(
            {.url = url, .status = &status, .timeout_seconds = 5, .shared_request_object = shared});
        result.failures += status == 200 ? 0 : 1;
    }
    result.seconds = seconds_since(start);
    return result;
}

void print(const char* what, const Throughput& t) {
    std::printf("  %-38s %6d requests in %6.2f s = %8.0f requests/s (%d failed)\n", what,
                t.requests, t.seconds, t.requests / t.seconds, t.failures);
}

void throughput() {
    test_support::LoopbackServer server([](const test_support::ReceivedRequest&) {
        return test_support::Reply::text(std::string(512, 'p'));
    });
    std::printf(
        "Requests per second against a loopback server (512-byte page, one client thread):\n");
    measure(200, server.url("/warm-up"), nullptr);
    http::RequestObject shared;
    print("shared request object (keep-alive)", measure(20'000, server.url("/"), &shared));
    print("new request object per request", measure(5'000, server.url("/"), nullptr));
    std::printf("  server accepted %zu connections in all\n", server.connections_accepted());
}

void blocked_threads(int count) {
    test_support::BlackholeListener proxy("127.0.0.1", 4096);
    const std::string url = "http://127.0.0.1:9/probe"; // reached only through the proxy
    std::printf("\n%d threads blocked at once in http_request through a blackhole proxy "
                "(timeout_seconds %d):\n",
                count, blocked_timeout_seconds);
    const long rss_before = status_field("VmRSS");
    std::atomic<int> started{0}, finished{0}, timed_out{0};
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(count));
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&] {
            ++started;
            http::RequestReport report;
            http::http_request({.url = url,
                                .proxy = proxy.host_port(),
                                .timeout_seconds = blocked_timeout_seconds,
                                .report = &report});
            timed_out += report.timed_out ? 1 : 0;
            ++finished;
        });
    while (started < count && seconds_since(start) < 30)
        std::this_thread::sleep_for(10ms);
    const double all_started = seconds_since(start);
    std::this_thread::sleep_for(2s); // let every request connect and send
    const long rss_blocked = status_field("VmRSS");
    const long threads_blocked = status_field("Threads");
    const long descriptors_blocked = open_descriptors();
    const int finished_early = finished;
    for (auto& thread : threads)
        thread.join();
    std::printf("  started in %.2f s; all returned after %.2f s; %d timed out, %d returned early\n",
                all_started, seconds_since(start), timed_out.load(), finished_early);
    // VmHWM is updated lazily by the kernel; the sample taken while blocked
    // can be the higher figure.
    const long peak = std::max(rss_blocked, status_field("VmHWM"));
    std::printf("  VmRSS before %ld kB, while blocked %ld kB (%ld threads), peak %ld kB\n",
                rss_before, rss_blocked, threads_blocked, peak);
    std::printf("  open file descriptors while blocked: %ld\n", descriptors_blocked);
    std::printf("  resident memory while blocked: %.1f MB (goal <= 150 MB)\n",
                rss_blocked / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::printf("Machine: %s, %u logical cores\n\n", cpu_model().c_str(),
                std::thread::hardware_concurrency());
    throughput();
    blocked_threads(count);
    return 0;
}
