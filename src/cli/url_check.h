// Whether a probe address is one the request layer can send.
#pragma once

#include <string>
#include <string_view>

namespace kestrova::cli {

/// Why `url` is no absolute http or https address as libcurl parses it;
/// "" when it is one.
std::string url_problem(std::string_view url);

} // namespace kestrova::cli
