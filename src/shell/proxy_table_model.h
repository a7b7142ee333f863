// The model behind 超级列表框1: every cell held as code page 936 bytes.
//
// Rows are stored at once, but the view hears of appended rows in batches
// (when the UI thread next handles its events), so a million appends cost a
// million vector pushes, not a million view updates.
#pragma once

#include "shell/proxy_rows.h"

#include <QAbstractTableModel>

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

    /// Tells the view about rows appended since the last time.
    void announce_rows();

private:
    void schedule_announcement();

    ProxyRows rows_;
    std::size_t announced_ = 0;
    bool announcement_scheduled_ = false;
};

/// Column widths of 超级列表框1, in pixels.
inline constexpr int proxy_column_widths[] = {50, 182, 88};

} // namespace kestrova
