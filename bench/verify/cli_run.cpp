#include "cli_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace kestrova::bench {

namespace {

using Clock = std::chrono::steady_clock;

void write_address_list(const std::vector<FarmProxy>& proxies, const std::string& path) {
    std::ofstream list(path, std::ios::trunc);
    for (const FarmProxy& proxy : proxies)
        list << proxy.address << '\n';
}

pid_t spawn_cli(const CliSettings& settings, const std::string& list, const std::string& out) {
    std::vector<std::string> words = {settings.program,
                                      "check",
                                      "--threads",
                                      std::to_string(settings.threads),
                                      "--timeout",
                                      std::to_string(settings.timeout_ms),
                                      "--probe-url",
                                      settings.probe_url,
                                      "--format",
                                      "tsv",
                                      "--quiet",
                                      "--output",
                                      out,
                                      list};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, settings.program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

// "address<TAB>usable|unusable<TAB>ms" per line.
std::map<std::string, bool> verdicts_in(const std::string& path) {
    std::map<std::string, bool> verdicts;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::size_t next = line.find('\t', tab + 1);
        verdicts[line.substr(0, tab)] = line.substr(tab + 1, next - tab - 1) == "usable";
    }
    return verdicts;
}

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

} // namespace

CliRunResult run_cli(const std::vector<FarmProxy>& proxies, const CliSettings& settings) {
    CliRunResult result;
    const std::string list = settings.work_prefix + ".list";
    const std::string out = settings.work_prefix + ".tsv";
    write_address_list(proxies, list);
    const auto started = Clock::now();
    const pid_t pid = spawn_cli(settings, list, out);
    if (pid < 0)
        return result;
    const auto cap = started + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(settings.time_cap_seconds));
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t ended = wait4(pid, &status, WNOHANG, &usage);
        if (ended == pid)
            break;
        if ((ended < 0 && errno != EINTR) || Clock::now() > cap) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.wall_seconds = std::chrono::duration<double>(Clock::now() - started).count();
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.peak_resident_kb = usage.ru_maxrss;
    result.usable_by_address = verdicts_in(out);
    std::remove(list.c_str());
    std::remove(out.c_str());
    return result;
}

} // namespace kestrova::bench
