#include "http/header_text.h"

#include "text/codepage.h"
#include "text/text.h"

namespace kestrova::http {

namespace {

constexpr auto npos = std::string_view::npos;

std::size_t char_length(std::string_view text, std::size_t pos) {
    return text::is_lead_byte(text[pos]) && pos + 1 < text.size() ? 2 : 1;
}

char folded(char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte;
}

/// True when `needle` matches `text` at `pos` character by character; single
/// bytes may differ in ASCII case, two-byte characters must be equal.
bool matches_at(std::string_view text, std::size_t pos, std::string_view needle) {
    if (needle.size() > text.size() - pos)
        return false;
    for (std::size_t i = 0; i < needle.size();) {
        const std::size_t length = char_length(needle, i);
        if (char_length(text, pos + i) != length)
            return false;
        const bool same = length == 1 ? folded(text[pos + i]) == folded(needle[i])
                                      : text.substr(pos + i, 2) == needle.substr(i, 2);
        if (!same)
            return false;
        i += length;
    }
    return true;
}

/// The first character boundary at or after `pos`.
std::size_t boundary_at_or_after(std::string_view text, std::size_t pos) {
    std::size_t boundary = 0;
    while (boundary < pos && boundary < text.size())
        boundary += char_length(text, boundary);
    return boundary;
}

std::string with_quotes(std::string_view marker) {
    static const std::string quote_word = text::gbk("#引号");
    std::string result;
    std::size_t from = 0;
    for (std::size_t at; (at = text::find(marker, quote_word, from)) != npos;
         from = at + quote_word.size())
        result.append(marker.substr(from, at - from)).append("\"");
    result.append(marker.substr(from));
    return result;
}

std::size_t find_in(std::string_view text, std::string_view needle, std::size_t from,
                    bool ignore_case) {
    return ignore_case ? find_ignoring_case(text, needle, from) : text::find(text, needle, from);
}

} // namespace

std::string header_name(std::string_view line) {
    const std::size_t colon = text::find(line, ":");
    return colon == npos ? std::string() : text::trim(line.substr(0, colon));
}

std::string header_value(std::string_view line) {
    const std::size_t colon = text::find(line, ":");
    return colon == npos ? std::string() : text::trim(line.substr(colon + 1));
}

std::string text_between(std::string_view text, std::string_view left, std::string_view right,
                         int start, bool ignore_case) {
    const std::string left_marker = with_quotes(left);
    const std::string right_marker = with_quotes(right);
    const std::size_t from =
        boundary_at_or_after(text, start > 0 ? static_cast<std::size_t>(start) - 1 : 0);
    const std::size_t left_at = find_in(text, left_marker, from, ignore_case);
    if (left_at == npos)
        return {};
    const std::size_t inside = left_at + left_marker.size();
    const std::size_t right_at = find_in(text, right_marker, inside, ignore_case);
    if (right_at == npos)
        return {};
    return std::string(text.substr(inside, right_at - inside));
}

std::size_t find_ignoring_case(std::string_view text, std::string_view needle, std::size_t from) {
    if (from > text.size())
        return npos;
    if (needle.empty())
        return from;
    for (std::size_t pos = from; pos < text.size(); pos += char_length(text, pos))
        if (matches_at(text, pos, needle))
            return pos;
    return npos;
}

std::string replace_ignoring_case(std::string_view text, std::string_view needle,
                                  std::string_view replacement) {
    if (needle.empty())
        return std::string(text);
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        if (matches_at(text, pos, needle)) {
            result += replacement;
            pos += needle.size();
        } else {
            const std::size_t length = char_length(text, pos);
            result += text.substr(pos, length);
            pos += length;
        }
    }
    return result;
}

} // namespace kestrova::http
