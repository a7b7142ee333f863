// Code page conversion over iconv, made lenient: iconv stops at the first bad
// sequence, so the converter writes a replacement there, steps over the bad
// input, resets the descriptor and goes on.
//
// Code page 936 is opened as "CP936". In glibc that is an alias of "GBK" (one
// table, with the euro sign at 0x80, checked by the tests). Other iconv
// builds (GNU libiconv) keep "GBK" without the euro sign and "CP936" with it,
// so "CP936" is the name that asks for exactly Windows code page 936.
#include "text/codepage.h"

#include "text/text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>

namespace kestrova::text {

namespace {

constexpr const char* cp936_name = "CP936";

struct Utf8Shape {
    std::size_t length;      // bytes of a well-formed sequence with this lead
    unsigned char low, high; // allowed range of its second byte
};

/// What a well-formed UTF-8 sequence beginning with `lead` looks like: no
/// overlong forms, no surrogates, nothing above U+10FFFF.
constexpr Utf8Shape utf8_shape(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2, 0x80, 0xBF};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {3, 0x80, 0xBF};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {4, 0x80, 0xBF};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    return {1, 0, 0}; // ASCII, or a byte that begins nothing
}

/// Length of the UTF-8 sequence at the start of `bytes` when it is well
/// formed; otherwise the length of its longest start that could still begin
/// a well-formed sequence (at least one byte). Either way one replacement
/// stands for these bytes, the usual "maximal subpart" rule.
std::size_t utf8_sequence_length(std::string_view bytes) {
    const Utf8Shape shape = utf8_shape(static_cast<unsigned char>(bytes[0]));
    std::size_t taken = 1;
    for (; taken < shape.length && taken < bytes.size(); ++taken) {
        const auto next = static_cast<unsigned char>(bytes[taken]);
        const unsigned char low = taken == 1 ? shape.low : 0x80;
        const unsigned char high = taken == 1 ? shape.high : 0xBF;
        if (next < low || next > high)
            break;
    }
    return taken;
}

/// One UTF-16LE unit, or two when they form a surrogate pair.
std::size_t utf16_unit_bytes(std::string_view bytes) {
    const auto unit = [&bytes](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    if (bytes.size() < 2)
        return bytes.size();
    const bool high = unit(0) >= 0xD800 && unit(0) <= 0xDBFF;
    const bool pair = high && bytes.size() >= 4 && unit(2) >= 0xDC00 && unit(2) <= 0xDFFF;
    return pair ? 4 : 2;
}

constexpr bool is_ascii(char byte) {
    return static_cast<unsigned char>(byte) < 0x80;
}

/// Bytes below 0x80 at the start of `bytes`, counted eight at a time while
/// that is possible (most of a web page is ASCII mark-up).
std::size_t ascii_prefix_length(std::string_view bytes) {
    std::size_t length = 0;
    for (std::uint64_t word; length + 8 <= bytes.size(); length += 8) {
        std::memcpy(&word, bytes.data() + length, 8);
        if ((word & 0x8080808080808080u) != 0)
            break;
    }
    while (length < bytes.size() && is_ascii(bytes[length]))
        ++length;
    return length;
}

std::size_t non_ascii_prefix_length(std::string_view bytes) {
    std::size_t length = 0;
    while (length < bytes.size() && !is_ascii(bytes[length]))
        ++length;
    return length;
}

/// A byte of code page 936 that does not begin a character it can read is
/// passed over alone, so the byte after it is read afresh.
std::size_t one_byte(std::string_view) {
    return 1;
}

/// One direction of conversion with its rule for bad input.
struct Route {
    const char* from;
    const char* to;
    std::string_view replacement;                    // written in place of bad input
    std::size_t (*bad_input)(std::string_view rest); // how many bytes to pass over
    std::size_t growth; // room for output bytes per input byte to begin with
    // Bytes below 0x80 come out as they are and never belong to a longer
    // sequence, so iconv need not see them. True for UTF-8 input only: in
    // code page 936, 0x81 0x40 is one character.
    bool ascii_passes;
};

// U+FFFD in UTF-16LE and in UTF-8.
constexpr std::string_view wide_replacement{"\xFD\xFF", 2};
constexpr std::string_view utf8_replacement = "\xEF\xBF\xBD";

enum RouteId : std::size_t {
    utf8_to_wide,
    cp936_to_wide,
    wide_to_cp936,
    wide_to_utf8,
    utf8_to_cp936,
    cp936_to_utf8,
    route_count
};

const std::array<Route, route_count> routes{{
    {"UTF-8", "UTF-16LE", wide_replacement, utf8_sequence_length, 2, false},
    {cp936_name, "UTF-16LE", wide_replacement, one_byte, 2, false},
    {"UTF-16LE", cp936_name, "?", utf16_unit_bytes, 1, false},
    {"UTF-16LE", "UTF-8", "?", utf16_unit_bytes, 2, false},
    {"UTF-8", cp936_name, "?", utf8_sequence_length, 1, true},
    // Room for two UTF-8 bytes per byte: each bad byte needs three, which
    // the output grows for.
    {cp936_name, "UTF-8", utf8_replacement, one_byte, 2, false},
}};

/// Output bytes of one conversion, written in place by iconv and grown when
/// iconv runs out of room.
class Output {
public:
    explicit Output(std::size_t expected) : bytes_(expected, '\0') {}
    Output(const Output&) = delete; // the cursor points into bytes_
    Output& operator=(const Output&) = delete;

    char** cursor() { return &cursor_; }
    std::size_t* room() { return &room_; }

    void grow() {
        const std::size_t used = cursor_ - bytes_.data();
        bytes_.resize(bytes_.size() * 2 + 16);
        cursor_ = bytes_.data() + used;
        room_ = bytes_.size() - used;
    }

    void append(std::string_view more) {
        while (room_ < more.size())
            grow();
        cursor_ = std::copy(more.begin(), more.end(), cursor_);
        room_ -= more.size();
    }

    std::string take() && {
        bytes_.resize(cursor_ - bytes_.data());
        return std::move(bytes_);
    }

private:
    std::string bytes_;
    char* cursor_ = bytes_.data();
    std::size_t room_ = bytes_.size();
};

/// One iconv descriptor for one route, used by one thread at a time.
class LenientConverter {
public:
    explicit LenientConverter(const Route& route)
        : route_(route), cd_(iconv_open(route.to, route.from)) {}
    ~LenientConverter() {
        if (is_open())
            iconv_close(cd_);
    }
    LenientConverter(const LenientConverter&) = delete;
    LenientConverter& operator=(const LenientConverter&) = delete;

    /// All of `input` converted; empty when the descriptor could not be
    /// opened or iconv failed for a reason other than the input.
    std::string convert(std::string_view input) {
        if (!is_open() || input.empty())
            return {};
        reset();
        Output output(input.size() * route_.growth + 16);
        while (!input.empty()) {
            std::size_t run = input.size();
            if (route_.ascii_passes) {
                const std::size_t ascii = ascii_prefix_length(input);
                output.append(input.substr(0, ascii));
                input.remove_prefix(ascii);
                run = non_ascii_prefix_length(input);
            }
            if (!convert_run(input.substr(0, run), output))
                return {};
            input.remove_prefix(run);
        }
        return finish(output) ? std::move(output).take() : std::string();
    }

private:
    static constexpr std::size_t failed = static_cast<std::size_t>(-1);

    bool is_open() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    /// Converts bytes that are all of the input or, in UTF-8, end where
    /// ASCII resumes; no UTF-8 sequence reaches over an ASCII byte, so cutting
    /// there changes nothing but the kind of error iconv reports for a
    /// cut-off sequence.
    bool convert_run(std::string_view run, Output& output) {
        char* in = const_cast<char*>(run.data()); // iconv never writes through it
        std::size_t in_left = run.size();
        while (in_left > 0) {
            if (iconv(cd_, &in, &in_left, output.cursor(), output.room()) != failed)
                continue;
            if (errno == E2BIG)
                output.grow();
            else if (errno == EILSEQ || errno == EINVAL)
                pass_over_bad_input(in, in_left, output);
            else
                return false;
        }
        return true;
    }

    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

    void pass_over_bad_input(char*& in, std::size_t& in_left, Output& output) {
        output.append(route_.replacement);
        const std::size_t skip = std::min(in_left, route_.bad_input({in, in_left}));
        in += skip;
        in_left -= skip;
        reset();
    }

    /// Writes whatever the descriptor still holds back (nothing for these
    /// stateless encodings, but that is iconv's business).
    bool finish(Output& output) {
        while (iconv(cd_, nullptr, nullptr, output.cursor(), output.room()) == failed) {
            if (errno != E2BIG)
                return false;
            output.grow();
        }
        return true;
    }

    const Route& route_;
    iconv_t cd_;
};

/// This thread's converter for a route. Descriptors are not shared between
/// threads, so probes on many threads convert at once without a lock.
LenientConverter& converter(RouteId id) {
    thread_local std::array<std::unique_ptr<LenientConverter>, route_count> converters;
    std::unique_ptr<LenientConverter>& slot = converters[id];
    if (!slot)
        slot = std::make_unique<LenientConverter>(routes[id]);
    return *slot;
}

/// Cuts a result at its first NUL byte in place (no copy of a large page).
std::string cut_at_nul(std::string bytes) {
    bytes.resize(up_to_nul(bytes).size());
    return bytes;
}

std::string convert(RouteId id, std::string_view text) {
    return cut_at_nul(converter(id).convert(up_to_nul(text)));
}

std::u16string units_from_utf16le(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return units;
}

std::string utf16le_from_units(std::u16string_view units) {
    std::string bytes(units.size() * 2, '\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return bytes;
}

} // namespace

std::u16string decode_to_wide(std::string_view text, CodePage page) {
    if (page != CodePage::gbk && page != CodePage::utf8)
        return {};
    const RouteId id = page == CodePage::gbk ? cp936_to_wide : utf8_to_wide;
    // Not through convert(): a zero byte inside UTF-16 is no end of text.
    return units_from_utf16le(converter(id).convert(up_to_nul(text)));
}

std::string encode_from_wide(std::u16string_view wide, CodePage page) {
    if (page != CodePage::gbk && page != CodePage::utf8)
        return {};
    const RouteId id = page == CodePage::gbk ? wide_to_cp936 : wide_to_utf8;
    const std::u16string_view before_nul = wide.substr(0, wide.find(u'\0'));
    return cut_at_nul(converter(id).convert(utf16le_from_units(before_nul)));
}

std::string utf8_to_ansi(std::string_view utf8) {
    return convert(utf8_to_cp936, utf8);
}

std::string ansi_to_utf8(std::string_view ansi) {
    return convert(cp936_to_utf8, ansi);
}

} // namespace kestrova::text
