#include "fake_platform.h"

namespace kestrova::skin::testing {

Address FakePlatform::reserve(Address address, std::uint64_t size) {
    events.push_back("reserve");
    return memory.reserve(address, size);
}

bool FakePlatform::release(Address base) {
    events.push_back("release");
    return memory.release(base);
}

std::uint32_t FakePlatform::reserved_size(Address base) const {
    return memory.size_of(base);
}

std::uint32_t FakePlatform::load_library(std::string_view name) {
    events.push_back("load " + std::string(name));
    loaded_libraries.emplace_back(name);
    auto found = libraries_.find(std::string(name));
    return found == libraries_.end() ? 0 : found->second;
}

Address FakePlatform::find_routine(std::uint32_t library, const RoutineKey& key) {
    ++lookups;
    std::string name = key.by_ordinal ? "#" + std::to_string(key.ordinal) : std::string(key.name);
    events.push_back("find " + name);
    auto routines = routines_.find(library);
    if (library == 0 || routines == routines_.end())
        return 0;
    auto found = routines->second.find(name);
    return found == routines->second.end() ? 0 : found->second;
}

std::uint32_t FakePlatform::run_code(Address routine, const CallWords& words) {
    events.push_back("run");
    calls.push_back({routine, words});
    auto found = code.find(routine);
    if (found != code.end())
        return found->second(words);
    return fallback ? fallback(routine, words) : default_result;
}

void FakePlatform::add_library(const std::string& name, std::uint32_t handle,
                               std::map<std::string, Address> routines) {
    libraries_[name] = handle;
    routines_[handle] = std::move(routines);
}

} // namespace kestrova::skin::testing
