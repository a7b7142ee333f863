// Byte text in code page 936: the scanning, searching, trimming and number
// rules that every part of Kestrova shares.
//
// A text is a sequence of bytes. A byte of 0x80 or above begins a two-byte
// character, so every scan steps over such a pair as a whole and a match can
// only begin where a character begins. Positions count bytes from 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::text {

inline constexpr std::string_view crlf = "\r\n";

/// True when the byte begins a two-byte character.
constexpr bool is_lead_byte(char byte) {
    return static_cast<unsigned char>(byte) >= 0x80;
}

/// The bytes up to, not including, the first NUL byte (all when there is none).
std::string_view up_to_nul(std::string_view bytes);

/// Position of the first occurrence of `needle` that begins at a character
/// boundary at or after `from` (which must itself be a boundary), or npos.
/// An empty needle is found at `from` when `from` <= size. Call it as
/// text::find: with two std::string arguments and a position, argument-
/// dependent lookup also finds std::find, which wins the overload.
std::size_t find(std::string_view text, std::string_view needle, std::size_t from = 0);

/// True when `needle` occurs at a character boundary. An empty text contains
/// nothing, not even an empty needle.
bool contains(std::string_view text, std::string_view needle);

/// Splits at every occurrence of `separator` found at a character boundary.
/// Empty pieces between separators stay, a separator at the very end adds no
/// empty piece, an empty text gives no pieces.
std::vector<std::string> split(std::string_view text, std::string_view separator);

/// Same rule, giving views into `text` instead of copies.
std::vector<std::string_view> split_views(std::string_view text, std::string_view separator);

/// Calls `piece` for every piece of `split(text, separator)` in order without
/// building a vector; stops early when `piece` returns false.
template <typename Fn>
void for_each_piece(std::string_view text, std::string_view separator, Fn&& piece);

/// Trimming and space removal know exactly two spaces: 0x20 and the
/// ideographic space 0xA1 0xA1, each only where a character begins (in
/// 0xB0 0xA1 0xA1 0x41 the middle 0xA1 0xA1 ends one character and starts
/// the next, so it is no space). Tabs, CR and LF are not spaces.
std::string trim(std::string_view text);
std::string trim_left(std::string_view text);
std::string trim_right(std::string_view text);
std::string remove_spaces(std::string_view text);

/// The same trimming, giving a view into `text` instead of a copy.
std::string_view trim_view(std::string_view text);
std::string_view trim_left_view(std::string_view text);
std::string_view trim_right_view(std::string_view text);

/// Text to a 32-bit integer: full-width forms of ASCII (0xA3 0xA1..0xFE and
/// the ideographic space) become ASCII first; then leading white space, an
/// optional sign and the leading decimal digits. No digits give 0; "12abc"
/// gives 12. Values beyond the 32-bit range saturate.
std::int32_t to_int(std::string_view text);

/// Integer to decimal text without leading zeros.
std::string int_to_text(std::int64_t value);

/// A value with a fraction to an integer by dropping the fraction (toward
/// zero), saturating at the 32-bit range; NaN gives 0.
std::int32_t fraction_to_int(double value);

// --- template definition -------------------------------------------------

template <typename Fn>
void for_each_piece(std::string_view text, std::string_view separator, Fn&& piece) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t at = separator.empty() ? std::string_view::npos : find(text, separator, start);
        if (at == std::string_view::npos) {
            piece(text.substr(start));
            return;
        }
        if (!piece(text.substr(start, at - start)))
            return;
        start = at + separator.size();
    }
}

} // namespace kestrova::text
