#include "net/LocalDateTime.h"
#include "net/LoginLog.h"

#include "socket_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace kestrune {
namespace {

TEST(LocalDateTimeText, ShortDateAndLongTimeWithoutZone)
{
    const QDateTime afternoon(QDate(2024, 3, 4), QTime(13, 2, 3));
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(LocalDateTimeText(afternoon, us), "3/4/24 1:02:03 PM");
    EXPECT_EQ(LocalDateTimeText(afternoon, de), "04.03.24 13:02:03");
    // A zone field in front of the time goes too.
    EXPECT_EQ(LocalDateTimeText(afternoon, QLocale(QLocale::Chinese, QLocale::China)),
              "2024/3/4 13:02:03");
}

TEST(LocalDateTimeText, TimeIsLeftOutOnlyAtExactlyMidnight)
{
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(LocalDateTimeText(QDateTime(QDate(2024, 3, 4), QTime(0, 0)), de), "04.03.24");
    EXPECT_EQ(LocalDateTimeText(QDateTime(QDate(2024, 3, 4), QTime(0, 0, 0, 1)), de),
              "04.03.24 00:00:00");
}

TEST(LoginLog, LinesAreAppendedWithTheirShape)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Login.txt").toStdString();
    const QDateTime when(QDate(2024, 3, 4), QTime(13, 2, 3));
    const std::string stamp = LocalDateTimeText(when, QLocale::system());

    AppendLoginLine(path, LoginLine(when, "127.0.0.1", 50123, true));
    AppendLoginLine(path, LoginLine(when, "10.0.0.7", 7, false));

    const auto lines = test::FileLines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], stamp + "  127.0.0.1:50123 Connected.\r");
    EXPECT_EQ(lines[1], stamp + "  10.0.0.7:7 Disconnected.\r");
}

TEST(LoginLog, AWriteThatFailsIsRaised)
{
    QTemporaryDir dir;
    const std::string inPlaceOfFile = dir.filePath("dir").toStdString();
    std::filesystem::create_directory(inPlaceOfFile);
    const std::string diskFull = dir.filePath("full").toStdString();
    std::filesystem::create_symlink("/dev/full", diskFull);

    for (const std::string &path : {inPlaceOfFile, diskFull}) {
        try {
            AppendLoginLine(path, "line\r\n");
            ADD_FAILURE() << "no error for " << path;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace kestrune
