// The addresses seen so far by remove_duplicates, compared whole and byte
// for byte.
//
// Each address is kept once, with its hash and length, in blocks of a
// megabyte that never move; the table holds only pointers to them. So a
// million addresses cost a few dozen allocations, not two million, and no
// step copies everything seen so far (fresh memory is costly to touch in one
// go, and the UI thread would wait for it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrova {

class AddressSet {
public:
    /// Room for `expected` addresses before the table has to grow.
    explicit AddressSet(std::size_t expected = 0);

    /// Adds `address`; false when an equal one is there already.
    bool insert(std::string_view address);
    std::size_t size() const { return size_; }

private:
    struct FreeMemory {
        void operator()(void* memory) const { std::free(memory); }
    };
    using Table = std::unique_ptr<const char*[], FreeMemory>;

    static Table empty_table(std::size_t slots);
    /// The slot holding `address`, or the empty one where it belongs.
    const char*& slot_of(std::string_view address, std::uint64_t hash);
    const char* store(std::string_view address, std::uint64_t hash);
    void grow();

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t block_used_ = 0;
    std::size_t block_size_ = 0;
    Table table_; // open addressing, linear probing, power-of-two size
    std::size_t slots_ = 0;
    std::size_t size_ = 0;
};

} // namespace kestrova
