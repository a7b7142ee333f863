// The window port: everything the core does to a window goes through here.
//
// Each call is one indivisible operation, safe from any thread. Texts cross
// as code page 936 bytes; edit box texts cross with CR LF line breaks.
// Controls are named by their object names (control_names.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// A row's identity: stays the same while other rows are added or removed.
/// Ids grow in the order rows are appended and are never reused.
using RowId = std::uint64_t;

/// How a file dialog is set up before it opens.
struct FileDialogRequest {
    std::string dialog;             ///< object name of the dialog (通用对话框1, ...)
    std::string filter_description; ///< e.g. "文本文档" (code page 936)
    std::string filter_pattern;     ///< e.g. "*.txt"
    std::string initial_directory;  ///< local file system path
    std::string initial_file;       ///< pre-filled file name or full path
    bool confirm_overwrite = true;  ///< save dialogs: ask before replacing
};

class WindowPort {
public:
    virtual ~WindowPort() = default;

    // --- the proxy list -------------------------------------------------
    virtual std::size_t row_count() = 0;
    /// Appends a row with three empty cells; returns its index.
    virtual std::size_t append_row() = 0;
    /// Writing to a row or column that does not exist changes nothing.
    virtual void write_cell(std::size_t row, int column, std::string_view text) = 0;
    /// Reading a row or column that does not exist gives "".
    virtual std::string read_cell(std::size_t row, int column) = 0;
    virtual void remove_row(std::size_t row) = 0;
    virtual void remove_all_rows() = 0;
    /// The id of the row at `row`, if there is one.
    virtual std::optional<RowId> row_id(std::size_t row) = 0;
    /// The current index of the row with `id`, if it still exists.
    virtual std::optional<std::size_t> row_index(RowId id) = 0;
    /// A cell of the row with `id`, wherever it has moved; nothing once the
    /// row is gone.
    virtual std::optional<std::string> read_cell_of(RowId id, int column) = 0;
    /// Writes a cell of the row with `id`; false (nothing written) once the
    /// row is gone.
    virtual bool write_cell_of(RowId id, int column, std::string_view text) = 0;
    /// Removes the row at `row` when its cell `column` holds exactly `text`,
    /// as one step; true when it was removed.
    virtual bool remove_row_if(std::size_t row, int column, std::string_view text) = 0;

    // --- captions, box texts, buttons -------------------------------------
    /// Caption of a button or group box.
    virtual std::string caption(std::string_view control) = 0;
    virtual void set_caption(std::string_view control, std::string_view text) = 0;
    /// Whole text of an edit box.
    virtual std::string box_text(std::string_view control) = 0;
    virtual void set_box_text(std::string_view control, std::string_view text) = 0;
    /// Moves the caret to the end (clearing any selection) and inserts there.
    virtual void append_to_box(std::string_view control, std::string_view text) = 0;
    virtual bool is_enabled(std::string_view control) = 0;
    virtual void set_enabled(std::string_view control, bool enabled) = 0;

    // --- the progress bar ---------------------------------------------------
    virtual void set_progress_maximum(std::string_view bar, int maximum) = 0;
    virtual int progress_maximum(std::string_view bar) = 0;
    virtual int progress_position(std::string_view bar) = 0;
    virtual void set_progress_position(std::string_view bar, int position) = 0;
    /// Adds `delta` to the position as one indivisible step.
    virtual void step_progress(std::string_view bar, int delta) = 0;

    // --- the user -------------------------------------------------------------
    /// Lets pending window messages be handled (UI thread); elsewhere nothing.
    virtual void let_messages_through() = 0;
    /// Modal message box, title "信息：", one OK button, no icon.
    virtual void message_box(std::string_view text) = 0;
    /// Modal yes/no question with the same title; true for yes.
    virtual bool ask_yes_no(std::string_view text) = 0;
    /// The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> ask_open_file(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> ask_save_file(const FileDialogRequest& request) = 0;
};

/// The column numbers of a proxy list row.
namespace column {
inline constexpr int number = 0;
inline constexpr int address = 1;
inline constexpr int status = 2;
} // namespace column

} // namespace kestrova
