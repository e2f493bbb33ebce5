#include "exchange/CommLog.h"

#include "file_fixture.h"
#include "row_name.h"

#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace kestrune {
namespace {

const TLocalTime Moment{2026, 12, 6, 19, 31, 15, 123};

struct RecordCase
{
    const char *name;
    TLocalTime time;
    std::uint8_t direction;
    std::string data;
    TDataMode mode;
    char escChar;
    std::string expected;
};

const std::vector<RecordCase> RecordCases = {
    {"hex frame sent", Moment, LogDirSend, "\x01\x02", dmHex, '{',
     "2026-12-06 19:31:15.123 => 01 02\r\n"},
    {"empty frame", Moment, LogDirSend, "", dmHex, '{', "2026-12-06 19:31:15.123 => \r\n"},
    {"received block", Moment, LogDirRecv, "\xff", dmHex, '{', "2026-12-06 19:31:15.123 <= FF\r\n"},
    {"any other direction is a receive", Moment, 7, "A", dmCharacter, '{',
     "2026-12-06 19:31:15.123 <= A\r\n"},
    {"character mode keeps CR LF", Moment, LogDirRecv, "OK\r\nnext\r\n", dmCharacter, '{',
     "2026-12-06 19:31:15.123 <= OK\r\nnext\r\n\r\n"},
    {"mixed mode with the chosen pair", Moment, LogDirSend, "A\r", dmMixed, '[',
     "2026-12-06 19:31:15.123 => A[0D]\r\n"},
    {"fields padded", TLocalTime{2027, 1, 2, 3, 4, 5, 7}, LogDirSend, "", dmHex, '{',
     "2027-01-02 03:04:05.007 => \r\n"},
    {"last moment of a year", TLocalTime{2026, 12, 31, 23, 59, 59, 999}, LogDirSend, "", dmHex, '{',
     "2026-12-31 23:59:59.999 => \r\n"},
};

class RecordTable : public ::testing::TestWithParam<RecordCase>
{
};

TEST_P(RecordTable, Bytes)
{
    const RecordCase &c = GetParam();
    EXPECT_EQ(CommLogRecord(c.time, c.direction, c.data, c.mode, c.escChar), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, RecordTable, ::testing::ValuesIn(RecordCases), RowName<RecordCase>);

TEST(CommLogTime, CurrentLocalTimeIsAValidMoment)
{
    const TLocalTime now = CurrentLocalTime();
    EXPECT_GE(now.Year, 2020);
    EXPECT_TRUE(now.Month >= 1 && now.Month <= 12);
    EXPECT_TRUE(now.Day >= 1 && now.Day <= 31);
    EXPECT_TRUE(now.Hour >= 0 && now.Hour <= 23);
    EXPECT_TRUE(now.Millisecond >= 0 && now.Millisecond <= 999);
    EXPECT_EQ(LogTimeStamp(now).size(), 23u);
}

// Open descriptors of this process, to see that a failure leaves none behind.
std::size_t OpenDescriptors()
{
    std::size_t count = 0;
    if (DIR *dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

class CommLogFile : public TempDirTest
{
};

TEST_F(CommLogFile, CreatesThenAppendsWithBytesUnchanged)
{
    const std::string path = PathOf(CommLogFileName);
    const std::string first = CommLogRecord(Moment, LogDirSend, "\x01\x02", dmHex, '{');
    const std::string second = CommLogRecord(Moment, LogDirRecv, "a\r\nb", dmCharacter, '{');
    ASSERT_TRUE(AppendCommLog(path, first).Ok());
    ASSERT_TRUE(AppendCommLog(path, second).Ok());
    EXPECT_EQ(ReadAll(path), first + second);
    EXPECT_EQ(ReadAll(path), "2026-12-06 19:31:15.123 => 01 02\r\n"
                             "2026-12-06 19:31:15.123 <= a\r\nb\r\n");

    // Deleting the log makes the next record start a new file.
    std::filesystem::remove(path);
    ASSERT_TRUE(AppendCommLog(path, second).Ok());
    EXPECT_EQ(ReadAll(path), second);
}

TEST_F(CommLogFile, DirectoryInTheWayFailsWithTheReasonAndRecovers)
{
    const std::string path = PathOf(CommLogFileName);
    std::filesystem::create_directory(path);
    const std::size_t before = OpenDescriptors();
    const TFileResult result = AppendCommLog(path, "record\r\n");
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.Error, std::strerror(EISDIR));
    EXPECT_EQ(OpenDescriptors(), before);

    std::filesystem::remove(path);
    EXPECT_TRUE(AppendCommLog(path, "record\r\n").Ok());
    EXPECT_EQ(ReadAll(path), "record\r\n");
}

TEST_F(CommLogFile, FullDiskFailsWithTheReasonAndClosesTheFile)
{
    const std::string path = PathOf(CommLogFileName);
    std::filesystem::create_symlink("/dev/full", path);
    const std::size_t before = OpenDescriptors();
    const TFileResult result = AppendCommLog(path, "record\r\n");
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.Error, std::strerror(ENOSPC));
    EXPECT_EQ(OpenDescriptors(), before);
}

} // namespace
} // namespace kestrune
