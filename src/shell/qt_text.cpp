#include "shell/qt_text.h"

#include "text/codepage.h"

namespace kestrova {

QString to_qstring(std::string_view gbk_text) {
    std::string utf8 = text::ansi_to_utf8(gbk_text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string from_qstring(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    return text::utf8_to_ansi(std::string_view(utf8.constData(), utf8.size()));
}

QString to_qt_lines(std::string_view gbk_text) {
    QString text = to_qstring(gbk_text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string from_qt_lines(const QString& text) {
    QString lines = text;
    lines.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    lines.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return from_qstring(lines);
}

} // namespace kestrova
