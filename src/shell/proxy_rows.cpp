#include "shell/proxy_rows.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <sys/mman.h>

namespace kestrova {

namespace {
const std::string no_text;

bool valid_column(int column) {
    return column >= 0 && column < ProxyRows::column_count;
}

std::size_t lowest_bit(std::size_t node) {
    return node & (~node + 1);
}

/// Position of the set bit that has `n` set bits below it.
std::size_t nth_set_bit(std::uint64_t bits, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        bits &= bits - 1;
    return static_cast<std::size_t>(std::countr_zero(bits));
}

// A walk from the bookmark looks at this many words before it gives way to
// the tree.
constexpr std::size_t walk_words = 4;
} // namespace

// --- LiveSlots ---------------------------------------------------------------

bool LiveSlots::is_live(std::size_t slot) const {
    return slot < slots_ && (words_[slot / word_bits] >> (slot % word_bits) & 1U) != 0;
}

void LiveSlots::push_live() {
    if (slots_ % word_bits == 0) {
        words_.push_back(0);
        // The new node covers the words (node - lowest_bit(node), node]; the
        // new word itself still counts 0.
        std::size_t node = words_.size();
        tree_.push_back(static_cast<std::uint32_t>(live_in_words_before(node - 1) -
                                                   live_in_words_before(node - lowest_bit(node))));
    }
    words_.back() |= std::uint64_t{1} << (slots_ % word_bits);
    add_to_word_count(words_.size() - 1, 1);
    ++slots_;
    ++live_;
}

void LiveSlots::kill(std::size_t slot) {
    words_[slot / word_bits] &= ~(std::uint64_t{1} << (slot % word_bits));
    add_to_word_count(slot / word_bits, -1);
    --live_;
    if (slot < bookmark_slot_)
        --bookmark_index_;
}

std::size_t LiveSlots::slot_at(std::size_t index) const {
    if (std::optional<std::size_t> walked = walk_from_bookmark(index))
        return *walked;
    // Descend the tree to the word that holds the live slot number `index`.
    std::size_t node = 0;
    std::size_t rest = index;
    for (std::size_t step = std::bit_floor(tree_.size() - 1); step > 0; step >>= 1) {
        if (node + step < tree_.size() && tree_[node + step] <= rest) {
            node += step;
            rest -= tree_[node];
        }
    }
    std::size_t slot = node * word_bits + nth_set_bit(words_[node], rest);
    set_bookmark(slot, index);
    return slot;
}

std::size_t LiveSlots::live_before(std::size_t slot) const {
    std::size_t word = slot / word_bits;
    std::size_t count = live_in_words_before(word);
    if (word < words_.size()) {
        std::uint64_t below = (std::uint64_t{1} << (slot % word_bits)) - 1;
        count += static_cast<std::size_t>(std::popcount(words_[word] & below));
    }
    set_bookmark(slot, count);
    return count;
}

void LiveSlots::clear() {
    words_ = {};
    tree_ = {0};
    slots_ = 0;
    live_ = 0;
    set_bookmark(0, 0);
}

std::size_t LiveSlots::live_in_words_before(std::size_t word) const {
    std::size_t count = 0;
    for (std::size_t node = word; node > 0; node -= lowest_bit(node))
        count += tree_[node];
    return count;
}

void LiveSlots::add_to_word_count(std::size_t word, int delta) {
    for (std::size_t node = word + 1; node < tree_.size(); node += lowest_bit(node))
        tree_[node] = static_cast<std::uint32_t>(static_cast<int>(tree_[node]) + delta);
}

std::optional<std::size_t> LiveSlots::walk_from_bookmark(std::size_t index) const {
    if (index < bookmark_index_)
        return std::nullopt;
    std::size_t rest = index - bookmark_index_;
    std::size_t word = bookmark_slot_ / word_bits;
    if (word >= words_.size())
        return std::nullopt;
    std::uint64_t bits = words_[word] & (~std::uint64_t{0} << (bookmark_slot_ % word_bits));
    for (std::size_t walked = 0; walked < walk_words; ++walked) {
        auto count = static_cast<std::size_t>(std::popcount(bits));
        if (rest < count) {
            std::size_t slot = word * word_bits + nth_set_bit(bits, rest);
            set_bookmark(slot, index);
            return slot;
        }
        rest -= count;
        if (++word >= words_.size())
            return std::nullopt;
        bits = words_[word];
    }
    return std::nullopt;
}

void LiveSlots::set_bookmark(std::size_t slot, std::size_t index) const {
    bookmark_slot_ = slot;
    bookmark_index_ = index;
}

// --- ProxyRows -----------------------------------------------------------------

std::size_t ProxyRows::append() {
    new_slot() = Row{next_id_++, {}};
    live_.push_live();
    return live_.live_count() - 1;
}

bool ProxyRows::write(std::size_t row, int column, std::string_view text) {
    if (row >= size() || !valid_column(column))
        return false;
    slot(live_.slot_at(row)).cells[static_cast<std::size_t>(column)].assign(text);
    return true;
}

const std::string& ProxyRows::read(std::size_t row, int column) const {
    if (row >= size() || !valid_column(column))
        return no_text;
    return slot(live_.slot_at(row)).cells[static_cast<std::size_t>(column)];
}

bool ProxyRows::remove(std::size_t row) {
    if (row >= size())
        return false;
    std::size_t at = live_.slot_at(row);
    slot(at).cells = {};
    live_.kill(at);
    pack_when_sparse();
    return true;
}

void ProxyRows::clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    live_.clear();
}

std::optional<RowId> ProxyRows::id_of(std::size_t row) const {
    if (row >= size())
        return std::nullopt;
    return slot(live_.slot_at(row)).id;
}

std::optional<std::size_t> ProxyRows::index_of(RowId id) const {
    std::size_t at = first_slot_from(id);
    if (at >= live_.slot_count() || slot(at).id != id || !live_.is_live(at))
        return std::nullopt;
    return live_.live_before(at);
}

std::size_t ProxyRows::count_before(RowId id) const {
    return live_.live_before(first_slot_from(id));
}

// A chunk comes from the system with its pages mapped in one go: touched
// page by page, a million rows would cost a page fault every 39 rows.
ProxyRows::Chunk ProxyRows::new_chunk() {
    void* memory = ::mmap(nullptr, chunk_bytes, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    auto* rows = static_cast<Row*>(memory);
    std::uninitialized_value_construct_n(rows, chunk_rows);
    return Chunk(rows);
}

void ProxyRows::ReleaseChunk::operator()(Row* rows) const {
    std::destroy_n(rows, chunk_rows);
    ::munmap(rows, chunk_bytes);
}

// The slot after the last one, in a new chunk when the last is full. (The
// caller marks it live.)
ProxyRows::Row& ProxyRows::new_slot() {
    std::size_t at = live_.slot_count();
    if (at == chunks_.size() * chunk_rows)
        chunks_.push_back(new_chunk());
    return slot(at);
}

std::size_t ProxyRows::first_slot_from(RowId id) const {
    std::size_t low = 0;
    std::size_t high = live_.slot_count();
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (slot(middle).id < id)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// Packing moves every live row once; doing it only when dead slots outnumber
// live ones keeps its cost at most one move per removal.
void ProxyRows::pack_when_sparse() {
    std::size_t dead = live_.slot_count() - live_.live_count();
    if (dead < 64 || dead <= live_.live_count())
        return;
    std::vector<Chunk> old = std::move(chunks_);
    LiveSlots old_live = std::move(live_);
    chunks_.clear();
    chunks_.shrink_to_fit();
    live_.clear();
    for (std::size_t at = 0; at < old_live.slot_count(); ++at) {
        if (!old_live.is_live(at))
            continue;
        new_slot() = std::move(old[at / chunk_rows][at % chunk_rows]);
        live_.push_live();
    }
}

} // namespace kestrova
