// Code page conversion that never fails: invalid input comes out replaced
// and the conversion goes on. iconv stands behind it (codepage.cpp only).
//
// Code page 936 is iconv's "CP936" (in glibc the same table as "GBK", with
// 0x80 as the euro sign). Texts end at their first NUL byte, as everywhere in
// Kestrova: input after it is ignored and no result contains a NUL byte or
// unit. Every function may be called on any number of threads at once (each
// thread keeps its own iconv descriptors). Should iconv itself be unusable
// (no CP936 table installed), every function returns an empty result.
#pragma once

#include <string>
#include <string_view>

namespace kestrova::text {

enum class CodePage : unsigned { gbk = 936, utf8 = 65001 };

/// Byte text in `page`, up to its first NUL byte, to UTF-16 code units.
/// Invalid or cut-off sequences become U+FFFD and the conversion goes on:
/// in UTF-8 one U+FFFD for each longest start of a sequence that cannot be
/// completed (E4 BD 41 gives U+FFFD 'A'; C0 80 gives two), in code page 936
/// one U+FFFD for the single byte that cannot begin a character, and the
/// next byte is read afresh (81 0D gives U+FFFD CR). An empty text gives an
/// empty result. (Unlike the platform routine this has no terminating NUL
/// unit; std::u16string carries its own length.)
std::u16string decode_to_wide(std::string_view text, CodePage page = CodePage::utf8);

/// UTF-16 up to its first NUL unit to byte text in `page`. Characters the
/// page cannot hold become one '?' each (a surrogate pair is one character),
/// unpaired surrogates too. The result is cut at its first NUL byte.
std::string encode_from_wide(std::u16string_view wide, CodePage page = CodePage::gbk);

/// UTF-8 text to code page 936 text: the result of decode_to_wide then
/// encode_from_wide, computed in one pass. So invalid UTF-8 and characters
/// code page 936 cannot hold each become one '?'.
std::string utf8_to_ansi(std::string_view utf8);

/// Code page 936 text to UTF-8 (for the Qt edge), in one pass. Invalid bytes
/// become U+FFFD as in decode_to_wide.
std::string ansi_to_utf8(std::string_view ansi);

/// Shorthand for code page 936 constants written in UTF-8 source:
/// gbk("可以用") gives the code page 936 bytes.
inline std::string gbk(std::string_view utf8) {
    return utf8_to_ansi(utf8);
}

} // namespace kestrova::text
