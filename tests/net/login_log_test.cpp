#include "common/LocalDateTime.h"
#include "net/LoginLog.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

namespace kestrune {
namespace {

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
    const std::pair<std::string, std::string> cases[] = {{inPlaceOfFile, "Is a directory"},
                                                         {diskFull, "No space left on device"}};
    for (const auto &[path, reason] : cases) {
        try {
            AppendLoginLine(path, "line\r\n");
            ADD_FAILURE() << "no error for " << path;
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()), "Cannot write \"" + path + "\": " + reason);
        }
    }
}

} // namespace
} // namespace kestrune
