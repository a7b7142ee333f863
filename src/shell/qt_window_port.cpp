#include "shell/qt_window_port.h"

#include "shell/qt_text.h"
#include "shell/thread_bridge.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <algorithm>

namespace kestrova {

namespace {
// The bar's logical range; the widget shows an empty bar for a maximum of 0
// (Qt would show a busy indicator) and keeps the position inside the range.
const char* const maximum_property = "kestrova_maximum";
const char* const position_property = "kestrova_position";

int logical(const QProgressBar* bar, const char* property, int fallback) {
    QVariant value = bar->property(property);
    return value.isValid() ? value.toInt() : fallback;
}

int bar_maximum(const QProgressBar* bar) {
    return logical(bar, maximum_property, bar->maximum());
}

int bar_position(const QProgressBar* bar) {
    return logical(bar, position_property, std::max(bar->value(), 0));
}

void show_progress(QProgressBar* bar, int maximum, int position) {
    position = std::clamp(position, 0, maximum);
    bar->setProperty(maximum_property, maximum);
    bar->setProperty(position_property, position);
    bar->setRange(0, std::max(maximum, 1));
    bar->setValue(position);
}

std::string path_text(const std::optional<QString>& path, bool& chosen) {
    chosen = path.has_value();
    if (!path)
        return {};
    QByteArray local = QFile::encodeName(*path);
    return std::string(local.constData(), static_cast<std::size_t>(local.size()));
}

void append_at_end(QPlainTextEdit* box, const QString& text) {
    QTextCursor cursor = box->textCursor();
    cursor.movePosition(QTextCursor::End);
    box->setTextCursor(cursor);
    box->insertPlainText(text);
    box->ensureCursorVisible();
}
} // namespace

QtWindowPort::QtWindowPort(QWidget* window, ProxyTableModel* rows)
    : window_(window), rows_(rows), dialogs_(std::make_shared<QtDialogs>()) {
    UiThreadBridge::instance();
}

void QtWindowPort::set_dialogs(std::shared_ptr<UserDialogs> dialogs) {
    with_window([&] { dialogs_ = std::move(dialogs); });
}

template <typename Result, typename Fn>
Result QtWindowPort::with_window(Result fallback, Fn&& work) {
    return UiThreadBridge::instance().call([&]() -> Result {
        if (!window_ || detached_)
            return fallback;
        return work();
    });
}

template <typename Fn> void QtWindowPort::with_window(Fn&& work) {
    UiThreadBridge::instance().call([&] {
        if (window_ && !detached_)
            work();
    });
}

void QtWindowPort::detach() {
    with_window([&] { detached_ = true; });
}

QWidget* QtWindowPort::control(std::string_view name) {
    auto known = controls_.find(name);
    if (known != controls_.end() && known->second)
        return known->second;
    QString object_name = qs(name);
    QWidget* widget = window_->objectName() == object_name
                          ? window_.data()
                          : window_->findChild<QWidget*>(object_name);
    if (widget)
        controls_.insert_or_assign(std::string(name), QPointer<QWidget>(widget));
    return widget;
}

std::size_t QtWindowPort::row_count() {
    return with_window(std::size_t{0}, [&] { return rows_ ? rows_->rows().size() : 0; });
}

std::size_t QtWindowPort::append_row() {
    return with_window(std::size_t{0}, [&] { return rows_ ? rows_->append_row() : 0; });
}

void QtWindowPort::write_cell(std::size_t row, int column, std::string_view text) {
    with_window([&] {
        if (rows_)
            rows_->write_cell(row, column, text);
    });
}

std::string QtWindowPort::read_cell(std::size_t row, int column) {
    return with_window(std::string(),
                       [&] { return rows_ ? rows_->rows().read(row, column) : std::string(); });
}

void QtWindowPort::remove_row(std::size_t row) {
    with_window([&] {
        if (rows_)
            rows_->remove_row(row);
    });
}

void QtWindowPort::remove_all_rows() {
    with_window([&] {
        if (rows_)
            rows_->remove_all_rows();
    });
}

std::optional<RowId> QtWindowPort::row_id(std::size_t row) {
    return with_window(std::optional<RowId>(),
                       [&] { return rows_ ? rows_->rows().id_of(row) : std::optional<RowId>(); });
}

std::optional<std::size_t> QtWindowPort::row_index(RowId id) {
    return with_window(std::optional<std::size_t>(), [&] {
        return rows_ ? rows_->rows().index_of(id) : std::optional<std::size_t>();
    });
}

std::optional<std::string> QtWindowPort::read_cell_of(RowId id, int column) {
    return with_window(std::optional<std::string>(), [&]() -> std::optional<std::string> {
        std::optional<std::size_t> row = rows_ ? rows_->rows().index_of(id) : std::nullopt;
        if (!row)
            return std::nullopt;
        return rows_->rows().read(*row, column);
    });
}

bool QtWindowPort::write_cell_of(RowId id, int column, std::string_view text) {
    return with_window(false, [&] {
        std::optional<std::size_t> row = rows_ ? rows_->rows().index_of(id) : std::nullopt;
        if (!row || column < 0 || column >= ProxyRows::column_count)
            return false;
        rows_->write_cell(*row, column, text);
        return true;
    });
}

bool QtWindowPort::remove_row_if(std::size_t row, int column, std::string_view text) {
    return with_window(false, [&] {
        if (!rows_ || row >= rows_->rows().size() || rows_->rows().read(row, column) != text)
            return false;
        rows_->remove_row(row);
        return true;
    });
}

std::string QtWindowPort::caption(std::string_view name) {
    return with_window(std::string(), [&] {
        QWidget* widget = control(name);
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            return from_qstring(button->text());
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            return from_qstring(group->title());
        return std::string();
    });
}

void QtWindowPort::set_caption(std::string_view name, std::string_view text) {
    with_window([&] {
        QWidget* widget = control(name);
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(to_qstring(text));
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            group->setTitle(to_qstring(text));
    });
}

std::string QtWindowPort::box_text(std::string_view name) {
    return with_window(std::string(), [&] {
        QWidget* widget = control(name);
        if (auto* box = qobject_cast<QPlainTextEdit*>(widget))
            return from_qt_lines(box->toPlainText());
        if (auto* line = qobject_cast<QLineEdit*>(widget))
            return from_qstring(line->text());
        return std::string();
    });
}

void QtWindowPort::set_box_text(std::string_view name, std::string_view text) {
    with_window([&] {
        QWidget* widget = control(name);
        if (auto* box = qobject_cast<QPlainTextEdit*>(widget))
            box->setPlainText(to_qt_lines(text));
        else if (auto* line = qobject_cast<QLineEdit*>(widget))
            line->setText(to_qstring(text));
    });
}

void QtWindowPort::append_to_box(std::string_view name, std::string_view text) {
    with_window([&] {
        QWidget* widget = control(name);
        if (auto* box = qobject_cast<QPlainTextEdit*>(widget))
            append_at_end(box, to_qt_lines(text));
        else if (auto* line = qobject_cast<QLineEdit*>(widget))
            line->setText(line->text() + to_qstring(text));
    });
}

bool QtWindowPort::is_enabled(std::string_view name) {
    return with_window(false, [&] {
        QWidget* widget = control(name);
        return widget != nullptr && widget->isEnabled();
    });
}

void QtWindowPort::set_enabled(std::string_view name, bool enabled) {
    with_window([&] {
        if (QWidget* widget = control(name))
            widget->setEnabled(enabled);
    });
}

void QtWindowPort::set_progress_maximum(std::string_view name, int maximum) {
    with_window([&] {
        if (auto* bar = qobject_cast<QProgressBar*>(control(name)))
            show_progress(bar, std::max(maximum, 0), bar_position(bar));
    });
}

int QtWindowPort::progress_maximum(std::string_view name) {
    return with_window(0, [&] {
        auto* bar = qobject_cast<QProgressBar*>(control(name));
        return bar ? bar_maximum(bar) : 0;
    });
}

int QtWindowPort::progress_position(std::string_view name) {
    return with_window(0, [&] {
        auto* bar = qobject_cast<QProgressBar*>(control(name));
        return bar ? bar_position(bar) : 0;
    });
}

void QtWindowPort::set_progress_position(std::string_view name, int position) {
    with_window([&] {
        if (auto* bar = qobject_cast<QProgressBar*>(control(name)))
            show_progress(bar, bar_maximum(bar), position);
    });
}

void QtWindowPort::step_progress(std::string_view name, int delta) {
    with_window([&] {
        auto* bar = qobject_cast<QProgressBar*>(control(name));
        if (!bar)
            return;
        long long next = static_cast<long long>(bar_position(bar)) + delta;
        show_progress(bar, bar_maximum(bar),
                      static_cast<int>(std::clamp<long long>(next, 0, bar_maximum(bar))));
    });
}

void QtWindowPort::let_messages_through() {
    if (UiThreadBridge::instance().on_ui_thread())
        QCoreApplication::processEvents();
}

void QtWindowPort::message_box(std::string_view text) {
    with_window([&] { dialogs_->message_box(window_, to_qt_lines(text)); });
}

bool QtWindowPort::ask_yes_no(std::string_view text) {
    return with_window(false, [&] { return dialogs_->ask_yes_no(window_, to_qt_lines(text)); });
}

std::optional<std::string> QtWindowPort::ask_open_file(const FileDialogRequest& request) {
    return with_window(std::optional<std::string>(), [&]() -> std::optional<std::string> {
        bool chosen = false;
        std::string path = path_text(dialogs_->open_file(window_, request), chosen);
        return chosen ? std::optional(path) : std::nullopt;
    });
}

std::optional<std::string> QtWindowPort::ask_save_file(const FileDialogRequest& request) {
    return with_window(std::optional<std::string>(), [&]() -> std::optional<std::string> {
        bool chosen = false;
        std::string path = path_text(dialogs_->save_file(window_, request), chosen);
        return chosen ? std::optional(path) : std::nullopt;
    });
}

} // namespace kestrova
