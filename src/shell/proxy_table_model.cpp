#include "shell/proxy_table_model.h"

#include "shell/qt_text.h"
#include "text/text.h"

#include <QMetaObject>
#include <algorithm>

namespace kestrova {

namespace {
constexpr int removals_interval_ms = 100;
// A cell shows at most this many bytes: laying out a line of megabytes
// would hold the UI thread on every repaint. The port still reads it whole.
constexpr std::size_t shown_cell_bytes = 1024;

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

QString cell_text(std::string_view cell) {
    if (cell.size() <= shown_cell_bytes)
        return to_qstring(cell);
    std::size_t cut = 0;
    while (cut < shown_cell_bytes)
        cut += text::is_lead_byte(cell[cut]) ? 2 : 1;
    return to_qstring(cell.substr(0, cut)) + QStringLiteral("...");
}
} // namespace

ProxyTableModel::ProxyTableModel(QObject* parent) : QAbstractTableModel(parent) {
    removals_timer_.setSingleShot(true);
    connect(&removals_timer_, &QTimer::timeout, this, &ProxyTableModel::announce_rows);
}

int ProxyTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int ProxyTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ProxyRows::column_count;
}

QVariant ProxyTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= shown_.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column_alignment(index.column()));
    if (role != Qt::DisplayRole)
        return {};
    std::optional<std::size_t> row = rows_.index_of(shown_[static_cast<std::size_t>(index.row())]);
    return row ? cell_text(rows_.read(*row, index.column())) : QString();
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
    if (!rows_.write(row, column, text))
        return;
    RowId id = *rows_.id_of(row);
    if (!is_shown(id))
        return;
    changed_first_ = changed_last_ == 0 ? id : std::min(changed_first_, id);
    changed_last_ = std::max(changed_last_, id);
    schedule_announcement();
}

void ProxyTableModel::remove_row(std::size_t row) {
    std::optional<RowId> id = rows_.id_of(row);
    if (!id)
        return;
    rows_.remove(row);
    if (!is_shown(*id))
        return;
    removed_.push_back(*id);
    schedule_announcement();
}

void ProxyTableModel::remove_all_rows() {
    beginResetModel();
    rows_.clear();
    shown_.clear();
    removed_.clear();
    changed_first_ = changed_last_ = 0;
    endResetModel();
}

void ProxyTableModel::announce_rows() {
    announcement_scheduled_ = false;
    removals_timer_.stop();
    announce_removals();
    announce_appends();
    announce_changed_cells();
}

void ProxyTableModel::schedule_announcement() {
    if (announcement_scheduled_)
        return;
    announcement_scheduled_ = true;
    QMetaObject::invokeMethod(this, &ProxyTableModel::announce_when_due, Qt::QueuedConnection);
}

void ProxyTableModel::announce_when_due() {
    announcement_scheduled_ = false;
    if (!removed_.empty()) {
        qint64 waited =
            since_removals_told_.isValid() ? since_removals_told_.elapsed() : removals_interval_ms;
        if (waited >= removals_interval_ms)
            announce_removals();
        else if (!removals_timer_.isActive())
            removals_timer_.start(static_cast<int>(removals_interval_ms - waited));
    }
    announce_appends();
    announce_changed_cells();
}

void ProxyTableModel::announce_removals() {
    if (removed_.empty())
        return;
    std::sort(removed_.begin(), removed_.end());
    auto first = std::lower_bound(shown_.begin(), shown_.end(), removed_.front());
    auto last = std::lower_bound(first, shown_.end(), removed_.back());
    if (static_cast<std::size_t>(last - first) + 1 == removed_.size()) {
        beginRemoveRows({}, static_cast<int>(first - shown_.begin()),
                        static_cast<int>(last - shown_.begin()));
        shown_.erase(first, last + 1);
        endRemoveRows();
    } else {
        beginResetModel();
        auto gone = removed_.begin();
        std::erase_if(shown_, [&](RowId id) {
            gone = std::lower_bound(gone, removed_.end(), id);
            return gone != removed_.end() && *gone == id;
        });
        endResetModel();
    }
    removed_.clear();
    since_removals_told_.start();
}

void ProxyTableModel::announce_appends() {
    std::size_t first = shown_.empty() ? 0 : rows_.count_before(shown_.back() + 1);
    if (first >= rows_.size())
        return;
    beginInsertRows({}, static_cast<int>(shown_.size()),
                    static_cast<int>(shown_.size() + rows_.size() - first - 1));
    for (std::size_t row = first; row < rows_.size(); ++row)
        shown_.push_back(*rows_.id_of(row));
    endInsertRows();
}

void ProxyTableModel::announce_changed_cells() {
    if (changed_last_ == 0)
        return;
    auto first = std::lower_bound(shown_.begin(), shown_.end(), changed_first_);
    auto end = std::upper_bound(first, shown_.end(), changed_last_);
    changed_first_ = changed_last_ = 0;
    if (first == end)
        return;
    Q_EMIT dataChanged(
        index(static_cast<int>(first - shown_.begin()), 0),
        index(static_cast<int>(end - shown_.begin()) - 1, ProxyRows::column_count - 1),
        {Qt::DisplayRole});
}

} // namespace kestrova
