#include "proxylist/list_editing.h"

#include "proxylist/address_set.h"
#include "shell/control_names.h"
#include "text/codepage.h"
#include "text/text.h"

#include <string_view>

namespace kestrova {

namespace {

std::string removal_report(std::size_t removed) {
    if (removed == 0)
        return text::gbk("没有重复的内容！");
    return text::gbk("共删除") + text::int_to_text(static_cast<std::int64_t>(removed)) +
           text::gbk("个重复内容！");
}

// The loop reads the number of rows afresh on every pass and keeps no index
// from one pass to the next, so rows removed by a nested action end it early.
std::size_t remove_repeated_rows(WindowPort& port, Pacing pacing) {
    AddressSet seen(port.row_count());
    MessagePacer pacer(port, pacing);
    std::size_t removed = 0;
    for (std::size_t row = 0; row < port.row_count();) {
        if (seen.insert(port.read_cell(row, column::address))) {
            ++row;
        } else {
            port.remove_row(row);
            ++removed;
        }
        pacer.step_done();
    }
    return removed;
}

} // namespace

std::string proxy_count_caption(std::size_t rows) {
    return text::gbk("代理(") + text::int_to_text(static_cast<std::int64_t>(rows)) + ")";
}

void write_proxy_count(WindowPort& port) {
    port.set_caption(controls::proxy_frame, proxy_count_caption(port.row_count()));
}

void append_lines(WindowPort& port, std::string_view text, LineEnds ends, std::string_view status,
                  Pacing pacing) {
    MessagePacer pacer(port, pacing);
    std::int64_t number = 0;
    for_each_line(text, ends, [&](std::string_view line) {
        std::size_t row = port.append_row();
        port.write_cell(row, column::number, text::int_to_text(++number));
        port.write_cell(row, column::address, line);
        if (!status.empty())
            port.write_cell(row, column::status, status);
        pacer.step_done();
    });
}

void add_to_list(WindowPort& port, Pacing pacing) {
    append_lines(port, port.box_text(controls::proxy_input), LineEnds::crlf, {}, pacing);
    write_proxy_count(port);
    port.set_box_text(controls::proxy_input, {});
}

void clear_list(WindowPort& port) {
    port.remove_all_rows();
    port.set_caption(controls::proxy_frame, proxy_count_caption(0));
}

void remove_duplicates(WindowPort& port, Pacing pacing) {
    std::size_t removed = remove_repeated_rows(port, pacing);
    port.message_box(removal_report(removed));
    renumber_list(port, pacing);
    write_proxy_count(port);
}

void renumber_list(WindowPort& port, Pacing pacing) {
    MessagePacer pacer(port, pacing);
    std::size_t rows = port.row_count();
    for (std::size_t row = 0; row < rows; ++row) {
        port.write_cell(row, column::number, text::int_to_text(static_cast<std::int64_t>(row) + 1));
        pacer.step_done();
    }
}

} // namespace kestrova
