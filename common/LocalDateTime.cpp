#include "common/LocalDateTime.h"

namespace kestrune {

namespace {

// Removes the time-zone fields ("t" to "tttt") outside quoted text, with the
// blanks that separated them from the rest.
QString withoutZone(const QString &format)
{
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
        } else if (!quoted && c == u't') {
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

} // namespace

std::string LocalDateTimeText(const QDateTime &when, const QLocale &locale)
{
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() != QTime(0, 0)) {
        const QString timeFormat = withoutZone(locale.timeFormat(QLocale::LongFormat));
        text += u' ' + locale.toString(when.time(), timeFormat);
    }
    return text.toStdString();
}

} // namespace kestrune
