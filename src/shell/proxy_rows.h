// The rows of a proxy list: three cells of code page 936 bytes each, and an id
// per row that survives other rows being added or removed.
#pragma once

#include "shell/window_port.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

class ProxyRows {
public:
    static constexpr int column_count = 3;

    std::size_t size() const { return rows_.size(); }
    /// Appends a row with empty cells; returns its index.
    std::size_t append();
    /// Returns false (and changes nothing) for a cell that does not exist.
    bool write(std::size_t row, int column, std::string_view text);
    /// "" for a cell that does not exist.
    const std::string& read(std::size_t row, int column) const;
    bool remove(std::size_t row);
    void clear() { rows_.clear(); }
    std::optional<RowId> id_of(std::size_t row) const;
    std::optional<std::size_t> index_of(RowId id) const;
    void reserve(std::size_t rows) { rows_.reserve(rows); }

private:
    struct Row {
        RowId id;
        std::array<std::string, column_count> cells;
    };
    // Rows are only ever appended at the end, so ids ascend in display order
    // and a row is found by binary search.
    std::vector<Row> rows_;
    RowId next_id_ = 1;
};

} // namespace kestrova
