// Object names of the controls that the core reaches through the window port.
// They are the names of the window definitions (.ui files), UTF-8 encoded.
#pragma once

#include <string_view>

namespace kestrova::controls {

// Main window.
inline constexpr std::string_view proxy_frame = "分组框1";    // caption: proxy count
inline constexpr std::string_view proxy_list = "超级列表框1"; // the proxy list
inline constexpr std::string_view input_frame = "分组框13";
inline constexpr std::string_view proxy_input = "编辑框_代理IP"; // proxy input box
inline constexpr std::string_view harvest_button = "按钮_截取代理";
inline constexpr std::string_view add_button = "按钮_添加到列表";
inline constexpr std::string_view import_button = "按钮_导入代理";
inline constexpr std::string_view export_button = "按钮_导出代理";
inline constexpr std::string_view dedup_button = "按钮_删除重复";
inline constexpr std::string_view clear_button = "按钮_清空代理";
inline constexpr std::string_view timeout_frame = "分组框14";
inline constexpr std::string_view timeout_box = "编辑框_超时时间";
inline constexpr std::string_view threads_frame = "分组框15";
inline constexpr std::string_view threads_box = "编辑框_验证线程数量";
inline constexpr std::string_view start_button = "按钮_开始验证";
inline constexpr std::string_view pause_button = "按钮_暂停验证";
inline constexpr std::string_view import_dialog = "通用对话框1";
inline constexpr std::string_view export_dialog = "通用对话框2";
inline constexpr std::string_view progress_bar = "进度条1";
inline constexpr std::string_view activity_log = "编辑框_输出";
inline constexpr std::string_view web_view = "超文本浏览框1";

} // namespace kestrova::controls
