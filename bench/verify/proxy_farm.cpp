#include "proxy_farm.h"

#include "endless_streamer.h"
#include "support/loopback_server.h"
#include "text/codepage.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <charconv>
#include <stdexcept>

namespace kestrova::bench {

namespace {

using test_support::BlackholeListener;
using test_support::Handler;
using test_support::ReceivedRequest;
using test_support::Reply;
using test_support::ServerLoop;

constexpr std::int64_t least_latency_ms = 20;
constexpr std::int64_t most_latency_ms = 800;
constexpr std::size_t most_loops = 64;
constexpr int blackhole_backlog = 128;
constexpr auto drip_interval = std::chrono::milliseconds(100);
constexpr std::string_view redirected_query = "?via=redirect";

struct BehaviourName {
    Behaviour behaviour;
    const char* name;
};

constexpr std::array<BehaviourName, 11> behaviour_names = {{
    {Behaviour::good, "good"},
    {Behaviour::refused, "refused"},
    {Behaviour::blackhole, "blackhole"},
    {Behaviour::drip, "drip"},
    {Behaviour::wrong_page, "wrong_page"},
    {Behaviour::gbk_page, "gbk_page"},
    {Behaviour::garbage, "garbage"},
    {Behaviour::endless, "endless"},
    {Behaviour::empty_page, "empty_page"},
    {Behaviour::forbidden, "forbidden"},
    {Behaviour::redirect, "redirect"},
}};

/// splitmix64: the same sequence for a seed on every machine and library.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::int64_t between(std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(high - low + 1));
    }

private:
    std::uint64_t state_;
};

Behaviour pick_behaviour(const Mix& mix, Random& random) {
    int total = 0;
    for (const auto& [behaviour, share] : mix)
        total += share;
    auto ticket = static_cast<int>(random.next() % static_cast<std::uint64_t>(total));
    for (const auto& [behaviour, share] : mix) {
        if (ticket < share)
            return behaviour;
        ticket -= share;
    }
    return mix.back().first;
}

std::optional<std::uint32_t> parse_address(std::string_view dotted) {
    in_addr parsed{};
    if (inet_pton(AF_INET, std::string(dotted).c_str(), &parsed) != 1)
        return std::nullopt;
    return ntohl(parsed.s_addr);
}

std::string dotted(std::uint32_t address) {
    in_addr value{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

/// Hands out consecutive loopback addresses, skipping .0 and .255.
class AddressSequence {
public:
    explicit AddressSequence(std::uint32_t base) : last_(base) {}
    std::string next() {
        do
            ++last_;
        while ((last_ & 0xff) == 0 || (last_ & 0xff) == 0xff);
        if ((last_ >> 24) != 127)
            throw std::runtime_error("the farm ran out of 127.0.0.0/8 addresses");
        return dotted(last_);
    }

private:
    std::uint32_t last_;
};

struct Pages {
    std::string probe_url;
    std::string utf8 = probe_page_utf8();
    std::string gbk;
    std::string wrong = "<!DOCTYPE html>\n<html><head><title>Welcome to nginx!</title></head>"
                        "<body><h1>Welcome to nginx!</h1><p>If you see this page, the nginx "
                        "web server is successfully installed.</p></body></html>\n";
    std::string refusal = "<html><head><title>403 Forbidden</title></head><body><h1>Access "
                          "denied</h1><p>This proxy serves its own clients only.</p></body>"
                          "</html>\n";
};

Reply after(Reply reply, std::int64_t latency_ms) {
    reply.delay = std::chrono::milliseconds(latency_ms);
    return reply;
}

Reply gbk_reply(const Pages& pages) {
    Reply reply = Reply::text(pages.gbk);
    reply.headers = {{"Content-Type", "text/html; charset=gbk"}};
    return reply;
}

Reply forbidden_reply(const Pages& pages) {
    Reply reply = Reply::text(pages.refusal, 403);
    reply.reason = "Forbidden";
    return reply;
}

/// What the proxy answers to one request, before its latency.
Reply answer(Behaviour behaviour, const Pages& pages, const ReceivedRequest& request) {
    switch (behaviour) {
    case Behaviour::good:
        return Reply::text(pages.utf8);
    case Behaviour::drip:
        return Reply::drip(drip_interval);
    case Behaviour::wrong_page:
        return Reply::text(pages.wrong);
    case Behaviour::gbk_page:
        return gbk_reply(pages);
    case Behaviour::garbage:
        return Reply::garbage();
    case Behaviour::endless:
        return Reply::endless("<p>more and more of a page that never ends</p>\n");
    case Behaviour::empty_page:
        return Reply::text({});
    case Behaviour::forbidden:
        return forbidden_reply(pages);
    case Behaviour::redirect:
        if (request.target.find(redirected_query) != std::string::npos)
            return Reply::text(pages.utf8);
        return Reply::redirect(302, pages.probe_url + std::string(redirected_query));
    default:
        return Reply::close();
    }
}

Handler proxy_handler(Behaviour behaviour, std::int64_t latency_ms,
                      std::shared_ptr<const Pages> pages) {
    // An endless or dripping body starts at once: only the time-out ends it.
    const bool immediate = behaviour == Behaviour::endless || behaviour == Behaviour::drip;
    return test_support::simulated_proxy([=](const ReceivedRequest& request) {
        return after(answer(behaviour, *pages, request), immediate ? 0 : latency_ms);
    });
}

Bound bound_of(Behaviour behaviour) {
    switch (behaviour) {
    case Behaviour::refused:
        return Bound::instant;
    case Behaviour::blackhole:
    case Behaviour::drip:
    case Behaviour::endless:
        return Bound::timeout;
    default:
        return Bound::latency;
    }
}

std::int64_t least_ms_of(const FarmProxy& proxy, std::int64_t timeout_ms) {
    switch (proxy.bound) {
    case Bound::instant:
        return 0;
    case Bound::timeout:
        return timeout_ms;
    default:
        return proxy.behaviour == Behaviour::redirect ? 2 * proxy.latency_ms : proxy.latency_ms;
    }
}

FarmProxy draw_proxy(const Mix& mix, Random& random, std::int64_t timeout_ms) {
    FarmProxy proxy;
    proxy.behaviour = pick_behaviour(mix, random);
    proxy.latency_ms = random.between(least_latency_ms, most_latency_ms);
    proxy.usable = proxy.behaviour == Behaviour::good || proxy.behaviour == Behaviour::redirect;
    proxy.bound = bound_of(proxy.behaviour);
    proxy.least_ms = least_ms_of(proxy, timeout_ms);
    return proxy;
}

void check_options(const FarmOptions& options) {
    if (!is_loopback_address(options.base_address))
        throw std::runtime_error("the farm listens only inside 127.0.0.0/8, not on " +
                                 options.base_address);
    if (options.loops == 0 || options.loops > most_loops)
        throw std::runtime_error("server loops must be 1 to 64");
    if (options.count == 0)
        throw std::runtime_error("the farm needs at least one proxy");
    if (options.timeout_ms < 1)
        throw std::runtime_error("the time-out must be at least 1 ms");
}

} // namespace

// --- names and mixes -------------------------------------------------------------

const char* behaviour_name(Behaviour behaviour) {
    for (const auto& entry : behaviour_names)
        if (entry.behaviour == behaviour)
            return entry.name;
    return "?";
}

std::optional<Behaviour> behaviour_from_name(std::string_view name) {
    for (const auto& entry : behaviour_names)
        if (name == entry.name)
            return entry.behaviour;
    return std::nullopt;
}

const char* bound_name(Bound bound) {
    switch (bound) {
    case Bound::instant:
        return "instant";
    case Bound::timeout:
        return "timeout";
    default:
        return "latency";
    }
}

std::optional<Bound> bound_from_name(std::string_view name) {
    for (Bound bound : {Bound::instant, Bound::latency, Bound::timeout})
        if (name == bound_name(bound))
            return bound;
    return std::nullopt;
}

Mix default_mix() {
    return {{Behaviour::good, 55},     {Behaviour::refused, 10},   {Behaviour::blackhole, 6},
            {Behaviour::drip, 3},      {Behaviour::wrong_page, 6}, {Behaviour::gbk_page, 4},
            {Behaviour::garbage, 4},   {Behaviour::endless, 1},    {Behaviour::empty_page, 4},
            {Behaviour::forbidden, 4}, {Behaviour::redirect, 3}};
}

std::optional<Mix> parse_mix(std::string_view text) {
    Mix mix;
    int total = 0;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        const auto behaviour = behaviour_from_name(item.substr(0, equals));
        int share = -1;
        const std::string_view number = item.substr(equals + 1);
        const auto parsed = std::from_chars(number.data(), number.data() + number.size(), share);
        if (!behaviour || parsed.ec != std::errc() || parsed.ptr != number.data() + number.size() ||
            share < 0 || share > 1'000'000)
            return std::nullopt;
        if (share > 0)
            mix.emplace_back(*behaviour, share);
        total += share;
    }
    if (total == 0)
        return std::nullopt;
    return mix;
}

std::string mix_text(const Mix& mix) {
    std::string text;
    for (const auto& [behaviour, share] : mix) {
        if (!text.empty())
            text += ',';
        text.append(behaviour_name(behaviour)).append("=").append(std::to_string(share));
    }
    return text;
}

bool is_loopback_address(std::string_view address) {
    const auto parsed = parse_address(address);
    return parsed && (*parsed >> 24) == 127;
}

const std::string& probe_page_utf8() {
    static const std::string page =
        "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" "
        "content=\"text/html;charset=utf-8\"><title>百度一下，你就知道</title>"
        "<style>body{font:13px arial;margin:0}#form{margin:120px auto;width:640px}"
        ".s_ipt{width:520px;height:34px;border:1px solid #c4c7ce}"
        ".s_btn{width:108px;height:36px;background:#4e6ef2;color:#fff;border:0}</style>"
        "</head>\n<body><div id=\"wrapper\"><div id=\"head\"><a href=\"/news\">新闻</a> "
        "<a href=\"/map\">地图</a> <a href=\"/video\">视频</a> <a href=\"/tieba\">贴吧</a>"
        "</div>\n<form id=\"form\" name=\"f\" action=\"/s\"><input class=\"s_ipt\" "
        "name=\"wd\" maxlength=\"255\" autocomplete=\"off\"><input type=\"submit\" "
        "value=\"百度一下\" class=\"s_btn\"></form>\n<div id=\"ftCon\"><p>关于百度 About "
        "Baidu</p><p>&copy;2024 Baidu 使用百度前必读 意见反馈</p></div></div></body>"
        "</html>\n";
    return page;
}

// --- the farm --------------------------------------------------------------------

struct ProxyFarm::Impl {
    FarmOptions options;
    std::shared_ptr<Pages> pages = std::make_shared<Pages>();
    std::vector<std::unique_ptr<ServerLoop>> loops;
    std::vector<std::unique_ptr<BlackholeListener>> blackholes;
    std::unique_ptr<EndlessStreamer> paced_streams; ///< null: endless bodies are not paced
    std::vector<FarmProxy> proxies;

    explicit Impl(FarmOptions chosen) : options(std::move(chosen)) {
        if (options.mix.empty())
            options.mix = default_mix();
        check_options(options);
        for (std::size_t i = 0; i < options.loops; ++i)
            loops.push_back(std::make_unique<ServerLoop>());
        if (options.endless_bytes_per_second > 0)
            paced_streams = std::make_unique<EndlessStreamer>(options.endless_bytes_per_second);
        AddressSequence addresses(*parse_address(options.base_address));
        start_probe_page(addresses.next());
        start_proxies(addresses);
    }

    void start_probe_page(const std::string& address) {
        std::string declared_gbk = pages->utf8;
        declared_gbk.replace(declared_gbk.find("charset=utf-8"), 13, "charset=gbk");
        pages->gbk = text::gbk(declared_gbk);
        const std::string page = pages->utf8;
        const auto port = loops.front()->listen(
            address, 0, [page](const ReceivedRequest&) { return Reply::text(page); });
        if (port == 0)
            throw std::runtime_error("cannot listen on " + address);
        pages->probe_url = "http://" + address + ":" + std::to_string(port) + "/";
    }

    void start_proxies(AddressSequence& addresses) {
        Random random(options.seed);
        proxies.reserve(options.count);
        for (std::size_t i = 0; i < options.count; ++i) {
            FarmProxy proxy = draw_proxy(options.mix, random, options.timeout_ms);
            const std::string host = addresses.next();
            const std::uint16_t port = open_proxy(proxy, host, loops[i % loops.size()]);
            if (port == 0)
                throw std::runtime_error("cannot listen on " + host + " (proxy " +
                                         std::to_string(i + 1) + "; open file limit?)");
            proxy.address = host + ":" + std::to_string(port);
            proxies.push_back(std::move(proxy));
        }
    }

    std::uint16_t open_proxy(const FarmProxy& proxy, const std::string& host,
                             const std::unique_ptr<ServerLoop>& loop) {
        switch (proxy.behaviour) {
        case Behaviour::refused:
            return test_support::unused_port(host);
        case Behaviour::blackhole:
            blackholes.push_back(std::make_unique<BlackholeListener>(host, blackhole_backlog));
            return blackholes.back()->port();
        case Behaviour::endless:
            if (paced_streams)
                return paced_streams->listen(host);
            [[fallthrough]];
        default:
            return loop->listen(host, 0, proxy_handler(proxy.behaviour, proxy.latency_ms, pages));
        }
    }
};

ProxyFarm::ProxyFarm(FarmOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
ProxyFarm::~ProxyFarm() = default;

const std::string& ProxyFarm::probe_url() const {
    return impl_->pages->probe_url;
}

const std::vector<FarmProxy>& ProxyFarm::proxies() const {
    return impl_->proxies;
}

const FarmOptions& ProxyFarm::options() const {
    return impl_->options;
}

std::size_t ProxyFarm::connections_accepted() const {
    std::size_t total = 0;
    for (const auto& loop : impl_->loops)
        total += loop->connections_accepted();
    return total;
}

} // namespace kestrova::bench
