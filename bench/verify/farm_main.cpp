// proxy_farm: the local proxy farm as a program of its own, so any front end
// (the verification benchmark, kestrova-cli, xargs + curl) can run against the
// same proxies. Writes the truth file once every proxy listens, prints one
// "ready" line and serves until SIGINT or SIGTERM.
#include "farm_args.h"
#include "truth_file.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <map>
#include <unistd.h>

using namespace kestrova::bench;

namespace {

constexpr unsigned long descriptors_besides_listeners = 4096;

void print_usage() {
    std::fprintf(stderr,
                 "usage: proxy_farm --truth FILE [options]\n"
                 "Serves simulated HTTP proxies on 127.x.y.z until SIGINT or SIGTERM.\n%s",
                 farm_option_help());
}

bool parse_arguments(int argc, char** argv, FarmOptions& options, std::string& truth_path) {
    for (int i = 1; i < argc; i += 2) {
        const std::string_view name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "proxy_farm: %s needs a value\n", argv[i]);
            return false;
        }
        const std::string_view value = argv[i + 1];
        std::string error;
        if (name == "--truth")
            truth_path = value;
        else if (!take_farm_option(name, value, options, error))
            error = "unknown option " + std::string(name);
        if (!error.empty()) {
            std::fprintf(stderr, "proxy_farm: %s\n", error.c_str());
            return false;
        }
    }
    return !truth_path.empty();
}

void print_summary(const ProxyFarm& farm, const std::string& truth_path) {
    std::map<std::string, int> counts;
    for (const FarmProxy& proxy : farm.proxies())
        ++counts[behaviour_name(proxy.behaviour)];
    std::string mix;
    for (const auto& [name, count] : counts)
        mix += " " + name + "=" + std::to_string(count);
    std::printf("proxy_farm: %zu proxies on %zu server threads (endless bodies at %zu kB/s, 0: "
                "unpaced), probe page %s\n"
                "proxy_farm: behaviours%s\nproxy_farm: truth in %s\nproxy_farm: ready\n",
                farm.proxies().size(), farm.options().loops,
                farm.options().endless_bytes_per_second / 1024, farm.probe_url().c_str(),
                mix.c_str(), truth_path.c_str());
    std::fflush(stdout);
}

int serve(const FarmOptions& options, const std::string& truth_path) {
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    // Blocked before the server threads start, so only sigwait sees them.
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    ProxyFarm farm(options);
    if (!write_truth(truth_path, truth_of(farm, static_cast<long>(getpid())))) {
        std::fprintf(stderr, "proxy_farm: cannot write %s\n", truth_path.c_str());
        return 1;
    }
    print_summary(farm, truth_path);
    int signal = 0;
    sigwait(&stop_signals, &signal);
    std::printf("proxy_farm: stopping after %zu connections\n", farm.connections_accepted());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    FarmOptions options;
    std::string truth_path;
    if (!parse_arguments(argc, argv, options, truth_path)) {
        print_usage();
        return 2;
    }
    if (!ensure_open_files(options.count + descriptors_besides_listeners, "proxy_farm"))
        return 1;
    try {
        return serve(options, truth_path);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "proxy_farm: %s\n", error.what());
        return 1;
    }
}
