#include "exchange/CommLog.h"

#include "file_fixture.h"
#include "row_name.h"

#include <ostream>

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <sys/resource.h>
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

void PrintTo(const RecordCase &row, std::ostream *os)
{
    *os << row.name;
}

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

TEST_F(CommLogFile, WriteStampsTheCurrentTime)
{
    const std::string path = PathOf(CommLogFileName);
    const std::string before = LogTimeStamp(CurrentLocalTime());
    ASSERT_TRUE(WriteCommLog(path, LogDirSend, "\x01\x02", dmHex, '{').Ok());
    const std::string after = LogTimeStamp(CurrentLocalTime());
    const std::string text = ReadAll(path);
    ASSERT_EQ(text.size(), before.size() + std::string(" => 01 02\r\n").size());
    const std::string stamp = text.substr(0, before.size());
    // Stamps of one format compare in time order as text.
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(text.substr(before.size()), " => 01 02\r\n");
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

// While it lives, a file of this process may grow no further than `bytes`:
// a write beyond stops there, as on a full disk.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &FBefore);
        FSignal = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, FBefore.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FBefore);
        std::signal(SIGXFSZ, FSignal);
    }
    TFileSizeLimit(const TFileSizeLimit &) = delete;
    TFileSizeLimit &operator=(const TFileSizeLimit &) = delete;

private:
    rlimit FBefore{};
    void (*FSignal)(int) = SIG_DFL;
};

// The disk fills up in the middle of a record: the record is cut there, and
// once there is room again the next one starts on a line of its own instead
// of being glued to the cut one.
TEST_F(CommLogFile, ARecordCutByAFullDiskIsFollowedOnANewLine)
{
    const std::string path = PathOf(CommLogFileName);
    const std::string first = CommLogRecord(Moment, LogDirSend, "\x01\x02", dmHex, '{');
    const std::string cut = CommLogRecord(Moment, LogDirRecv, "cut off here", dmCharacter, '{');
    const std::string next = CommLogRecord(Moment, LogDirSend, "\x03", dmHex, '{');
    ASSERT_TRUE(AppendCommLog(path, first).Ok());
    {
        const TFileSizeLimit full(first.size() + 10);
        EXPECT_EQ(AppendCommLog(path, cut).Error, std::strerror(EFBIG));
    }
    ASSERT_EQ(ReadAll(path), first + cut.substr(0, 10));
    ASSERT_TRUE(AppendCommLog(path, next).Ok());
    ASSERT_TRUE(AppendCommLog(path, next).Ok());
    EXPECT_EQ(ReadAll(path), first + cut.substr(0, 10) + "\r\n" + next + next);
}

} // namespace
} // namespace kestrune
