// Lines of the proxy input box and of proxy list files.
//
// Both follow the splitting rule of the system: separators only at character
// boundaries, empty lines between separators stay, a separator at the very
// end adds no empty line, an empty text has no lines. The input box ends its
// lines with CR LF (a lone CR or LF is text); files may end theirs with CR LF
// or with LF alone, as files written on Linux do.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova {

enum class LineEnds { crlf, lf_or_crlf };

struct LineEnd {
    std::size_t text_end; ///< where the line's own bytes end
    std::size_t next;     ///< where the next line begins
};

/// The end of the line that begins at `start` (a character boundary); a last
/// line without a separator ends at the end of the text.
LineEnd find_line_end(std::string_view text, std::size_t start, LineEnds ends);

/// Calls `line` for every line of `text`, in order.
template <typename Fn> void for_each_line(std::string_view text, LineEnds ends, Fn&& line) {
    for (std::size_t start = 0; start < text.size();) {
        LineEnd end = find_line_end(text, start, ends);
        line(text.substr(start, end.text_end - start));
        start = end.next;
    }
}

/// A proxy list file's bytes as code page 936 text: a file that begins with
/// a UTF-16 byte-order mark (either order) is decoded up to its first NUL
/// character; any other file is taken as it is, without a leading UTF-8
/// byte-order mark, up to its first NUL byte.
std::string proxy_file_text(std::string bytes);

} // namespace kestrova
