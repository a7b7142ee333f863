// The Qt edge of the text conventions: code page 936 bytes <-> QString, and
// CR LF line breaks <-> Qt's "\n".
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace kestrova {

QString to_qstring(std::string_view gbk_text);
std::string from_qstring(const QString& text);

/// Code page 936 text with CR LF line breaks to a QString with "\n".
QString to_qt_lines(std::string_view gbk_text);
/// A QString with "\n" (or paragraph separators) to code page 936 with CR LF.
std::string from_qt_lines(const QString& text);

/// A UTF-8 literal as a QString (QT_NO_CAST_FROM_ASCII keeps this explicit).
inline QString qs(const char* utf8) {
    return QString::fromUtf8(utf8);
}
inline QString qs(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace kestrova
