#include "skin/low_memory.h"

#include <iterator>
#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define KESTROVA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTROVA_ASAN 1
#endif
#endif
#ifdef KESTROVA_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace kestrova::skin {

namespace {

constexpr std::uint64_t low_limit = 0x8000'0000; // 2 GiB

// Under AddressSanitizer the bytes between a block's size and its page end
// are poisoned, so a read or write one byte past a reservation is reported.
// Nothing else in low memory is ever poisoned, so only that tail needs
// unpoisoning when the block goes.
void poison(Address address, std::uint64_t length) {
#ifdef KESTROVA_ASAN
    __asan_poison_memory_region(host_pointer(address), length);
#else
    (void)address;
    (void)length;
#endif
}

void unpoison(Address address, std::uint64_t length) {
#ifdef KESTROVA_ASAN
    __asan_unpoison_memory_region(host_pointer(address), length);
#else
    (void)address;
    (void)length;
#endif
}

// Maps `length` bytes, the last page inaccessible; 0 on failure.
Address map_low(Address address, std::uint64_t length) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
    flags |= address != 0 ? MAP_FIXED_NOREPLACE : MAP_32BIT;
    void* hint = address != 0 ? host_pointer(address) : nullptr;
    void* mapping = mmap(hint, length, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (mapping == MAP_FAILED)
        return 0;
    auto at = reinterpret_cast<std::uintptr_t>(mapping);
    // Kernels without MAP_FIXED_NOREPLACE take the address as a mere hint.
    bool misplaced = address != 0 && at != address;
    if (misplaced || at == 0 || at + length > low_limit ||
        mprotect(static_cast<std::byte*>(mapping) + length - LowMemory::page_size,
                 LowMemory::page_size, PROT_NONE) != 0) {
        munmap(mapping, length);
        return 0;
    }
    return static_cast<Address>(at);
}

} // namespace

LowMemory::~LowMemory() {
    for (auto& [base, block] : blocks_) {
        if (block.sealed)
            continue;
        unpoison(base + block.size, block.mapped - block.size);
        munmap(host_pointer(base), block.mapped + page_size);
    }
}

Address LowMemory::reserve(Address address, std::uint64_t size) {
    if (size == 0 || size >= low_limit || address % page_size != 0)
        return 0;
    std::uint64_t mapped = whole_pages(size);
    if (address != 0 && address + mapped + page_size > low_limit)
        return 0;
    Address base = map_low(address, mapped + page_size);
    if (base == 0)
        return 0;
    poison(base + size, mapped - size);
    std::lock_guard lock(mutex_);
    blocks_[base] =
        Block{base, static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(mapped), false};
    return base;
}

bool LowMemory::release(Address base) {
    std::lock_guard lock(mutex_);
    auto found = blocks_.find(base);
    if (found == blocks_.end() || found->second.sealed)
        return false;
    const Block& block = found->second;
    unpoison(base + block.size, block.mapped - block.size);
    if (munmap(host_pointer(base), std::uint64_t{block.mapped} + page_size) != 0) {
        poison(base + block.size, block.mapped - block.size);
        return false;
    }
    blocks_.erase(found);
    return true;
}

std::optional<LowMemory::Block> LowMemory::block_at(Address base) const {
    std::lock_guard lock(mutex_);
    auto found = blocks_.find(base);
    if (found == blocks_.end())
        return std::nullopt;
    return found->second;
}

std::uint32_t LowMemory::size_of(Address base) const {
    std::lock_guard lock(mutex_);
    auto found = blocks_.find(base);
    return found == blocks_.end() ? 0 : found->second.size;
}

bool LowMemory::contains(Address address, std::uint64_t length) const {
    std::lock_guard lock(mutex_);
    auto after = blocks_.upper_bound(address);
    if (after == blocks_.begin())
        return false;
    const Block& block = std::prev(after)->second;
    return std::uint64_t{address} + length <= std::uint64_t{block.base} + block.size;
}

bool LowMemory::seal(Address base) {
    std::lock_guard lock(mutex_);
    auto found = blocks_.find(base);
    if (found == blocks_.end() ||
        mprotect(host_pointer(base), found->second.mapped, PROT_READ) != 0)
        return false;
    found->second.sealed = true;
    return true;
}

std::vector<LowMemory::Block> LowMemory::blocks() const {
    std::lock_guard lock(mutex_);
    std::vector<Block> all;
    for (const auto& entry : blocks_)
        all.push_back(entry.second);
    return all;
}

} // namespace kestrova::skin
