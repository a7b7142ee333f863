// Fuzz target for the in-memory library loader: every input is taken as a
// library image and run through load, find_export, entry_point_address,
// the export listing and unload, on real low memory (AddressSanitizer
// watches one byte past every reservation) with scripted libraries and
// code. The input's last byte steers the script: bit 0 the entry routine's
// answer, bit 1 the resolver's, bit 2 the platform look-up's, bit 3 whether
// libraries load, bit 4 whether there is a resolver.
#include "fuzz_check.h"
#include "skin/loader.h"
#include "skin/low_memory.h"
#include "skin/memory_module.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrova::skin;

constexpr Address resolver = 0x7FFE0000;
// Larger reservations fail here, as they may on any host: every walk is
// linear in the reservation, and megabytes of zeros only slow the search.
constexpr std::uint64_t reservation_limit = 4 << 20;

class ScriptedPlatform : public PlatformOperations {
public:
    explicit ScriptedPlatform(std::uint8_t control) : control_(control) {}

    Address reserve(Address address, std::uint64_t size) override {
        return size <= reservation_limit ? memory.reserve(address, size) : 0;
    }
    bool release(Address base) override { return memory.release(base); }
    std::uint32_t reserved_size(Address base) const override { return memory.size_of(base); }

    std::uint32_t load_library(std::string_view name) override {
        CHECK(name.find('\0') == std::string_view::npos);
        return (control_ & 8) && !name.empty() ? 0x100 + static_cast<std::uint32_t>(name.size())
                                               : 0;
    }

    Address find_routine(std::uint32_t library, const RoutineKey& key) override {
        if (library == 0 || !(control_ & 4))
            return 0;
        return key.by_ordinal ? 0x10000u + key.ordinal
                              : 0x20000u + static_cast<std::uint32_t>(key.name.size());
    }

    std::uint32_t run_code(Address routine, const CallWords& words) override {
        if (routine == resolver) {
            CHECK(is_text(words[0]) && is_text(words[1]) && words[2] == 0x1234);
            return (control_ & 2) ? 0x30000 : 0;
        }
        // An entry routine inside the image, told attach or detach.
        CHECK(memory.contains(routine, 1));
        CHECK(words[0] == 0 && (words[1] == 0 || words[1] == 1) && words[2] == 0);
        return control_ & 1;
    }

    LowMemory memory;

private:
    // A NUL-terminated text wholly inside one reservation.
    bool is_text(Address address) const {
        for (const LowMemory::Block& block : memory.blocks())
            if (address >= block.base && address < block.base + block.size)
                return std::memchr(host_pointer(address), 0, block.base + block.size - address);
        return false;
    }

    std::uint8_t control_;
};

// Fixed names, and up to four taken from the input's last 32 bytes.
std::vector<std::string> names_to_find(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> names = {"SkinH_AttachRes", "0",          "1",   "7", "-1",
                                      "65535",           "2147483647", "012", ""};
    std::size_t tail = size < 32 ? size : 32;
    std::string_view rest(reinterpret_cast<const char*>(data + size - tail), tail);
    for (int i = 0; i < 4 && !rest.empty(); ++i) {
        std::size_t nul = rest.find('\0');
        names.emplace_back(rest.substr(0, nul));
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t control = size ? data[size - 1] : 0;
    ScriptedPlatform platform(control);
    {
        MemoryModule module(platform);
        std::span<const std::byte> image(reinterpret_cast<const std::byte*>(data), size);
        bool loaded = module.load(image, (control & 16) ? resolver : 0, 0x1234);
        CHECK(loaded == (module.base != 0));
        if (loaded) {
            CHECK(platform.memory.size_of(module.base) != 0);
            for (const std::string& name : names_to_find(data, size))
                module.find_export(name);
            module.entry_point_address();
            list_exports(platform, module.base);
            Address base = module.base;
            if (!module.unload()) {
                // Only when its own relocations or imports overwrote the
                // mapped headers; the object keeps the image then.
                std::span<const std::byte> mapped(host_pointer(base), platform.reserved_size(base));
                CHECK(module.base == base && !mapped.empty() && !read_mapped_headers(mapped));
                platform.release(base);
            }
        }
    }
    // Neither a loaded image nor a failed load leaves memory behind.
    CHECK(platform.memory.blocks().empty());
    return 0;
}
