#include "app/qt/qt_text.h"

#include "text/codepage.h"

namespace tessaly {

QString displayTextOf(std::string_view gbk) {
    const std::string utf8 = gbkToUtf8(gbk);
    // CR and LF are never part of a double-byte character, so the line ends can be
    // recognised after the conversion. The LF -> CR LF of arriving answers turns CR LF
    // into CR CR LF; both are one line end.
    const QString converted = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    QString shown;
    shown.reserve(converted.size());
    for (qsizetype i = 0; i < converted.size(); ++i) {
        const QChar c = converted[i];
        if (c == u'\r') {
            qsizetype j = i + 1;
            if (j < converted.size() && converted[j] == u'\r' && j + 1 < converted.size() &&
                converted[j + 1] == u'\n') {
                j += 2;  // CR CR LF
            } else if (j < converted.size() && converted[j] == u'\n') {
                j += 1;  // CR LF
            }
            shown.append(u'\n');
            i = j - 1;
        } else {
            shown.append(c);
        }
    }
    return shown;
}

Text gbkTextOf(const QString& shown) {
    QString withCrLf = shown;
    withCrLf.replace(QChar(QChar::ParagraphSeparator), u'\n');
    withCrLf.replace(QChar(QChar::LineSeparator), u'\n');
    withCrLf.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    const QByteArray utf8 = withCrLf.toUtf8();
    return utf8ToGbk(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace tessaly
