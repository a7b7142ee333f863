#include "curl_baseline.h"

#include "process_stats.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kestrova::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto poll_interval = std::chrono::milliseconds(50);

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string seconds_text(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string command_for(const BaselineSettings& settings, const std::string& list,
                        const std::string& out) {
    return "xargs -P " + std::to_string(settings.parallel) + " -n 1 sh -c 'if curl -x \"$1\" " +
           "--max-time " + seconds_text(settings.timeout_ms) + " -s " + settings.probe_url +
           " | grep -q 百度一下; then echo \"$1 可以用\"; else echo \"$1 不可用\"; fi' _ < " +
           list + " > " + out;
}

/// The environment without proxy settings (they would reroute or bypass
/// curl's -x), with byte-wise matching for grep.
std::vector<std::string> clean_environment() {
    std::vector<std::string> variables{"LC_ALL=C"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('='));
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!lower.ends_with("_proxy") && name != "LC_ALL")
            variables.push_back(variable);
    }
    return variables;
}

pid_t spawn_shell(const std::string& command) {
    std::vector<std::string> variables = clean_environment();
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string sh = "sh", dash_c = "-c", script = command;
    char* argv[] = {sh.data(), dash_c.data(), script.data(), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0); // a group of its own, to stop it whole
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, envp.data()) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    return pid;
}

std::size_t lines_in(const std::string& path) {
    std::ifstream in(path);
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

std::map<std::string, bool> answers_in(const std::string& path) {
    std::map<std::string, bool> answers;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        if (space != std::string::npos)
            answers[line.substr(0, space)] = line.substr(space + 1) == "可以用";
    }
    return answers;
}

/// Waits for the pipeline, printing progress; -1 when the cap ran out.
int wait_for_pipeline(pid_t pid, const BaselineSettings& settings, const std::string& out,
                      std::size_t total, Clock::time_point started) {
    auto next_report =
        started + std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(settings.progress_every_seconds));
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (ended < 0 && errno != EINTR)
            return -1;
        const auto now = Clock::now();
        if (seconds_between(started, now) > settings.time_cap_seconds) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return -1;
        }
        if (now >= next_report) {
            std::printf("    xargs+curl: %zu of %zu probed, %.0f s\n", lines_in(out), total,
                        seconds_between(started, now));
            std::fflush(stdout);
            next_report += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(settings.progress_every_seconds));
        }
        std::this_thread::sleep_for(poll_interval);
    }
}

} // namespace

BaselineResult run_curl_baseline(const std::vector<FarmProxy>& proxies,
                                 const BaselineSettings& settings) {
    BaselineResult result;
    const std::string list = settings.work_prefix + ".list";
    const std::string out = settings.work_prefix + ".out";
    {
        std::ofstream addresses(list, std::ios::trunc);
        for (const FarmProxy& proxy : proxies)
            addresses << proxy.address << '\n';
    }
    std::remove(out.c_str());
    result.command = command_for(settings, list, out);
    const double cpu_before = children_cpu_seconds();
    const auto started = Clock::now();
    const pid_t pid = spawn_shell(result.command);
    if (pid < 0)
        return result;
    result.exit_status = wait_for_pipeline(pid, settings, out, proxies.size(), started);
    result.wall_seconds = seconds_between(started, Clock::now());
    result.finished = result.exit_status >= 0;
    result.cpu_seconds = children_cpu_seconds() - cpu_before;
    result.usable_by_address = answers_in(out);
    return result;
}

} // namespace kestrova::bench
