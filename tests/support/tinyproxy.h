// A real HTTP proxy for tests: Debian's tinyproxy, started in the foreground
// on a free loopback port with a generated configuration, and stopped (and
// reaped) by the destructor.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kestrova::test_support {

class Tinyproxy {
public:
    static constexpr const char* binary = "/usr/bin/tinyproxy";

    struct Options {
        std::string user; ///< with a password: the proxy demands basic authentication
        std::string password;
    };

    /// True when the tinyproxy program is installed.
    static bool installed();
    /// Starts a proxy and waits (at most 5 s) until it accepts connections;
    /// nothing when it could not be started.
    static std::optional<Tinyproxy> start(const Options& options);
    static std::optional<Tinyproxy> start() { return start(Options{}); }

    Tinyproxy(Tinyproxy&& other) noexcept;
    Tinyproxy& operator=(Tinyproxy&&) = delete;
    Tinyproxy(const Tinyproxy&) = delete;
    ~Tinyproxy();

    std::uint16_t port() const { return port_; }
    /// "127.0.0.1:port", the form http_request takes as a proxy.
    std::string host_port() const;
    /// The proxy's log so far.
    std::string log() const;

private:
    Tinyproxy() = default;
    void stop();

    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    std::string directory_;
};

} // namespace kestrova::test_support
