#include "process_stats.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace kestrova::bench {

namespace {

double seconds_of(const rusage& usage) {
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// utime + stime of one /proc/.../stat line (fields 14 and 15; the command
/// name in parentheses may hold spaces, so count from the last ')').
long ticks_of_stat(const std::string& line) {
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value && values.size() < 13;)
        values.push_back(value);
    if (values.size() < 13)
        return -1;
    return std::stol(values[11]) + std::stol(values[12]);
}

std::vector<long> thread_ids(long pid) {
    std::vector<long> ids;
    const std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return ids;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
            ids.push_back(std::stol(entry->d_name));
    closedir(dir);
    return ids;
}

} // namespace

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

bool reset_peak_resident() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    return static_cast<bool>(out.flush());
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds_of(usage);
}

double children_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return seconds_of(usage);
}

ThreadTicks thread_ticks(long pid) {
    ThreadTicks ticks;
    for (long id : thread_ids(pid)) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(id) + "/stat");
        std::string line;
        if (std::getline(in, line))
            if (const long value = ticks_of_stat(line); value >= 0)
                ticks[id] = value;
    }
    return ticks;
}

ProcessUse process_use(const ThreadTicks& before, const ThreadTicks& after, double wall_seconds) {
    ProcessUse use;
    if (after.empty() || wall_seconds <= 0)
        return use;
    const double per_tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    long busiest = 0;
    long total = 0;
    for (const auto& [id, ticks] : after) {
        const auto earlier = before.find(id);
        const long used = ticks - (earlier == before.end() ? 0 : earlier->second);
        total += used;
        busiest = std::max(busiest, used);
    }
    use.known = true;
    use.cpu_seconds = static_cast<double>(total) * per_tick;
    use.busiest_thread_share = static_cast<double>(busiest) * per_tick / wall_seconds;
    return use;
}

} // namespace kestrova::bench
