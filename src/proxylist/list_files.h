// Importing proxy list files into the list and exporting the list to a file.
#pragma once

#include "proxylist/message_pacer.h"
#include "shell/window_port.h"

#include <string>

namespace kestrova {

/// What the two file dialogs remember from one click to the next.
struct ListFileDialogs {
    std::string import_path; ///< last path confirmed in the import dialog (通用对话框1)
    std::string
        export_path; ///< last path confirmed in the export dialog (通用对话框2), as returned
    std::string last_folder; ///< the folder of the last path confirmed in either
};

/// Asks for a file and appends each of its lines as a row (batch numbers from
/// 1, status "等待验证"); a file that cannot be read adds nothing. Rewrites
/// the caption whether or not a file was chosen.
void import_proxies(WindowPort& port, ListFileDialogs& dialogs, Pacing pacing = {});

/// Takes the addresses of all rows, asks for a file and writes them there,
/// one per line with CR LF. ".txt" is added to a name without an extension;
/// an existing file is replaced only after the user said yes. Reports
/// "保存成功！" or why the write failed.
void export_proxies(WindowPort& port, ListFileDialogs& dialogs, Pacing pacing = {});

/// The name an export writes to: `chosen` with ".txt" added when its file
/// name has no extension (no dot after its first character).
std::string export_target(const std::string& chosen);

} // namespace kestrova
