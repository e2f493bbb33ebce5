#include "MainWindowFixture.h"

#include "common/IniFile.h"

#include <QLocale>
#include <fstream>

QStringList StartTexts(const QDateTime &from, const QDateTime &to)
{
    const QLocale locale = QLocale::system();
    QStringList texts;
    for (QDateTime t = from.addMSecs(-from.time().msec()); t <= to; t = t.addSecs(1)) {
        // Local time as the connection log writes it: the long format without
        // the zone's name.
        QString time = locale.toString(t.time(), QLocale::LongFormat);
        time.remove(t.timeZoneAbbreviation());
        texts << locale.toString(t.date(), QLocale::ShortFormat) + ' ' + time.trimmed();
    }
    return texts;
}

QStringList PaneHints(const QDateTime &from, const QDateTime &to, const QString &tail)
{
    QStringList hints;
    for (const QString &start : StartTexts(from, to))
        hints << "From" + start + tail;
    return hints;
}

void MainWindowTest::writeSettings(const std::string &content) const
{
    std::ofstream(settingsPath(), std::ios::binary) << content;
}

std::string MainWindowTest::readSettings() const
{
    return kestrune::ReadWholeFile(settingsPath()).value_or("<no settings file>");
}
