#include "shell/proxy_table_model.h"

#include "shell/qt_text.h"

#include <QMetaObject>

namespace kestrova {

namespace {
QString column_title(int section) {
    switch (section) {
    case 0:
        return qs("序号");
    case 1:
        return qs("代理IP");
    case 2:
        return qs("验证状态");
    default:
        return {};
    }
}

Qt::Alignment column_alignment(int section) {
    return section == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::AlignCenter;
}
} // namespace

ProxyTableModel::ProxyTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int ProxyTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(announced_);
}

int ProxyTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ProxyRows::column_count;
}

QVariant ProxyTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= announced_)
        return {};
    if (role == Qt::DisplayRole)
        return to_qstring(rows_.read(static_cast<std::size_t>(index.row()), index.column()));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column_alignment(index.column()));
    return {};
}

QVariant ProxyTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return column_title(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column_alignment(section));
    return {};
}

Qt::ItemFlags ProxyTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

std::size_t ProxyTableModel::append_row() {
    std::size_t index = rows_.append();
    schedule_announcement();
    return index;
}

void ProxyTableModel::write_cell(std::size_t row, int column, std::string_view text) {
    if (!rows_.write(row, column, text) || row >= announced_)
        return;
    QModelIndex cell = index(static_cast<int>(row), column);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}

void ProxyTableModel::remove_row(std::size_t row) {
    if (row >= rows_.size())
        return;
    announce_rows();
    int at = static_cast<int>(row);
    beginRemoveRows({}, at, at);
    rows_.remove(row);
    --announced_;
    endRemoveRows();
}

void ProxyTableModel::remove_all_rows() {
    beginResetModel();
    rows_.clear();
    announced_ = 0;
    endResetModel();
}

void ProxyTableModel::announce_rows() {
    announcement_scheduled_ = false;
    if (rows_.size() <= announced_)
        return;
    beginInsertRows({}, static_cast<int>(announced_), static_cast<int>(rows_.size() - 1));
    announced_ = rows_.size();
    endInsertRows();
}

void ProxyTableModel::schedule_announcement() {
    if (announcement_scheduled_)
        return;
    announcement_scheduled_ = true;
    QMetaObject::invokeMethod(this, &ProxyTableModel::announce_rows, Qt::QueuedConnection);
}

} // namespace kestrova
