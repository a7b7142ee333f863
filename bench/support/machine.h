// What every benchmark prints first: the machine it ran on.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace kestrova::bench {

inline std::string cpu_model() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

/// A value from /proc/self/status in kB ("VmRSS", "VmHWM", "Threads"...).
inline long process_status_value(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0 && line.size() > std::char_traits<char>::length(key) &&
            line[std::char_traits<char>::length(key)] == ':')
            return std::stol(line.substr(std::char_traits<char>::length(key) + 1));
    return -1;
}

inline void print_machine(const char* benchmark) {
    std::printf("%s\nmachine: %s, %u hardware threads\n", benchmark, cpu_model().c_str(),
                std::thread::hardware_concurrency());
}

} // namespace kestrova::bench
