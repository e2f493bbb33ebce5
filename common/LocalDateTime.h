#pragma once

#include <QDateTime>
#include <QLocale>
#include <string>

namespace kestrune {

// The locale's short date, a blank and its long time, as the desktop shows a
// moment; the blank and the time are left out at exactly midnight. The time
// zone that Qt's long time format carries is dropped: the text is local time.
[[nodiscard]] std::string LocalDateTimeText(const QDateTime &when,
                                            const QLocale &locale = QLocale::system());

} // namespace kestrune
