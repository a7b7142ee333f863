// Fuzz target for the text library: every input is taken as a byte text and
// run through splitting, searching, trimming, numbers and all conversions,
// checking properties that must hold for any bytes. A broken property aborts.
#include "fuzz_check.h"
#include "text/codepage.h"
#include "text/text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrova::text;

constexpr auto npos = std::string_view::npos;

std::size_t step_at(std::string_view text, std::size_t pos) {
    return static_cast<unsigned char>(text[pos]) >= 0x80 && pos + 1 < text.size() ? 2 : 1;
}

/// Every position where a character begins.
std::vector<std::size_t> boundaries(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos < text.size(); pos += step_at(text, pos))
        starts.push_back(pos);
    return starts;
}

/// True when `text` is whole characters, so that it reads the same inside
/// any text at a character boundary: it does not end in a lone lead byte.
bool is_whole_characters(std::string_view text) {
    const std::vector<std::size_t> starts = boundaries(text);
    return !text.empty() &&
           !(starts.back() == text.size() - 1 && static_cast<unsigned char>(text.back()) >= 0x80);
}

bool is_space_char(std::string_view text, std::size_t pos) {
    const std::string_view character = text.substr(pos, step_at(text, pos));
    return character == " " || character == "\xA1\xA1";
}

bool is_inside(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

std::size_t reference_find(std::string_view text, std::string_view needle, std::size_t from) {
    for (std::size_t pos : boundaries(text))
        if (pos >= from && text.substr(pos).starts_with(needle))
            return pos;
    return needle.empty() && from <= text.size() ? from : npos;
}

std::vector<std::string_view> reference_split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text.substr(pos).starts_with(separator)) {
            pieces.push_back(text.substr(start, pos - start));
            pos += separator.size();
            start = pos;
        } else {
            pos += step_at(text, pos);
        }
    }
    if (start < text.size())
        pieces.push_back(text.substr(start));
    return pieces;
}

void check_split(std::string_view text, std::string_view separator) {
    const std::vector<std::string_view> pieces = split_views(text, separator);
    CHECK(pieces == reference_split(text, separator));
    const std::vector<std::string> copies = split(text, separator);
    CHECK(std::vector<std::string_view>(copies.begin(), copies.end()) == pieces);
    CHECK(text.empty() == pieces.empty());
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        CHECK(is_inside(pieces[i], text));
        CHECK(kestrova::text::find(pieces[i], separator) == npos);
        joined += pieces[i];
        if (i + 1 < pieces.size())
            joined += separator;
    }
    CHECK(joined == text || joined + std::string(separator) == text);
}

void check_find(std::string_view text, std::string_view needle) {
    CHECK(kestrova::text::find(text, needle) == reference_find(text, needle, 0));
    const std::vector<std::size_t> starts = boundaries(text);
    const std::size_t from = starts.size() > 1 ? starts[starts.size() / 2] : text.size();
    CHECK(kestrova::text::find(text, needle, from) == reference_find(text, needle, from));
    CHECK(contains(text, needle) == (!text.empty() && reference_find(text, needle, 0) != npos));
}

void check_trim(std::string_view text) {
    const std::string_view both = trim_view(text);
    const std::string_view left = trim_left_view(text);
    const std::string_view right = trim_right_view(text);
    CHECK(is_inside(both, text) && is_inside(left, text) && is_inside(right, text));
    CHECK(text.ends_with(left) && text.starts_with(right));
    CHECK(both == trim_left_view(right) && both == trim_right_view(left));
    CHECK(trim(text) == both && trim_left(text) == left && trim_right(text) == right);
    CHECK(left.empty() || !is_space_char(left, 0));
    CHECK(both.empty() || !is_space_char(both, 0));
    if (!right.empty())
        CHECK(!is_space_char(right, boundaries(right).back()));
    const std::string without = remove_spaces(text);
    CHECK(without.size() <= text.size() && remove_spaces(without) == without);
    CHECK(trim_view(without) == without);
}

/// Full-width ASCII forms to ASCII, written here a second time on purpose.
std::string narrow(std::string_view text) {
    std::string out;
    for (std::size_t pos : boundaries(text)) {
        const std::string_view character = text.substr(pos, step_at(text, pos));
        const auto trail = character.size() == 2 ? static_cast<unsigned char>(character[1]) : 0;
        if (character == "\xA1\xA1")
            out += ' ';
        else if (character[0] == '\xA3' && trail >= 0xA1 && trail <= 0xFE)
            out += static_cast<char>(trail - 0x80);
        else
            out += character;
    }
    return out;
}

void check_numbers(std::string_view text) {
    const std::int32_t value = to_int(text);
    CHECK(to_int(int_to_text(value)) == value);
    const long wide = std::strtol(narrow(text).c_str(), nullptr, 10);
    const long clamped =
        std::max<long>(std::numeric_limits<std::int32_t>::min(),
                       std::min<long>(std::numeric_limits<std::int32_t>::max(), wide));
    CHECK(value == clamped);
    if (text.size() >= sizeof(double)) {
        double fraction;
        std::memcpy(&fraction, text.data(), sizeof fraction);
        const std::int32_t whole = fraction_to_int(fraction);
        if (std::isnan(fraction))
            CHECK(whole == 0);
        else
            CHECK(std::fabs(static_cast<double>(whole)) <= std::fabs(fraction) &&
                  (whole == 0 || (whole > 0) == (fraction > 0)) &&
                  (std::fabs(fraction) >= 2147483647.0 || std::fabs(fraction - whole) < 1.0));
    }
}

bool has_nul(std::string_view bytes) {
    return bytes.find('\0') != npos;
}
bool has_nul(std::u16string_view units) {
    return units.find(u'\0') != npos;
}

/// UTF-16 up to its first NUL unit with every unpaired surrogate as '?'.
std::u16string with_unpaired_surrogates_replaced(std::u16string_view units) {
    units = units.substr(0, units.find(u'\0'));
    std::u16string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
        const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            out += units[i];
            out += units[++i];
        } else {
            out += high || low ? u'?' : units[i];
        }
    }
    return out;
}

void check_conversions(std::string_view text) {
    const std::u16string from_utf8 = decode_to_wide(text);
    const std::string ansi = utf8_to_ansi(text);
    CHECK(!has_nul(from_utf8) && !has_nul(ansi));
    CHECK(ansi == encode_from_wide(from_utf8));
    CHECK(decode_to_wide(encode_from_wide(from_utf8, CodePage::utf8)) == from_utf8);
    CHECK(utf8_to_ansi(ansi_to_utf8(ansi)) == ansi);

    const std::u16string from_cp936 = decode_to_wide(text, CodePage::gbk);
    const std::string utf8 = ansi_to_utf8(text);
    CHECK(!has_nul(from_cp936) && !has_nul(utf8));
    CHECK(utf8 == encode_from_wide(from_cp936, CodePage::utf8));
    CHECK(decode_to_wide(utf8) == from_cp936);

    std::u16string units(text.size() / 2, u'\0');
    std::memcpy(units.data(), text.data(), units.size() * 2);
    const std::string encoded = encode_from_wide(units, CodePage::gbk);
    const std::string encoded_utf8 = encode_from_wide(units, CodePage::utf8);
    CHECK(!has_nul(encoded) && !has_nul(encoded_utf8));
    CHECK(decode_to_wide(encoded_utf8) == with_unpaired_surrogates_replaced(units));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The last few bytes make a needle that often occurs in the text.
    const std::size_t needle_size = size > 0 ? std::min<std::size_t>(size, data[0] % 4) : 0;
    const std::string_view needle = text.substr(size - needle_size);

    for (std::string_view separator : {std::string_view("\r\n"), std::string_view(";"),
                                       std::string_view("; "), std::string_view("\xA1\xA1")})
        check_split(text, separator);
    if (is_whole_characters(needle))
        check_split(text, needle);
    check_find(text, needle);
    check_trim(text);
    check_numbers(text);
    check_conversions(text);
    return 0;
}
