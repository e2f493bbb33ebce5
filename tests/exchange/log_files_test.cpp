// The communication log's names from a pattern, appending or a fresh file,
// and a new file once the size is reached.
#include "exchange/LogFiles.h"

#include "file_fixture.h"

#include <algorithm>
#include <filesystem>

namespace kestrune {
namespace {

const TLocalTime Moment{2026, 3, 6, 9, 5, 7, 123};

TEST(LogName, ExpandsDateAndTimeFieldsAndKeepsOtherText)
{
    const std::pair<const char *, const char *> cases[] = {
        {"CommLog.txt", "CommLog.txt"},
        {"CommLog-%Y%m%d-%H%M%S.txt", "CommLog-20260306-090507.txt"},
        {"%%Y and 100%", "%Y and 100%"},
        {"%q%", "%q%"},
        {"logs/%Y/%m.txt", "logs/2026/03.txt"},
    };
    for (const auto &[pattern, expected] : cases)
        EXPECT_EQ(ExpandLogName(pattern, Moment), expected) << pattern;

    const std::pair<const char *, const char *> numbered[] = {
        {"log.txt", "log-2.txt"},       {"a/b.c.txt", "a/b.c-2.txt"}, {"dir.d/log", "dir.d/log-2"},
        {"/x/.hidden", "/x/.hidden-2"}, {"plain", "plain-2"},
    };
    for (const auto &[path, expected] : numbered)
        EXPECT_EQ(NumberedPath(path, 2), expected) << path;
}

class LogFilesTest : public TempDirTest
{
protected:
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(Dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Appending goes on at the end of what is there; a fresh file never
// overwrites one, not even one written a moment ago in the same second.
TEST_F(LogFilesTest, AppendsOrTakesANameNotUsedYet)
{
    Write("k-2026.txt", "old\r\n");
    TLogFiles files;
    files.Start({Dir.string(), "k-%Y.txt", true, 0}, Moment);
    ASSERT_TRUE(files.Append("one\r\n", Moment).Ok());
    EXPECT_EQ(ReadAll(PathOf("k-2026.txt")), "old\r\none\r\n");

    for (const char *record : {"two\r\n", "three\r\n"}) {
        files.Start({Dir.string(), "k-%Y.txt", false, 0}, Moment);
        ASSERT_TRUE(files.Append(record, Moment).Ok());
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"k-2026-1.txt", "k-2026-2.txt", "k-2026.txt"}));
    EXPECT_EQ(ReadAll(PathOf("k-2026-2.txt")), "three\r\n");
    EXPECT_EQ(files.Path(), PathOf("k-2026-2.txt"));
}

// Past the size the next record starts a new file named at that moment; a
// record never straddles two files and a file holds at least one record.
TEST_F(LogFilesTest, StartsANewFileWhenTheNextRecordWouldPassTheSize)
{
    TLogFiles files;
    files.Start({Dir.string() + "/", "r-%H%M%S.log", true, 20}, Moment);
    TLocalTime later = Moment;
    const std::string records[] = {"0123456789\r\n", "abcdef\r\n", "second file\r\n",
                                   std::string(30, 'x') + "\r\n", "end\r\n"};
    for (const std::string &record : records) {
        ASSERT_TRUE(files.Append(record, later).Ok());
        ++later.Second;
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"r-090507.log", "r-090509.log", "r-090510.log",
                                                 "r-090511.log"}));
    EXPECT_EQ(ReadAll(PathOf("r-090507.log")), records[0] + records[1]);
    EXPECT_EQ(ReadAll(PathOf("r-090510.log")), records[3]);
    EXPECT_EQ(ReadAll(PathOf("r-090511.log")), records[4]);
}

} // namespace
} // namespace kestrune
