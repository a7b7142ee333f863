// The window port over a real Qt window. Every call runs on the UI thread
// (directly there, handed over and waited for from elsewhere). Once the
// window is gone, calls change nothing and read as empty.
#pragma once

#include "shell/proxy_table_model.h"
#include "shell/user_dialogs.h"
#include "shell/window_port.h"

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>

namespace kestrova {

class QtWindowPort : public WindowPort {
public:
    /// `window` holds the controls (found by object name); `rows` is its proxy
    /// list model, if it has one. Must be created on the UI thread.
    QtWindowPort(QWidget* window, ProxyTableModel* rows);

    /// Replaces the dialogs (tests answer them through ScriptedDialogs).
    void set_dialogs(std::shared_ptr<UserDialogs> dialogs);
    /// From now on the port acts as if the window were gone (UI thread; the
    /// window calls it when it closes).
    void detach();

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

private:
    /// Runs `work` on the UI thread while the window exists; `fallback` else.
    template <typename Result, typename Fn> Result with_window(Result fallback, Fn&& work);
    template <typename Fn> void with_window(Fn&& work);

    QWidget* control(std::string_view name);

    QPointer<QWidget> window_;
    bool detached_ = false; ///< UI thread only
    // Controls found so far, by object name (touched on the UI thread only).
    std::map<std::string, QPointer<QWidget>, std::less<>> controls_;
    QPointer<ProxyTableModel> rows_;
    std::shared_ptr<UserDialogs> dialogs_;
};

} // namespace kestrova
