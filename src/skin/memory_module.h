// The in-memory library loader object: maps a PE32 library image held in
// memory, finds its exports and unloads it. It starts empty (`base` 0), and
// destroying it does nothing: a loaded image stays mapped, and its entry
// routine is never told to detach, until the process ends.
#pragma once

#include "skin/platform.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kestrova::skin {

class MemoryModule {
public:
    /// Empty; loads through the process's platform (host_platform()).
    MemoryModule();
    /// Empty; loads through `platform`, which must outlive every image it maps.
    explicit MemoryModule(PlatformOperations& platform);
    MemoryModule(const MemoryModule&) = default;
    MemoryModule& operator=(const MemoryModule&) = default;

    /// Does nothing: no unload, no detach.
    virtual ~MemoryModule();

    /// A new object naming the same mapping; nothing counts references.
    virtual std::unique_ptr<MemoryModule> copy() const;

    /// Unloads what the object holds (ignoring the result), then maps
    /// `image`. `import_resolver` is a 32-bit routine asked first for every
    /// import (library name, routine name or ordinal as decimal text,
    /// `resolver_data`); 0 for none. True when an image is held afterwards.
    virtual bool load(std::span<const std::byte> image, Address import_resolver = 0,
                      std::uint32_t resolver_data = 0);

    /// Detaches and releases the image; true when the object holds none
    /// afterwards. When the mapped headers are damaged it keeps `base`.
    virtual bool unload();

    /// An export by name, or by ordinal written in decimal ("7"); 0 for every
    /// miss and while empty.
    virtual Address find_export(std::string_view name) const;

    /// `base` + AddressOfEntryPoint from the mapped headers; 0 while empty.
    virtual Address entry_point_address() const;

    virtual Address base_address() const;

    PlatformOperations& platform() const { return *platform_; }

    /// Address of the mapped image; 0 while the object holds no image.
    Address base = 0;

private:
    PlatformOperations* platform_;
};

} // namespace kestrova::skin
