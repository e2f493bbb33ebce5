#include "exchange/CommandFile.h"
#include "exchange/CommandList.h"

#include "file_fixture.h"

#include <cstring>
#include <vector>

namespace kestrune {
namespace {

class CommandFile : public TempDirTest
{
protected:
    std::vector<std::string> ReadLines(const std::string &content)
    {
        TCommandFileReader reader;
        const auto error = reader.Open(Write("list.txt", content));
        EXPECT_FALSE(error) << *error;
        std::vector<std::string> lines;
        while (auto line = reader.ReadLine())
            lines.push_back(*line);
        EXPECT_TRUE(reader.AtEnd());
        return lines;
    }
};

using LineList = std::vector<std::string>;

TEST_F(CommandFile, LineEnds)
{
    EXPECT_EQ(ReadLines(""), LineList{});
    EXPECT_EQ(ReadLines("\n"), LineList{""});
    EXPECT_EQ(ReadLines("a"), LineList{"a"});
    EXPECT_EQ(ReadLines("a\n"), LineList{"a"});
    EXPECT_EQ(ReadLines("a\r\n"), LineList{"a"});
    EXPECT_EQ(ReadLines("a\nb\r\nc\rd\n\ne"), (LineList{"a", "b", "c\rd", "", "e"}));
    EXPECT_EQ(ReadLines("a\r"), LineList{"a\r"});     // a lone CR at the end stays
    EXPECT_EQ(ReadLines("a\r\r\n"), LineList{"a\r"}); // only the CR next to LF goes
    EXPECT_EQ(ReadLines("\r\n\r\n"), (LineList{"", ""}));
    EXPECT_EQ(ReadLines(std::string("a\0b\n\0", 5)),
              (LineList{std::string("a\0b", 3), std::string(1, '\0')}));
}

TEST_F(CommandFile, LinesAcrossReadChunks)
{
    // A CR LF pair split between two reads, and a line much longer than one read.
    const std::string first(64 * 1024 - 1, 'x');
    const std::string longLine(1 << 20, 'y');
    EXPECT_EQ(ReadLines(first + "\r\n" + longLine + "\nz"), (LineList{first, longLine, "z"}));
}

TEST_F(CommandFile, EmptyFileIsAtItsEndAtOnce)
{
    TCommandFileReader reader;
    ASSERT_FALSE(reader.Open(Write("empty.txt", "")));
    EXPECT_TRUE(reader.IsOpen());
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.ReadLine());

    ASSERT_FALSE(reader.Open(Write("one.txt", "\n")));
    EXPECT_FALSE(reader.AtEnd());
}

TEST_F(CommandFile, OpenFailuresGiveTheSystemsReason)
{
    TCommandFileReader reader;
    ASSERT_FALSE(reader.Open(Write("ok.txt", "T1\n")));

    const auto missing = reader.Open(PathOf("missing.txt"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(*missing, std::strerror(ENOENT));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.ReadLine());

    const auto directory = reader.Open(Dir.string());
    ASSERT_TRUE(directory);
    EXPECT_EQ(*directory, std::strerror(EISDIR));
    EXPECT_FALSE(reader.IsOpen());
}

TEST_F(CommandFile, NextCommandSkipsWhatIsIgnored)
{
    TCommandFileReader reader;
    ASSERT_FALSE(reader.Open(Write("list.txt", "; a comment\r\n"
                                               "S:S:one\r\n"
                                               " S:S:blank first\r\n"
                                               "\r\n"
                                               "S;S:bad\r\n"
                                               "R:T2000:H:06\r\n"
                                               "T500\r\n"
                                               "# the end\r\n")));
    const auto first = NextCommand(reader);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Data, "one");
    const auto second = NextCommand(reader);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Kind, TCmdLineKind::lkReply);
    EXPECT_EQ(second->N, 2000);
    const auto third = NextCommand(reader);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->Kind, TCmdLineKind::lkDelay);
    EXPECT_FALSE(NextCommand(reader));
    EXPECT_TRUE(reader.AtEnd());
}

} // namespace
} // namespace kestrune
