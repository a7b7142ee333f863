// A platform for loader tests: real low memory, with libraries, routines
// and code that the test scripts, and a record of every operation.
#pragma once

#include "skin/low_memory.h"
#include "skin/platform.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestrova::skin::testing {

class FakePlatform : public PlatformOperations {
public:
    struct Call {
        Address routine = 0;
        CallWords words{};
    };
    using Code = std::function<std::uint32_t(const CallWords&)>;

    Address reserve(Address address, std::uint64_t size) override;
    bool release(Address base) override;
    std::uint32_t reserved_size(Address base) const override;
    std::uint32_t load_library(std::string_view name) override;
    Address find_routine(std::uint32_t library, const RoutineKey& key) override;
    std::uint32_t run_code(Address routine, const CallWords& words) override;

    /// A library the platform knows; `routines` by name or "#ordinal".
    void add_library(const std::string& name, std::uint32_t handle,
                     std::map<std::string, Address> routines);

    LowMemory memory;
    /// Code at an address; other addresses run `fallback` when it is set,
    /// else return `default_result`.
    std::map<Address, Code> code;
    std::function<std::uint32_t(Address, const CallWords&)> fallback;
    std::uint32_t default_result = 1;

    std::vector<Call> calls;
    std::vector<std::string> events; ///< "reserve", "release", "load NAME", "find KEY", "run"
    std::vector<std::string> loaded_libraries;
    int lookups = 0;

private:
    std::map<std::string, std::uint32_t> libraries_;
    std::map<std::uint32_t, std::map<std::string, Address>> routines_;
};

} // namespace kestrova::skin::testing
