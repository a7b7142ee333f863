#include "shell/memory_window_port.h"

#include "shell/control_names.h"
#include "text/codepage.h"

#include <algorithm>

namespace kestrova {

namespace {
template <typename Map, typename Value>
Value find_or(const Map& map, std::string_view key, Value fallback) {
    auto it = map.find(key);
    return it == map.end() ? fallback : it->second;
}
} // namespace

std::unique_ptr<MemoryWindowPort> MemoryWindowPort::main_window() {
    auto port = std::make_unique<MemoryWindowPort>();
    using text::gbk;
    port->captions_ = {
        {std::string(controls::proxy_frame), gbk("代理(0)")},
        {std::string(controls::harvest_button), gbk("截取代理")},
        {std::string(controls::add_button), gbk("添加到列表")},
        {std::string(controls::import_button), gbk("导入代理")},
        {std::string(controls::export_button), gbk("导出代理")},
        {std::string(controls::dedup_button), gbk("删除重复")},
        {std::string(controls::clear_button), gbk("清空代理")},
        {std::string(controls::timeout_frame), gbk("设置超时时间")},
        {std::string(controls::threads_frame), gbk("验证线程数量")},
        {std::string(controls::start_button), gbk("开始验证")},
        {std::string(controls::pause_button), gbk("暂停验证")},
    };
    port->boxes_ = {
        {std::string(controls::proxy_input), ""},
        {std::string(controls::timeout_box), "2000"},
        {std::string(controls::threads_box), "30"},
        {std::string(controls::activity_log), ""},
    };
    return port;
}

std::size_t MemoryWindowPort::row_count() {
    std::lock_guard lock(mutex_);
    return rows_.size();
}

std::size_t MemoryWindowPort::append_row() {
    std::lock_guard lock(mutex_);
    return rows_.append();
}

void MemoryWindowPort::write_cell(std::size_t row, int column, std::string_view text) {
    std::lock_guard lock(mutex_);
    rows_.write(row, column, text);
}

std::string MemoryWindowPort::read_cell(std::size_t row, int column) {
    std::lock_guard lock(mutex_);
    return rows_.read(row, column);
}

void MemoryWindowPort::remove_row(std::size_t row) {
    std::lock_guard lock(mutex_);
    rows_.remove(row);
}

void MemoryWindowPort::remove_all_rows() {
    std::lock_guard lock(mutex_);
    rows_.clear();
}

std::optional<RowId> MemoryWindowPort::row_id(std::size_t row) {
    std::lock_guard lock(mutex_);
    return rows_.id_of(row);
}

std::optional<std::size_t> MemoryWindowPort::row_index(RowId id) {
    std::lock_guard lock(mutex_);
    return rows_.index_of(id);
}

std::optional<std::string> MemoryWindowPort::read_cell_of(RowId id, int column) {
    std::lock_guard lock(mutex_);
    std::optional<std::size_t> row = rows_.index_of(id);
    if (!row)
        return std::nullopt;
    return rows_.read(*row, column);
}

bool MemoryWindowPort::write_cell_of(RowId id, int column, std::string_view text) {
    std::lock_guard lock(mutex_);
    std::optional<std::size_t> row = rows_.index_of(id);
    return row && rows_.write(*row, column, text);
}

bool MemoryWindowPort::remove_row_if(std::size_t row, int column, std::string_view text) {
    std::lock_guard lock(mutex_);
    if (row >= rows_.size() || rows_.read(row, column) != text)
        return false;
    return rows_.remove(row);
}

std::string MemoryWindowPort::caption(std::string_view control) {
    std::lock_guard lock(mutex_);
    return find_or(captions_, control, std::string());
}

void MemoryWindowPort::set_caption(std::string_view control, std::string_view text) {
    std::lock_guard lock(mutex_);
    captions_.insert_or_assign(std::string(control), std::string(text));
}

std::string MemoryWindowPort::box_text(std::string_view control) {
    std::lock_guard lock(mutex_);
    return find_or(boxes_, control, std::string());
}

void MemoryWindowPort::set_box_text(std::string_view control, std::string_view text) {
    std::lock_guard lock(mutex_);
    boxes_.insert_or_assign(std::string(control), std::string(text));
}

void MemoryWindowPort::append_to_box(std::string_view control, std::string_view text) {
    std::lock_guard lock(mutex_);
    auto it = boxes_.find(control);
    if (it == boxes_.end())
        it = boxes_.emplace(std::string(control), std::string()).first;
    it->second.append(text);
}

bool MemoryWindowPort::is_enabled(std::string_view control) {
    std::lock_guard lock(mutex_);
    return find_or(enabled_, control, true);
}

void MemoryWindowPort::set_enabled(std::string_view control, bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_.insert_or_assign(std::string(control), enabled);
}

// The progress bar keeps its position inside 0..maximum, as the window's does.
void MemoryWindowPort::set_progress_maximum(std::string_view bar, int maximum) {
    std::lock_guard lock(mutex_);
    Progress& progress = progress_[std::string(bar)];
    progress.maximum = std::max(maximum, 0);
    progress.position = std::min(progress.position, progress.maximum);
}

int MemoryWindowPort::progress_maximum(std::string_view bar) {
    std::lock_guard lock(mutex_);
    return find_or(progress_, bar, Progress{}).maximum;
}

int MemoryWindowPort::progress_position(std::string_view bar) {
    std::lock_guard lock(mutex_);
    return find_or(progress_, bar, Progress{}).position;
}

void MemoryWindowPort::set_progress_position(std::string_view bar, int position) {
    std::lock_guard lock(mutex_);
    Progress& progress = progress_[std::string(bar)];
    progress.position = std::clamp(position, 0, progress.maximum);
}

void MemoryWindowPort::step_progress(std::string_view bar, int delta) {
    std::lock_guard lock(mutex_);
    Progress& progress = progress_[std::string(bar)];
    long long next = static_cast<long long>(progress.position) + delta;
    progress.position = static_cast<int>(std::clamp<long long>(next, 0, progress.maximum));
}

void MemoryWindowPort::let_messages_through() {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        ++messages_let_through_;
        hook = message_hook_;
    }
    if (hook)
        hook();
}

void MemoryWindowPort::message_box(std::string_view text) {
    std::lock_guard lock(mutex_);
    message_boxes_.emplace_back(text);
}

bool MemoryWindowPort::ask_yes_no(std::string_view text) {
    std::lock_guard lock(mutex_);
    questions_.emplace_back(text);
    if (answers_.empty())
        return false;
    bool yes = answers_.front();
    answers_.pop_front();
    return yes;
}

std::optional<std::string> MemoryWindowPort::ask_open_file(const FileDialogRequest& request) {
    return answer_file_dialog(request);
}

std::optional<std::string> MemoryWindowPort::ask_save_file(const FileDialogRequest& request) {
    return answer_file_dialog(request);
}

std::optional<std::string> MemoryWindowPort::answer_file_dialog(const FileDialogRequest& request) {
    std::lock_guard lock(mutex_);
    file_requests_.push_back(request);
    if (file_choices_.empty())
        return std::nullopt;
    std::optional<std::string> choice = std::move(file_choices_.front());
    file_choices_.pop_front();
    return choice;
}

void MemoryWindowPort::set_message_hook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    message_hook_ = std::move(hook);
}

std::size_t MemoryWindowPort::messages_let_through() {
    std::lock_guard lock(mutex_);
    return messages_let_through_;
}

std::vector<std::string> MemoryWindowPort::message_boxes() {
    std::lock_guard lock(mutex_);
    return message_boxes_;
}

std::vector<std::string> MemoryWindowPort::questions() {
    std::lock_guard lock(mutex_);
    return questions_;
}

void MemoryWindowPort::queue_answer(bool yes) {
    std::lock_guard lock(mutex_);
    answers_.push_back(yes);
}

void MemoryWindowPort::queue_file_choice(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    file_choices_.push_back(std::move(path));
}

std::vector<FileDialogRequest> MemoryWindowPort::file_requests() {
    std::lock_guard lock(mutex_);
    return file_requests_;
}

} // namespace kestrova
