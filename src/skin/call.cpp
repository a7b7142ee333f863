#include "skin/call.h"

#include <limits>

namespace kestrova::skin {

namespace {
Address address_of(const void* data) {
    auto at = reinterpret_cast<std::uintptr_t>(data);
    return at <= std::numeric_limits<Address>::max() ? static_cast<Address>(at) : 0;
}
} // namespace

std::uint32_t call_by_address(PlatformOperations& platform, Address routine,
                              const CallWords& words) {
    return platform.run_code(routine, words);
}

std::uint32_t call_by_address(Address routine, std::uint32_t a1, std::uint32_t a2, std::uint32_t a3,
                              std::uint32_t a4, std::uint32_t a5, std::uint32_t a6,
                              std::uint32_t a7, std::uint32_t a8, std::uint32_t a9,
                              std::uint32_t a10) {
    return call_by_address(host_platform(), routine, {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10});
}

Address bytes_address(std::span<const std::byte> bytes) {
    return bytes.empty() ? 0 : address_of(bytes.data());
}

Address text_address(const std::string& text) {
    return text.empty() ? 0 : address_of(text.c_str());
}

} // namespace kestrova::skin
