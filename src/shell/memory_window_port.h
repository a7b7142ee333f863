// An in-memory window, thread-safe: serves the tests and the command-line
// front end. It records message boxes and answers questions and file dialogs
// from queues; its let_messages_through can run an injected action, which is
// how a test puts a click in the middle of a long action.
#pragma once

#include "shell/proxy_rows.h"
#include "shell/window_port.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrova {

class MemoryWindowPort : public WindowPort {
public:
    /// A window with no controls but the proxy list; any control name works.
    MemoryWindowPort() = default;
    /// A window holding the main window's initial texts.
    static std::unique_ptr<MemoryWindowPort> main_window();

    std::size_t row_count() override;
    std::size_t append_row() override;
    void write_cell(std::size_t row, int column, std::string_view text) override;
    std::string read_cell(std::size_t row, int column) override;
    void remove_row(std::size_t row) override;
    void remove_all_rows() override;
    std::optional<RowId> row_id(std::size_t row) override;
    std::optional<std::size_t> row_index(RowId id) override;
    std::optional<std::string> read_cell_of(RowId id, int column) override;
    bool write_cell_of(RowId id, int column, std::string_view text) override;
    bool remove_row_if(std::size_t row, int column, std::string_view text) override;

    std::string caption(std::string_view control) override;
    void set_caption(std::string_view control, std::string_view text) override;
    std::string box_text(std::string_view control) override;
    void set_box_text(std::string_view control, std::string_view text) override;
    void append_to_box(std::string_view control, std::string_view text) override;
    bool is_enabled(std::string_view control) override;
    void set_enabled(std::string_view control, bool enabled) override;

    void set_progress_maximum(std::string_view bar, int maximum) override;
    int progress_maximum(std::string_view bar) override;
    int progress_position(std::string_view bar) override;
    void set_progress_position(std::string_view bar, int position) override;
    void step_progress(std::string_view bar, int delta) override;

    void let_messages_through() override;
    void message_box(std::string_view text) override;
    bool ask_yes_no(std::string_view text) override;
    std::optional<std::string> ask_open_file(const FileDialogRequest& request) override;
    std::optional<std::string> ask_save_file(const FileDialogRequest& request) override;

    // --- test seams ---------------------------------------------------------
    /// Runs on every let_messages_through, outside the port's lock, so it may
    /// call the port itself (a nested click).
    void set_message_hook(std::function<void()> hook);
    std::size_t messages_let_through();
    /// Texts of every message box shown, oldest first.
    std::vector<std::string> message_boxes();
    /// Questions asked, oldest first; answers come from queue_answer (no
    /// answer queued: "no").
    std::vector<std::string> questions();
    void queue_answer(bool yes);
    /// Answers for the next file dialogs, oldest first; nullopt = cancel.
    /// No answer queued: cancel.
    void queue_file_choice(std::optional<std::string> path);
    std::vector<FileDialogRequest> file_requests();

private:
    struct Progress {
        int maximum = 100;
        int position = 0;
    };
    std::optional<std::string> answer_file_dialog(const FileDialogRequest& request);

    std::mutex mutex_;
    ProxyRows rows_;
    std::map<std::string, std::string, std::less<>> captions_;
    std::map<std::string, std::string, std::less<>> boxes_;
    std::map<std::string, bool, std::less<>> enabled_;
    std::map<std::string, Progress, std::less<>> progress_;
    std::function<void()> message_hook_;
    std::size_t messages_let_through_ = 0;
    std::vector<std::string> message_boxes_;
    std::vector<std::string> questions_;
    std::deque<bool> answers_;
    std::deque<std::optional<std::string>> file_choices_;
    std::vector<FileDialogRequest> file_requests_;
};

} // namespace kestrova
