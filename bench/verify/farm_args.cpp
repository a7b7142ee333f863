#include "farm_args.h"

#include "verify/open_file_limit.h"

#include <charconv>
#include <cstdio>

namespace kestrova::bench {

bool parse_count(std::string_view text, std::uint64_t most, std::uint64_t& value) {
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    return parsed.ec == std::errc() && parsed.ptr == text.data() + text.size() && value <= most;
}

bool take_farm_option(std::string_view name, std::string_view value, FarmOptions& options,
                      std::string& error) {
    std::uint64_t number = 0;
    const auto need_number = [&](std::uint64_t most) {
        if (!parse_count(value, most, number))
            error = std::string(name) + " needs a whole number up to " + std::to_string(most);
        return error.empty();
    };
    if (name == "--count") {
        if (need_number(200'000))
            options.count = number;
    } else if (name == "--seed") {
        if (need_number(UINT64_MAX))
            options.seed = number;
    } else if (name == "--loops") {
        if (need_number(64))
            options.loops = number;
    } else if (name == "--timeout-ms") {
        if (need_number(600'000))
            options.timeout_ms = static_cast<std::int64_t>(number);
    } else if (name == "--endless-rate") {
        if (need_number(10'000'000))
            options.endless_bytes_per_second = number * 1024;
    } else if (name == "--base") {
        options.base_address = value;
        if (!is_loopback_address(value))
            error = "--base must be an address inside 127.0.0.0/8";
    } else if (name == "--mix") {
        auto mix = parse_mix(value);
        if (mix)
            options.mix = *mix;
        else
            error = "--mix wants name=share,... with names from: good refused blackhole drip "
                    "wrong_page gbk_page garbage endless empty_page forbidden redirect";
    } else {
        return false;
    }
    return true;
}

const char* farm_option_help() {
    return "  --count N        proxies in the farm (5000)\n"
           "  --seed S         seed of the behaviour mix and latencies (1)\n"
           "  --loops K        server threads sharing the listeners (4)\n"
           "  --timeout-ms T   time-out the truth file assumes for proxies that never "
           "answer (2000)\n"
           "  --endless-rate K kB/s of each endless body, 0: as fast as the client takes "
           "it (8192)\n"
           "  --base A.B.C.D   the farm takes the addresses after this one (127.77.0.0)\n"
           "  --mix LIST       shares, e.g. good=55,refused=10,blackhole=6,drip=3,"
           "wrong_page=6,\n"
           "                   gbk_page=4,garbage=4,endless=1,empty_page=4,forbidden=4,"
           "redirect=3\n";
}

bool ensure_open_files(unsigned long needed, const char* who) {
    const unsigned long limit = raise_open_file_limit();
    if (limit >= needed)
        return true;
    std::fprintf(stderr,
                 "%s: the open file limit is %lu, about %lu are needed; raise the hard limit "
                 "(ulimit -Hn) or use fewer proxies\n",
                 who, limit, needed);
    return false;
}

} // namespace kestrova::bench
