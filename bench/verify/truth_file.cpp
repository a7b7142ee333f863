#include "truth_file.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kestrova::bench {

namespace {

constexpr const char* usable_text = "可以用";
constexpr const char* unusable_text = "不可用";

std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos;) {
        fields.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    fields.push_back(line);
    return fields;
}

template <typename Number> bool parse_number(std::string_view text, Number& value) {
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    return parsed.ec == std::errc() && parsed.ptr == text.data() + text.size();
}

bool read_header(std::string_view line, Truth& truth) {
    const auto fields = fields_of(line.substr(2));
    if (fields.size() != 2)
        return true; // a comment
    const std::string_view key = fields[0];
    const std::string_view value = fields[1];
    if (key == "probe_url")
        truth.probe_url = value;
    else if (key == "mix")
        truth.mix = value;
    else if (key == "timeout_ms")
        return parse_number(value, truth.timeout_ms);
    else if (key == "seed")
        return parse_number(value, truth.seed);
    else if (key == "farm_pid")
        return parse_number(value, truth.farm_pid);
    return true;
}

std::optional<FarmProxy> read_proxy(std::string_view line) {
    const auto fields = fields_of(line);
    if (fields.size() != 5)
        return std::nullopt;
    FarmProxy proxy;
    proxy.address = fields[0];
    const auto bound = bound_from_name(fields[3]);
    const auto behaviour = behaviour_from_name(fields[4]);
    const bool verdict_known = fields[1] == usable_text || fields[1] == unusable_text;
    if (!bound || !behaviour || !verdict_known || !parse_number(fields[2], proxy.least_ms))
        return std::nullopt;
    proxy.usable = fields[1] == usable_text;
    proxy.bound = *bound;
    proxy.behaviour = *behaviour;
    return proxy;
}

std::string truth_text(const Truth& truth) {
    std::ostringstream out;
    out << "# Kestrova proxy farm: the verdict each proxy deserves and the least time a probe "
           "of it needs\n"
        << "# probe_url\t" << truth.probe_url << "\n# timeout_ms\t" << truth.timeout_ms
        << "\n# seed\t" << truth.seed << "\n# mix\t" << truth.mix << "\n# farm_pid\t"
        << truth.farm_pid << "\n# count\t" << truth.proxies.size()
        << "\n# columns: address, verdict, least_ms, bound, behaviour\n";
    for (const FarmProxy& proxy : truth.proxies)
        out << proxy.address << '\t' << (proxy.usable ? usable_text : unusable_text) << '\t'
            << proxy.least_ms << '\t' << bound_name(proxy.bound) << '\t'
            << behaviour_name(proxy.behaviour) << '\n';
    return out.str();
}

} // namespace

Truth truth_of(const ProxyFarm& farm, long farm_pid) {
    return {farm.probe_url(),
            farm.options().timeout_ms,
            farm.options().seed,
            mix_text(farm.options().mix),
            farm_pid,
            farm.proxies()};
}

bool write_truth(const std::string& path, const Truth& truth) {
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << truth_text(truth);
        if (!out.flush())
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::optional<Truth> read_truth(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    Truth truth;
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.rfind("# ", 0) == 0 ? !read_header(line, truth) : false) {
            error = path + ":" + std::to_string(number) + ": bad header value";
            return std::nullopt;
        }
        if (line.empty() || line[0] == '#')
            continue;
        auto proxy = read_proxy(line);
        if (!proxy) {
            error = path + ":" + std::to_string(number) + ": not a proxy line";
            return std::nullopt;
        }
        truth.proxies.push_back(std::move(*proxy));
    }
    if (truth.probe_url.empty() || truth.proxies.empty() || truth.timeout_ms < 1) {
        error = path + ": no probe_url, time-out or proxies";
        return std::nullopt;
    }
    return truth;
}

std::int64_t least_ms_under(const FarmProxy& proxy, std::int64_t timeout_ms) {
    return proxy.bound == Bound::timeout ? timeout_ms : proxy.least_ms;
}

} // namespace kestrova::bench
