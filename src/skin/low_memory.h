// Memory below 2 GiB, where a 32-bit address is also a host address: the
// reservations of loaded images and everything else 32-bit code may touch.
#pragma once

#include "skin/platform.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrova::skin {

class LowMemory {
public:
    struct Block {
        Address base = 0;
        std::uint32_t size = 0;   ///< bytes asked for; the bounds of every access
        std::uint32_t mapped = 0; ///< size rounded up to whole pages
        bool sealed = false;      ///< read-only and kept for the whole run
    };

    static constexpr std::uint32_t page_size = 0x1000;

    /// `size` rounded up to whole pages.
    static constexpr std::uint64_t whole_pages(std::uint64_t size) {
        return (size + page_size - 1) / page_size * page_size;
    }

    LowMemory() = default;
    LowMemory(const LowMemory&) = delete;
    LowMemory& operator=(const LowMemory&) = delete;
    /// Gives back every block that is not sealed.
    ~LowMemory();

    /// Zero-filled memory ending below 2 GiB, followed by an inaccessible
    /// guard page: exactly at `address` when it is not 0 (0 when that range is
    /// taken or not page-aligned), else anywhere low. Returns 0 on failure.
    Address reserve(Address address, std::uint64_t size);

    /// Unmaps the block that begins at `base`. False for any other address
    /// and for sealed blocks.
    bool release(Address base);

    /// Size of the block that begins at `base`, 0 when none does.
    std::uint32_t size_of(Address base) const;

    /// The block that begins at `base`.
    std::optional<Block> block_at(Address base) const;

    /// True when [address, address + length) lies inside one block.
    bool contains(Address address, std::uint64_t length) const;

    /// Makes the block read-only and keeps it until the process ends.
    bool seal(Address base);

    std::vector<Block> blocks() const;

private:
    mutable std::mutex mutex_;
    std::map<Address, Block> blocks_;
};

} // namespace kestrova::skin
