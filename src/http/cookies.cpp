#include "http/cookies.h"

#include "text/text.h"

#include <algorithm>

namespace kestrova::http {

namespace {

constexpr std::string_view deletion_mark = "=deleted";
constexpr std::string_view cookie_separator = "; ";

bool is_deletion(std::string_view piece) {
    return piece.ends_with(deletion_mark);
}

/// New pieces in order, then each old piece whose name is not yet listed.
std::vector<std::string> merged_pieces(std::string_view old_cookies, std::string_view new_cookies) {
    std::vector<std::string> pieces = text::split(new_cookies, ";");
    for (std::string& old_piece : text::split(old_cookies, ";"))
        if (!has_cookie_name(pieces, cookie_name(old_piece)))
            pieces.push_back(std::move(old_piece));
    return pieces;
}

} // namespace

std::string merge_cookies(std::string& old_cookies, std::string& new_cookies) {
    old_cookies = text::remove_spaces(old_cookies);
    new_cookies = text::remove_spaces(new_cookies);
    std::string joined;
    for (const std::string& piece : merged_pieces(old_cookies, new_cookies))
        if (!is_deletion(piece))
            joined.append(piece).append(cookie_separator);
    joined.resize(joined.size() >= 2 ? joined.size() - 2 : 0);
    old_cookies = join_unique(joined, cookie_separator);
    return old_cookies;
}

std::string cookie_name(std::string_view piece) {
    return text::trim(piece.substr(0, text::find(piece, "=")));
}

bool has_cookie_name(const std::vector<std::string>& list, std::string_view name) {
    for (const std::string& entry : list)
        if (cookie_name(entry) == name)
            return true;
    return false;
}

std::string join_unique(std::string_view text, std::string_view separator) {
    std::vector<std::string> kept;
    for (std::string& piece : text::split(text, separator))
        if (index_in_list(kept, piece) == -1)
            kept.push_back(std::move(piece));
    std::string joined;
    for (const std::string& piece : kept)
        joined.append(piece).append(separator);
    joined.resize(joined.size() - std::min(joined.size(), separator.size()));
    return joined;
}

int index_in_list(const std::vector<std::string>& list, std::string_view text) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == text)
            return static_cast<int>(i + 1);
    return -1;
}

} // namespace kestrova::http
