#include "proxylist/lines.h"

#include "text/codepage.h"
#include "text/text.h"

namespace kestrova {

namespace {
constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
constexpr std::string_view utf16le_bom = "\xFF\xFE";
constexpr std::string_view utf16be_bom = "\xFE\xFF";
constexpr char16_t replacement_character = 0xFFFD;

LineEnd find_crlf_end(std::string_view text, std::size_t start) {
    std::size_t at = text::find(text, text::crlf, start);
    if (at == std::string_view::npos)
        return {text.size(), text.size()};
    return {at, at + text::crlf.size()};
}

// An LF that begins a character ends the line; a CR that is a character of
// its own right before it belongs to the line end.
LineEnd find_lf_end(std::string_view text, std::size_t start) {
    bool after_cr = false;
    for (std::size_t pos = start; pos < text.size();) {
        char byte = text[pos];
        if (text::is_lead_byte(byte) && pos + 1 < text.size()) {
            pos += 2;
            after_cr = false;
            continue;
        }
        if (byte == '\n')
            return {after_cr ? pos - 1 : pos, pos + 1};
        after_cr = byte == '\r';
        ++pos;
    }
    return {text.size(), text.size()};
}

std::u16string utf16_units(std::string_view bytes, bool big_endian) {
    std::u16string units;
    units.reserve(bytes.size() / 2 + 1);
    for (std::size_t pos = 0; pos + 1 < bytes.size(); pos += 2) {
        auto first = static_cast<unsigned char>(bytes[pos]);
        auto second = static_cast<unsigned char>(bytes[pos + 1]);
        units.push_back(
            static_cast<char16_t>(big_endian ? first << 8 | second : second << 8 | first));
    }
    if (bytes.size() % 2 != 0)
        units.push_back(replacement_character);
    return units;
}
} // namespace

LineEnd find_line_end(std::string_view text, std::size_t start, LineEnds ends) {
    return ends == LineEnds::crlf ? find_crlf_end(text, start) : find_lf_end(text, start);
}

std::string proxy_file_text(std::string bytes) {
    std::string_view view = bytes;
    if (view.starts_with(utf16le_bom) || view.starts_with(utf16be_bom)) {
        bool big_endian = view.starts_with(utf16be_bom);
        return text::encode_from_wide(utf16_units(view.substr(2), big_endian));
    }
    if (view.starts_with(utf8_bom))
        bytes.erase(0, utf8_bom.size());
    bytes.resize(text::up_to_nul(bytes).size());
    return bytes;
}

} // namespace kestrova
