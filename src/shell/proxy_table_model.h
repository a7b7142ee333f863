// The model behind 超级列表框1: every cell held as code page 936 bytes.
//
// Rows and cells change at once (every window port call sees the new state),
// but the view hears of the changes in batches, when the UI thread next
// handles its events: appended rows as one insertion, changed cells as one
// range. A view over a million rows pays several milliseconds for every
// removal it hears of, so removals are told at most every 100 ms: as one
// removal when the removed rows lie together, else as a reset. Until then
// the view keeps the removed rows, shown empty.
#pragma once

#include "shell/proxy_rows.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTimer>
#include <deque>
#include <vector>

namespace kestrova {

class ProxyTableModel : public QAbstractTableModel {
public:
    explicit ProxyTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const ProxyRows& rows() const { return rows_; }
    std::size_t append_row();
    void write_cell(std::size_t row, int column, std::string_view text);
    void remove_row(std::size_t row);
    void remove_all_rows();

    /// Tells the view about every change since the last time, now.
    void announce_rows();

private:
    void schedule_announcement();
    void announce_when_due();
    void announce_removals();
    void announce_appends();
    void announce_changed_cells();
    bool is_shown(RowId id) const { return !shown_.empty() && id <= shown_.back(); }

    ProxyRows rows_;
    // The rows the view knows of, in display order; removed rows stay here
    // until the view has been told. (A deque grows without moving.)
    std::deque<RowId> shown_;
    std::vector<RowId> removed_; // shown rows removed since the view was told
    RowId changed_first_ = 0;    // shown rows whose cells changed since
    RowId changed_last_ = 0;     // (0: none)
    bool announcement_scheduled_ = false;
    QElapsedTimer since_removals_told_;
    QTimer removals_timer_;
};

/// Column widths of 超级列表框1, in pixels.
inline constexpr int proxy_column_widths[] = {50, 182, 88};

} // namespace kestrova
