#include "proxylist/list_files.h"

#include "proxylist/file_io.h"
#include "proxylist/lines.h"
#include "proxylist/list_editing.h"
#include "shell/control_names.h"
#include "text/codepage.h"
#include "text/text.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <system_error>

namespace kestrova {

namespace {

// "255.255.255.255:65535" and CR LF.
constexpr std::size_t typical_line_bytes = 23;

std::string home_folder() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

FileDialogRequest dialog_request(std::string_view dialog, const std::string& last_path,
                                 const ListFileDialogs& dialogs) {
    FileDialogRequest request;
    request.dialog = dialog;
    request.filter_description = text::gbk("文本文档");
    request.filter_pattern = "*.txt";
    request.initial_directory = dialogs.last_folder.empty() ? home_folder() : dialogs.last_folder;
    request.initial_file = last_path;
    return request;
}

void remember(std::string& dialog_path, ListFileDialogs& dialogs, const std::string& path) {
    dialog_path = path;
    dialogs.last_folder = std::filesystem::path(path).parent_path().string();
}

// Paths are local (UTF-8) bytes; messages are code page 936.
std::string shown_path(const std::string& path) {
    return text::utf8_to_ansi(path);
}

// Addresses change only through appends and removals, and either one changes
// the number of rows or the id of the last row (ids only grow).
struct ListShape {
    std::size_t rows;
    std::optional<RowId> last;
    bool operator==(const ListShape&) const = default;
};

ListShape shape_of(WindowPort& port) {
    std::size_t rows = port.row_count();
    return {rows, rows == 0 ? std::nullopt : port.row_id(rows - 1)};
}

/// The addresses of every row, each with CR LF; nothing when the list
/// changed while messages were let through on the way.
std::optional<std::string> take_addresses(WindowPort& port, Pacing pacing, bool may_pause) {
    ListShape shape = shape_of(port);
    std::string lines;
    lines.reserve(shape.rows * typical_line_bytes);
    MessagePacer pacer(port, pacing);
    for (std::size_t row = 0; row < shape.rows; ++row) {
        lines += port.read_cell(row, column::address);
        lines += text::crlf;
        if (may_pause && pacer.step_done() && shape_of(port) != shape)
            return std::nullopt;
    }
    return lines;
}

// Taken in slices, so a long list does not hold the window. A list that
// changes in between is taken afresh, the last time in one go, so the text
// is always the list at one moment.
std::string export_text(WindowPort& port, Pacing pacing) {
    constexpr int sliced_attempts = 3;
    for (int attempt = 0; attempt < sliced_attempts; ++attempt)
        if (std::optional<std::string> lines = take_addresses(port, pacing, true))
            return std::move(*lines);
    return *take_addresses(port, pacing, false);
}

// Only an existing file is worth a question; a folder fails with its reason.
bool is_file_to_replace(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0)
        return !S_ISDIR(status.st_mode);
    return ::lstat(path.c_str(), &status) == 0; // a link to nothing
}

bool may_write(WindowPort& port, const std::string& target) {
    if (!is_file_to_replace(target))
        return true;
    return port.ask_yes_no(shown_path(target) + "\r\n" + text::gbk("文件已存在，要替换它吗？"));
}

void report_write(WindowPort& port, const std::string& target, std::error_code error) {
    if (!error) {
        port.message_box(text::gbk("保存成功！"));
        return;
    }
    port.message_box(text::gbk("保存失败：") + failure_reason(error) + "\r\n" + shown_path(target));
}

// The write and its flush to the disk run beside the UI thread, which keeps
// letting messages through: the text is fixed already, so nothing that runs
// in between can change what is written.
std::error_code write_while_serving(WindowPort& port, const std::string& target,
                                    const std::string& bytes) {
    std::future<std::error_code> written;
    try {
        written = std::async(std::launch::async, [&] { return replace_file(target, bytes); });
    } catch (const std::system_error&) {
        return replace_file(target, bytes); // no thread to be had: write here
    }
    while (written.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        port.let_messages_through();
    return written.get();
}

} // namespace

std::string export_target(const std::string& chosen) {
    std::string name = std::filesystem::path(chosen).filename().string();
    if (name.empty() || name.find('.', 1) != std::string::npos)
        return chosen;
    return chosen + ".txt";
}

void import_proxies(WindowPort& port, ListFileDialogs& dialogs, Pacing pacing) {
    std::optional<std::string> path =
        port.ask_open_file(dialog_request(controls::import_dialog, dialogs.import_path, dialogs));
    if (path) {
        remember(dialogs.import_path, dialogs, *path);
        MessagePacer pacer(port, pacing);
        std::string lines =
            proxy_file_text(read_whole_file(*path, [&pacer] { pacer.step_done(); }));
        append_lines(port, lines, LineEnds::lf_or_crlf, text::gbk("等待验证"), pacing);
    }
    write_proxy_count(port);
}

// The text is taken before the dialog opens: rows that change while it is
// open do not reach the file.
void export_proxies(WindowPort& port, ListFileDialogs& dialogs, Pacing pacing) {
    std::string lines = export_text(port, pacing);
    FileDialogRequest request =
        dialog_request(controls::export_dialog, dialogs.export_path, dialogs);
    // The dialog's own question would be about the name before ".txt" is
    // added; the question comes afterwards, about the name written.
    request.confirm_overwrite = false;
    std::optional<std::string> path = port.ask_save_file(request);
    if (!path)
        return;
    remember(dialogs.export_path, dialogs, *path);
    std::string target = export_target(*path);
    if (!may_write(port, target))
        return;
    report_write(port, target, write_while_serving(port, target, lines));
}

} // namespace kestrova
