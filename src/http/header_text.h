// Small text routines of the request routine: header lines and the text
// between two markers. Texts are code page 936 bytes; every search steps over
// a two-byte character as a whole, so a match never begins on its second byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova::http {

/// The part of `line` before its first ":", trimmed; "" without a ":".
std::string header_name(std::string_view line);

/// The part of `line` after its first ":" (later colons stay), trimmed;
/// "" without a ":".
std::string header_value(std::string_view line);

/// The bytes between the first `left` found at or after the 1-based byte
/// position `start` (0 or negative: the beginning) and the first `right`
/// after it; "" when either is missing. Every "#引号" in `left` and `right`
/// stands for a double quote. With `ignore_case`, ASCII letters match in
/// either case.
std::string text_between(std::string_view text, std::string_view left, std::string_view right,
                         int start = 0, bool ignore_case = false);

/// Position of the first `needle` at a character boundary at or after
/// `from` (a boundary), ASCII letters matching in either case; npos if none.
std::size_t find_ignoring_case(std::string_view text, std::string_view needle,
                               std::size_t from = 0);

/// Every occurrence of `needle` (ASCII letters in either case) replaced by
/// `replacement`, scanning from the front without overlaps.
std::string replace_ignoring_case(std::string_view text, std::string_view needle,
                                  std::string_view replacement);

} // namespace kestrova::http
