// Object names of the harvest window's controls (harvest_window.ui), UTF-8.
#pragma once

#include <string_view>

namespace kestrova::controls::harvest {

inline constexpr std::string_view window = "HarvestWindow";
inline constexpr std::string_view source_frame = "分组框1";
inline constexpr std::string_view source_list = "编辑框1"; // one page address per line
inline constexpr std::string_view pattern_frame = "分组框2";
inline constexpr std::string_view pattern = "编辑框2";
inline constexpr std::string_view start_button = "按钮1";
inline constexpr std::string_view progress_bar = "进度条1";

} // namespace kestrova::controls::harvest
