#include "shell/activity_log.h"

#include "shell/control_names.h"
#include "shell/timestamp.h"
#include "text/text.h"

#include <string>

namespace kestrova {

void log_line(WindowPort& window, std::string_view message) {
    std::string line = timestamp_text();
    line.append(message);
    line.append(text::crlf);
    window.append_to_box(controls::activity_log, line);
}

} // namespace kestrova
