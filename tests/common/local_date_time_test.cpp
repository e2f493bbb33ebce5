#include "common/LocalDateTime.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(LocalDateTimeText, ShortDateLongTimeNoZoneAndNoTimeAtMidnight)
{
    const QDate day(2024, 3, 4);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    const QLocale cn(QLocale::Chinese, QLocale::China); // its zone field leads the time
    EXPECT_EQ(LocalDateTimeText(QDateTime(day, QTime(13, 2, 3)), us), "3/4/24 1:02:03 PM");
    EXPECT_EQ(LocalDateTimeText(QDateTime(day, QTime(13, 2, 3)), de), "04.03.24 13:02:03");
    EXPECT_EQ(LocalDateTimeText(QDateTime(day, QTime(13, 2, 3)), cn), "2024/3/4 13:02:03");
    EXPECT_EQ(LocalDateTimeText(QDateTime(day, QTime(0, 0)), de), "04.03.24");
    EXPECT_EQ(LocalDateTimeText(QDateTime(day, QTime(0, 0, 0, 1)), de), "04.03.24 00:00:00");
}

} // namespace
} // namespace kestrune
