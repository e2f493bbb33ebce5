#include "exchange/CommandFile.h"
#include "exchange/CommandList.h"

#include "file_fixture.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
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

// A FIFO without a writer would block the open for good; a device or a folder
// has no end. None of them is read.
TEST_F(CommandFile, OnlyRegularFilesAreOpenedAndTheOpenNeverWaits)
{
    const std::string fifo = PathOf("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socket = PathOf("socket");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const struct
    {
        std::string path;
        std::string reason;
    } refused[] = {
        {fifo, "Not a regular file (a FIFO)"},
        {"/dev/zero", "Not a regular file (a character device)"},
        {socket, std::strerror(ENXIO)}, // a socket cannot even be opened
        {Dir.string(), std::strerror(EISDIR)},
        {PathOf("missing.txt"), std::strerror(ENOENT)},
    };
    TCommandFileReader reader;
    for (const auto &file : refused) {
        ASSERT_FALSE(reader.Open(Write("ok.txt", "T1\n")));
        const auto error = reader.Open(file.path);
        ASSERT_TRUE(error) << file.path;
        EXPECT_EQ(*error, file.reason) << file.path;
        EXPECT_FALSE(reader.IsOpen());
        EXPECT_TRUE(reader.AtEnd());
        EXPECT_FALSE(reader.NextLine());
    }
    ::close(listener);
}

TEST_F(CommandFile, ALineOverOneMebibyteEndsTheFileNamingTheLine)
{
    const std::string limit(CommandFileMaxLine, 'x');
    // Exactly the limit is read, also with a CR LF after it or at the end of the file.
    EXPECT_EQ(ReadLines("S:S:a\n" + limit + "\r\n" + limit), (LineList{"S:S:a", limit, limit}));

    const struct
    {
        std::string content;
        std::string line;
    } tooLong[] = {
        {"one\n" + limit + "y\nthree\n", "2"},
        {"one\ntwo\n" + limit + "yz", "3"},              // no line end after it
        {limit + "\r\r\n", "1"},                         // the first CR is part of the line
        {std::string(8 * CommandFileMaxLine, 'z'), "1"}, // far longer: read no further
    };
    for (const auto &file : tooLong) {
        TCommandFileReader reader;
        ASSERT_FALSE(reader.Open(Write("long.txt", file.content)));
        try {
            while (reader.NextLine()) {
            }
            ADD_FAILURE() << "no error for line " << file.line;
        } catch (const ECommandFileError &e) {
            EXPECT_EQ(std::string(e.what()),
                      "Line " + file.line + " of the command file is longer than 1 MiB");
        }
        EXPECT_FALSE(reader.IsOpen()) << "the file is closed";
    }
}

TEST_F(CommandFile, LinesComeOneAtATimeWithTheirNumbers)
{
    TCommandFileReader reader;
    ASSERT_FALSE(reader.Open(Write("list.txt", "S:S:a\r\n\nT5")));
    EXPECT_EQ(reader.LineNumber(), 0u);
    const std::vector<std::pair<std::string, std::size_t>> expected = {
        {"S:S:a", 1}, {"", 2}, {"T5", 3}};
    for (const auto &[text, number] : expected) {
        const auto line = reader.NextLine();
        ASSERT_TRUE(line);
        EXPECT_EQ(*line, text);
        EXPECT_EQ(reader.LineNumber(), number);
    }
    EXPECT_FALSE(reader.NextLine());
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
