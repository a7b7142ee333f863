#include "shell/proxy_rows.h"

#include <algorithm>

namespace kestrova {

namespace {
const std::string no_text;

bool valid_column(int column) {
    return column >= 0 && column < ProxyRows::column_count;
}
} // namespace

std::size_t ProxyRows::append() {
    rows_.push_back(Row{next_id_++, {}});
    return rows_.size() - 1;
}

bool ProxyRows::write(std::size_t row, int column, std::string_view text) {
    if (row >= rows_.size() || !valid_column(column))
        return false;
    rows_[row].cells[static_cast<std::size_t>(column)].assign(text);
    return true;
}

const std::string& ProxyRows::read(std::size_t row, int column) const {
    if (row >= rows_.size() || !valid_column(column))
        return no_text;
    return rows_[row].cells[static_cast<std::size_t>(column)];
}

bool ProxyRows::remove(std::size_t row) {
    if (row >= rows_.size())
        return false;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
    return true;
}

std::optional<RowId> ProxyRows::id_of(std::size_t row) const {
    if (row >= rows_.size())
        return std::nullopt;
    return rows_[row].id;
}

std::optional<std::size_t> ProxyRows::index_of(RowId id) const {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                               [](const Row& row, RowId wanted) { return row.id < wanted; });
    if (it == rows_.end() || it->id != id)
        return std::nullopt;
    return static_cast<std::size_t>(it - rows_.begin());
}

} // namespace kestrova
