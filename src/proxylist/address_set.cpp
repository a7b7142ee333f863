#include "proxylist/address_set.h"

#include <bit>
#include <cstring>
#include <functional>

namespace kestrova {

namespace {
constexpr std::size_t block_bytes = std::size_t{1} << 20;
constexpr std::size_t header_bytes = 2 * sizeof(std::uint64_t); // hash, length

std::uint64_t stored_value(const char* record, std::size_t field) {
    std::uint64_t value = 0;
    std::memcpy(&value, record + field * sizeof value, sizeof value);
    return value;
}

std::string_view stored_text(const char* record) {
    return {record + header_bytes, static_cast<std::size_t>(stored_value(record, 1))};
}

// At most half full, so probe runs stay short.
std::size_t slots_for(std::size_t addresses) {
    return std::bit_ceil(std::max<std::size_t>(64, addresses * 2));
}
} // namespace

AddressSet::AddressSet(std::size_t expected)
    : table_(empty_table(slots_for(expected))), slots_(slots_for(expected)) {}

// calloc: the pages of a large table are touched only when used.
AddressSet::Table AddressSet::empty_table(std::size_t slots) {
    return Table(static_cast<const char**>(std::calloc(slots, sizeof(const char*))));
}

bool AddressSet::insert(std::string_view address) {
    if ((size_ + 1) * 2 > slots_)
        grow();
    std::uint64_t hash = std::hash<std::string_view>{}(address);
    const char*& slot = slot_of(address, hash);
    if (slot)
        return false;
    slot = store(address, hash);
    ++size_;
    return true;
}

const char*& AddressSet::slot_of(std::string_view address, std::uint64_t hash) {
    std::size_t mask = slots_ - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const char*& slot = table_[at];
        if (!slot || (stored_value(slot, 0) == hash && stored_text(slot) == address))
            return slot;
    }
}

const char* AddressSet::store(std::string_view address, std::uint64_t hash) {
    std::size_t need = header_bytes + address.size();
    if (block_used_ + need > block_size_) {
        block_size_ = std::max(block_bytes, need);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size_));
        block_used_ = 0;
    }
    char* record = blocks_.back().get() + block_used_;
    std::uint64_t length = address.size();
    std::memcpy(record, &hash, sizeof hash);
    std::memcpy(record + sizeof hash, &length, sizeof length);
    std::memcpy(record + header_bytes, address.data(), address.size());
    block_used_ += need;
    return record;
}

void AddressSet::grow() {
    Table old = std::move(table_);
    std::size_t old_slots = slots_;
    slots_ *= 2;
    table_ = empty_table(slots_);
    for (std::size_t at = 0; at < old_slots; ++at) {
        if (!old[at])
            continue;
        std::size_t slot = stored_value(old[at], 0) & (slots_ - 1);
        while (table_[slot])
            slot = (slot + 1) & (slots_ - 1);
        table_[slot] = old[at];
    }
}

} // namespace kestrova
