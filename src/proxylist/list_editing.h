// Editing the proxy list: adding the lines of the input box, clearing,
// removing duplicates, renumbering, and the proxy count caption.
//
// Every action runs on the UI thread against the window port. The long ones
// let pending window messages through as they go (message_pacer.h); between
// two such points the list is theirs, so the row index a step uses is valid
// for that step, and nothing is assumed to hold across them.
#pragma once

#include "proxylist/lines.h"
#include "proxylist/message_pacer.h"
#include "shell/window_port.h"

#include <cstddef>
#include <string>

namespace kestrova {

/// "代理(" + rows + ")", code page 936.
std::string proxy_count_caption(std::size_t rows);

/// Rewrites the proxy count caption with the current number of rows.
void write_proxy_count(WindowPort& port);

/// Moves every line of the proxy input box into the list (batch numbers
/// from 1, empty status), rewrites the caption and empties the box.
void add_to_list(WindowPort& port, Pacing pacing = {});

/// Removes every row; the caption reads "代理(0)".
void clear_list(WindowPort& port);

/// Removes every row whose address equals, byte for byte, the address of an
/// earlier row; the first of equal addresses stays. Reports how many went,
/// renumbers the list and rewrites the caption.
void remove_duplicates(WindowPort& port, Pacing pacing = {});

/// Writes 1, 2, 3 ... into the number column, in display order. The number
/// of rows is read once, at the start.
void renumber_list(WindowPort& port, Pacing pacing = {});

/// Appends a row for every line of `text` with its batch number (1, 2, 3 ...)
/// and `status`; each row's cells are written at the index its own append
/// returned. Shared by adding and importing.
void append_lines(WindowPort& port, std::string_view text, LineEnds ends, std::string_view status,
                  Pacing pacing);

} // namespace kestrova
