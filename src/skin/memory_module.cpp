#include "skin/memory_module.h"

#include "skin/loader.h"

namespace kestrova::skin {

MemoryModule::MemoryModule() : MemoryModule(host_platform()) {}

MemoryModule::MemoryModule(PlatformOperations& platform) : platform_(&platform) {}

MemoryModule::~MemoryModule() = default;

std::unique_ptr<MemoryModule> MemoryModule::copy() const {
    return std::make_unique<MemoryModule>(*this);
}

bool MemoryModule::load(std::span<const std::byte> image, Address import_resolver,
                        std::uint32_t resolver_data) {
    if (base != 0)
        unload();
    base = load_image(*platform_, image, import_resolver, resolver_data);
    return base != 0;
}

bool MemoryModule::unload() {
    if (base != 0 && unload_image(*platform_, base))
        base = 0;
    return base == 0;
}

Address MemoryModule::find_export(std::string_view name) const {
    return base == 0 ? 0 : find_export_in_image(*platform_, base, name);
}

Address MemoryModule::entry_point_address() const {
    if (base == 0)
        return 0;
    std::uint32_t size = platform_->reserved_size(base);
    std::optional<PeHeaders> headers = read_mapped_headers({host_pointer(base), size});
    return headers ? base + headers->address_of_entry_point : 0;
}

Address MemoryModule::base_address() const {
    return base;
}

} // namespace kestrova::skin
