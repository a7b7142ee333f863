// The platform operations behind the in-memory library loader: memory that
// 32-bit code can address, library loading, routine look-up and running
// 32-bit code. The loader reaches the system only through this interface,
// so tests can drive it with fakes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kestrova::skin {

/// A 32-bit address of the loaded code. On this host it is also the host
/// address: guest memory lies below 2 GiB.
using Address = std::uint32_t;

/// The ten argument words of a call; the first lies at the lowest address.
using CallWords = std::array<std::uint32_t, 10>;

/// The name of the program's own library, the one library that "load a
/// library" knows on this host.
inline constexpr std::string_view host_library_name = "kestrova_host.dll";

/// What "look up a routine" is asked for: a name, or an ordinal below 0x10000.
struct RoutineKey {
    bool by_ordinal = false;
    std::uint16_t ordinal = 0;
    std::string_view name;
};

class PlatformOperations {
public:
    virtual ~PlatformOperations() = default;

    /// `size` bytes of zero-filled memory that 32-bit code can read, write and
    /// run, below 2 GiB: at `address` when that range is free (0 when it is
    /// not), anywhere low when `address` is 0. Returns the address or 0.
    virtual Address reserve(Address address, std::uint64_t size) = 0;

    /// Releases the whole reservation that begins at `base`; false when no
    /// reservation begins there.
    virtual bool release(Address base) = 0;

    /// Length in bytes of the reservation that begins at `base`; 0 when none
    /// does. Every read and write of the loader stays inside this length.
    virtual std::uint32_t reserved_size(Address base) const = 0;

    /// A handle for the library, or 0 when it cannot be loaded.
    virtual std::uint32_t load_library(std::string_view name) = 0;

    /// The routine's address, or 0; always 0 for the library handle 0.
    virtual Address find_routine(std::uint32_t library, const RoutineKey& key) = 0;

    /// Runs the 32-bit routine as if called with the ten words on the stack
    /// and returns its 32-bit result; the caller's stack is balanced whether
    /// the routine removes its arguments or not. 0 when the code faults.
    virtual std::uint32_t run_code(Address routine, const CallWords& words) = 0;
};

/// The platform of this process: low memory, the host library and the
/// emulator that runs 32-bit code (skin/emulated_platform.h).
PlatformOperations& host_platform();

/// Host memory at a guest address.
inline std::byte* host_pointer(Address address) {
    return reinterpret_cast<std::byte*>(static_cast<std::uintptr_t>(address));
}

} // namespace kestrova::skin
