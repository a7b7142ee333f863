#include "cli/pe_command.h"

#include "skin/call.h"
#include "skin/emulated_platform.h"
#include "skin/loader.h"
#include "skin/memory_module.h"
#include "skin/skin_step.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

namespace kestrova::cli {

namespace {

constexpr std::size_t max_words = 10;
constexpr const char* usage = "usage: kestrova-cli pe FILE [EXPORT [WORD ...]]  (up to ten "
                              "decimal words)\n";

std::optional<std::vector<std::byte>> read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    if (file.bad())
        return std::nullopt;
    std::vector<std::byte> image(bytes.size());
    std::transform(bytes.begin(), bytes.end(), image.begin(),
                   [](char c) { return static_cast<std::byte>(c); });
    return image;
}

// A 32-bit word in decimal: 0 to 4294967295, or down to -2147483648 for
// the two's complement of a negative number.
std::optional<std::uint32_t> parse_word(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value < INT32_MIN ||
        value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

void print_image(const skin::MemoryModule& module, std::ostream& out) {
    out << "base: " << hex(module.base_address()) << '\n';
    out << "entry point: " << hex(module.entry_point_address()) << '\n';
    for (const skin::ExportEntry& entry : skin::list_exports(module.platform(), module.base)) {
        std::string label =
            entry.name.empty() ? "ordinal " + std::to_string(entry.ordinal) : entry.name;
        out << "export: " << label << ' ' << hex(entry.address) << '\n';
    }
}

// Images that import the host library's style sheet routine (the skin
// engine) load here too; what they hand over is only measured.
std::shared_ptr<std::vector<std::size_t>> serve_host_library() {
    auto received = std::make_shared<std::vector<std::size_t>>();
    skin::serve_style_sheet_routine([received](std::string_view sheet, skin::Address) {
        received->push_back(sheet.size());
        return true;
    });
    return received;
}

} // namespace

int run_pe_command(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args.size() > 2 + max_words) {
        err << usage;
        return 2;
    }
    skin::CallWords words{};
    for (std::size_t i = 2; i < args.size(); ++i) {
        std::optional<std::uint32_t> word = parse_word(args[i]);
        if (!word) {
            err << "kestrova-cli pe: not a decimal word: " << args[i] << '\n' << usage;
            return 2;
        }
        words[i - 2] = *word;
    }
    std::optional<std::vector<std::byte>> image = read_file(args[0]);
    auto style_sheets = serve_host_library();
    skin::MemoryModule module;
    bool loaded = image && module.load(*image);
    out << "loaded: " << (loaded ? "yes" : "no") << '\n';
    if (!image)
        err << "kestrova-cli pe: cannot read " << args[0] << '\n';
    if (!loaded)
        return 1;
    print_image(module, out);
    int code = 0;
    if (args.size() >= 2) {
        skin::Address routine = module.find_export(args[1]);
        if (routine == 0) {
            err << "kestrova-cli pe: export not found: " << args[1] << '\n';
            code = 1;
        } else {
            std::uint32_t result = skin::call_by_address(module.platform(), routine, words);
            std::string fault = skin::emulated_platform().last_fault();
            if (!fault.empty())
                err << "kestrova-cli pe: the call stopped: " << fault << '\n';
            for (std::size_t size : *style_sheets)
                out << "host: " << skin::style_sheet_routine << " received " << size << " bytes\n";
            out << "result: " << result << '\n';
        }
    }
    module.unload();
    return code;
}

} // namespace kestrova::cli
