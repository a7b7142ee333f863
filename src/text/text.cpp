#include "text/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace kestrova::text {

namespace {

constexpr std::string_view ideographic_space = "\xA1\xA1";

/// Length of the character that begins at `pos`: two bytes after a lead byte,
/// except a lead byte that is the very last byte, which stands alone.
std::size_t char_length(std::string_view text, std::size_t pos) {
    return is_lead_byte(text[pos]) && pos + 1 < text.size() ? 2 : 1;
}

bool is_space_char(std::string_view character) {
    return character == " " || character == ideographic_space;
}

/// The full-width form of an ASCII character (0xA3 0xA1..0xFE) or the
/// ideographic space as its ASCII counterpart; any other character as 0.
char ascii_of_full_width(std::string_view character) {
    if (character == ideographic_space)
        return ' ';
    if (character.size() != 2 || static_cast<unsigned char>(character[0]) != 0xA3)
        return 0;
    const auto trail = static_cast<unsigned char>(character[1]);
    return trail >= 0xA1 && trail <= 0xFE ? static_cast<char>(trail - 0x80) : 0;
}

/// The text with every full-width ASCII form replaced by its ASCII character.
std::string narrow_full_width(std::string_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::string_view character = text.substr(pos, char_length(text, pos));
        const char ascii = ascii_of_full_width(character);
        if (ascii != 0)
            narrow += ascii;
        else
            narrow += character;
        pos += character.size();
    }
    return narrow;
}

/// The C locale's white space: space, \t, \n, \v, \f, \r.
bool is_c_space(char byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

bool is_digit(char byte) {
    return byte >= '0' && byte <= '9';
}

} // namespace

std::string_view up_to_nul(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

std::size_t find(std::string_view text, std::string_view needle, std::size_t from) {
    if (from > text.size() || needle.size() > text.size() - from)
        return std::string_view::npos;
    if (needle.empty())
        return from;
    const std::size_t last_start = text.size() - needle.size();
    for (std::size_t pos = from; pos <= last_start; pos += char_length(text, pos)) {
        if (text[pos] == needle[0] && text.substr(pos, needle.size()) == needle)
            return pos;
    }
    return std::string_view::npos;
}

bool contains(std::string_view text, std::string_view needle) {
    return !text.empty() && find(text, needle) != std::string_view::npos;
}

std::vector<std::string> split(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    for_each_piece(text, separator, [&pieces](std::string_view piece) {
        pieces.emplace_back(piece);
        return true;
    });
    return pieces;
}

std::vector<std::string_view> split_views(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    for_each_piece(text, separator, [&pieces](std::string_view piece) {
        pieces.push_back(piece);
        return true;
    });
    return pieces;
}

std::string_view trim_left_view(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = char_length(text, pos);
        if (!is_space_char(text.substr(pos, length)))
            break;
        pos += length;
    }
    return text.substr(pos);
}

std::string_view trim_right_view(std::string_view text) {
    // Where characters begin is only known from the front, so walk the whole
    // text and remember the end of the last character that is not a space.
    std::size_t kept = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = char_length(text, pos);
        if (!is_space_char(text.substr(pos, length)))
            kept = pos + length;
        pos += length;
    }
    return text.substr(0, kept);
}

std::string_view trim_view(std::string_view text) {
    return trim_right_view(trim_left_view(text));
}

std::string trim(std::string_view text) {
    return std::string(trim_view(text));
}
std::string trim_left(std::string_view text) {
    return std::string(trim_left_view(text));
}
std::string trim_right(std::string_view text) {
    return std::string(trim_right_view(text));
}

std::string remove_spaces(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::string_view character = text.substr(pos, char_length(text, pos));
        if (!is_space_char(character))
            kept += character;
        pos += character.size();
    }
    return kept;
}

std::int32_t to_int(std::string_view text) {
    const std::string narrow = narrow_full_width(text);
    std::size_t pos = 0;
    while (pos < narrow.size() && is_c_space(narrow[pos]))
        ++pos;
    const bool negative = pos < narrow.size() && narrow[pos] == '-';
    if (pos < narrow.size() && (narrow[pos] == '-' || narrow[pos] == '+'))
        ++pos;
    // Accumulate the magnitude with room for one step past the limit.
    const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                        : std::int64_t{std::numeric_limits<std::int32_t>::max()};
    std::int64_t magnitude = 0;
    for (; pos < narrow.size() && is_digit(narrow[pos]); ++pos)
        magnitude = std::min(limit, magnitude * 10 + (narrow[pos] - '0'));
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::string int_to_text(std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    return std::string(digits, result.ptr);
}

std::int32_t fraction_to_int(double value) {
    if (std::isnan(value))
        return 0;
    const double whole = std::trunc(value);
    if (whole >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (whole <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(whole);
}

} // namespace kestrova::text
