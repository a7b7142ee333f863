// The platform operations of this host. Memory comes from LowMemory, so a
// guest address is the host address; "load a library" knows only the host
// library, whose routines are C++ functions of this program reached through
// small thunks; 32-bit code runs in the Unicorn CPU emulator over the same
// memory, with a thread environment block reachable through FS.
#pragma once

#include "skin/low_memory.h"
#include "skin/platform.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrova::skin {

/// A call from 32-bit code into a host routine.
class HostCall {
public:
    HostCall(const CallWords& arguments, const LowMemory& memory)
        : arguments_(arguments), memory_(memory) {}

    /// Argument word `index` (0 = first); 0 beyond the routine's words.
    std::uint32_t argument(std::size_t index) const {
        return index < arguments_.size() ? arguments_[index] : 0;
    }

    /// The guest's bytes at [address, address + length), or nothing when they
    /// do not lie inside guest memory.
    std::optional<std::span<const std::byte>> bytes(Address address, std::uint32_t length) const;

    /// The NUL-terminated text at `address`, when it lies wholly inside one
    /// block of guest memory.
    std::optional<std::string_view> text(Address address) const;

private:
    CallWords arguments_;
    const LowMemory& memory_;
};

using HostRoutine = std::function<std::uint32_t(const HostCall&)>;

class EmulatedPlatform final : public PlatformOperations {
public:
    EmulatedPlatform();
    ~EmulatedPlatform() override;
    EmulatedPlatform(const EmulatedPlatform&) = delete;
    EmulatedPlatform& operator=(const EmulatedPlatform&) = delete;

    Address reserve(Address address, std::uint64_t size) override;
    bool release(Address base) override;
    std::uint32_t reserved_size(Address base) const override;
    std::uint32_t load_library(std::string_view name) override;
    Address find_routine(std::uint32_t library, const RoutineKey& key) override;
    /// A call made from inside a host routine (nested) is refused with 0.
    std::uint32_t run_code(Address routine, const CallWords& words) override;

    /// A guest address that calls `routine` with `argument_words` words from
    /// the stack. A stdcall thunk removes them itself, a cdecl one leaves them.
    /// 0 when no thunk is left.
    Address make_host_thunk(unsigned argument_words, bool stdcall, HostRoutine routine);

    /// Adds a stdcall routine to the host library under `name` and, when not
    /// 0, `ordinal`; defining a name again replaces its routine. Returns the
    /// thunk's address, 0 when none is left.
    Address define_host_routine(const std::string& name, std::uint16_t ordinal,
                                unsigned argument_words, HostRoutine routine);

    /// A read-only copy of `bytes` in guest memory, kept for the whole run.
    std::span<const std::byte> publish(std::span<const std::byte> bytes);

    /// Longest time one outermost call may run before it is stopped (result 0).
    void set_time_limit(std::chrono::milliseconds limit);

    /// Why the last call gave up, or "" when it returned normally.
    std::string last_fault() const;

    const LowMemory& memory() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

/// The one platform of this process; never destroyed.
EmulatedPlatform& emulated_platform();

} // namespace kestrova::skin
