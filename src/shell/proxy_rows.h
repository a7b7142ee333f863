// The rows of a proxy list: three cells of code page 936 bytes each, and an id
// per row that survives other rows being added or removed.
//
// Rows live in slots that are only ever appended, held in chunks of a fixed
// size so the storage never moves as it grows. Removing a row only marks its
// slot dead (its texts are freed at once); the slots are packed again once
// more than half of them are dead. So a million removals cost a million marks,
// not a million shifts of everything behind them.
#pragma once

#include "shell/window_port.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// Which slots of an append-only array are live, and the order of the live
/// ones: index -> slot and slot -> index in O(log n) through a Fenwick tree
/// over 64-slot words, and in O(1) for neighbouring indexes through a
/// bookmark left by the last lookup. Lookups move the bookmark, so even
/// readers must be serialised by the owner.
class LiveSlots {
public:
    std::size_t slot_count() const { return slots_; }
    std::size_t live_count() const { return live_; }
    bool is_live(std::size_t slot) const;
    /// Adds a live slot at the end.
    void push_live();
    /// Marks a live slot dead.
    void kill(std::size_t slot);
    /// The slot of the live row at `index`; requires index < live_count().
    std::size_t slot_at(std::size_t index) const;
    /// How many live slots lie before `slot` (any slot up to slot_count()).
    std::size_t live_before(std::size_t slot) const;
    void clear();

private:
    static constexpr std::size_t word_bits = 64;
    std::size_t live_in_words_before(std::size_t word) const;
    void add_to_word_count(std::size_t word, int delta);
    std::optional<std::size_t> walk_from_bookmark(std::size_t index) const;
    void set_bookmark(std::size_t slot, std::size_t index) const;

    std::vector<std::uint64_t> words_;   // one bit per slot, set while live
    std::vector<std::uint32_t> tree_{0}; // Fenwick tree of live counts per word, 1-based
    std::size_t slots_ = 0;
    std::size_t live_ = 0;
    // Exactly bookmark_index_ live slots lie before bookmark_slot_.
    mutable std::size_t bookmark_slot_ = 0;
    mutable std::size_t bookmark_index_ = 0;
};

/// Not thread-safe: the window ports serialise every call (reads included).
class ProxyRows {
public:
    static constexpr int column_count = 3;

    std::size_t size() const { return live_.live_count(); }
    /// Appends a row with empty cells; returns its index.
    std::size_t append();
    /// Returns false (and changes nothing) for a cell that does not exist.
    bool write(std::size_t row, int column, std::string_view text);
    /// "" for a cell that does not exist.
    const std::string& read(std::size_t row, int column) const;
    bool remove(std::size_t row);
    void clear();
    std::optional<RowId> id_of(std::size_t row) const;
    std::optional<std::size_t> index_of(RowId id) const;
    /// How many rows have an id below `id`: the index of the row with that id,
    /// or of the first row after it.
    std::size_t count_before(RowId id) const;
    void reserve(std::size_t rows) { chunks_.reserve(rows / chunk_rows + 1); }

private:
    struct Row {
        RowId id = 0;
        std::array<std::string, column_count> cells;
    };
    struct ReleaseChunk {
        void operator()(Row* rows) const;
    };
    using Chunk = std::unique_ptr<Row[], ReleaseChunk>;
    static constexpr std::size_t chunk_rows = 4096;
    static constexpr std::size_t chunk_bytes = chunk_rows * sizeof(Row);

    static Chunk new_chunk();

    Row& slot(std::size_t at) { return chunks_[at / chunk_rows][at % chunk_rows]; }
    const Row& slot(std::size_t at) const { return chunks_[at / chunk_rows][at % chunk_rows]; }
    Row& new_slot();
    /// The first slot whose id is `id` or above (ids ascend with the slots).
    std::size_t first_slot_from(RowId id) const;
    void pack_when_sparse();

    std::vector<Chunk> chunks_;
    LiveSlots live_;
    RowId next_id_ = 1;
};

} // namespace kestrova
