// The activity log: append-only, every entry timestamp_text + message + CR LF.
#pragma once

#include "shell/window_port.h"

#include <string_view>

namespace kestrova {

/// Appends timestamp_text + `message` + CR LF to the activity log as one
/// whole append. `message` is code page 936 text and may itself hold further
/// CR LF separated lines.
void log_line(WindowPort& window, std::string_view message);

} // namespace kestrova
