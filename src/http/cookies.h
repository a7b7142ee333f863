// Merging the cookies a response sets into the cookie text a caller keeps
// between requests. Pure text work on code page 936 bytes; no state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova::http {

/// Folds `new_cookies` into `old_cookies`: new pieces first in their order,
/// then the old pieces whose names no new piece has (the first of each name);
/// "=deleted" pieces and exact repeats are dropped. Spaces are removed from
/// both variables; `old_cookies` receives the merged text ("a=1; b=2"), which
/// is also returned.
std::string merge_cookies(std::string& old_cookies, std::string& new_cookies);

/// The bytes of `piece` before its first "=" (all of it without one), trimmed.
std::string cookie_name(std::string_view piece);

/// True when some entry of `list` has the cookie name `name` (exact bytes).
bool has_cookie_name(const std::vector<std::string>& list, std::string_view name);

/// The pieces of `text` split at `separator`, each kept once in the order of
/// first appearance, joined again with `separator`; "" without pieces.
std::string join_unique(std::string_view text, std::string_view separator);

/// The 1-based index of the first entry equal to `text`, or -1.
int index_in_list(const std::vector<std::string>& list, std::string_view text);

} // namespace kestrova::http
