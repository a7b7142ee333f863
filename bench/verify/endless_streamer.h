// Proxies whose answer is a body without end, sent at a fixed pace.
//
// The loopback servers stream an endless body as fast as the peer takes it,
// which on loopback is gigabytes a second: the sending side then eats a whole
// core and the farm, not the client under test, sets the figures. A proxy on
// a real network sends at the pace of its link; this serves that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrova::bench {

class EndlessStreamer {
public:
    /// Starts the serving thread. `bytes_per_second` per connection.
    explicit EndlessStreamer(std::size_t bytes_per_second);
    ~EndlessStreamer();
    EndlessStreamer(const EndlessStreamer&) = delete;
    EndlessStreamer& operator=(const EndlessStreamer&) = delete;

    /// Listens on `address` (any free port); returns the port, 0 on failure.
    /// Each connection: the request is read; a request that is not in proxy
    /// form gets 400; else a 200 head, then body bytes without the marker
    /// until the peer closes.
    std::uint16_t listen(const std::string& address);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kestrova::bench
