#include "net/LocalDateTime.h"
#include "net/LoginLog.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

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

TEST(LoginLog, LinesAreAppendedWithTheirShape)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Login.txt").toStdString();
    const QDateTime when(QDate(2024, 3, 4), QTime(13, 2, 3));
    AppendLoginLine(path, LoginLine(when, "127.0.0.1", 50123, true));
    AppendLoginLine(path, LoginLine(when, "10.0.0.7", 7, false));

    const std::string stamp = LocalDateTimeText(when, QLocale::system());
    std::stringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(content.str(), stamp + "  127.0.0.1:50123 Connected.\r\n" + stamp +
                                 "  10.0.0.7:7 Disconnected.\r\n");
}

TEST(LoginLog, AWriteThatFailsIsRaised)
{
    QTemporaryDir dir;
    const std::string inPlaceOfFile = dir.filePath("dir").toStdString();
    std::filesystem::create_directory(inPlaceOfFile);
    const std::string diskFull = dir.filePath("full").toStdString();
    std::filesystem::create_symlink("/dev/full", diskFull);
    for (const std::string &path : {inPlaceOfFile, diskFull})
        EXPECT_THROW(AppendLoginLine(path, "line\r\n"), std::runtime_error) << path;
}

} // namespace
} // namespace kestrune
