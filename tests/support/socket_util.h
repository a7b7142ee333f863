// Plain IPv4 socket helpers shared by the loopback fixtures.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova::test_support {

/// A non-blocking TCP socket bound to `address`:`port` (0: any free port);
/// -1 on failure. `bound` receives the port.
int bound_socket(const std::string& address, std::uint16_t port, std::uint16_t* bound);

/// The same, listening with `backlog`.
int listening_socket(const std::string& address, std::uint16_t port, int backlog,
                     std::uint16_t* bound);

void set_no_delay(int fd);

/// True when a TCP connection to `address`:`port` succeeds within `timeout_ms`.
bool can_connect(const std::string& address, std::uint16_t port, int timeout_ms);

} // namespace kestrova::test_support
