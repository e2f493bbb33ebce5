#include "exchange/CommandFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace kestrune {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;

std::optional<std::string> notRegular(mode_t mode)
{
    if (S_ISREG(mode))
        return std::nullopt;
    if (S_ISDIR(mode))
        return ErrorText(EISDIR);
    const char *kind = S_ISFIFO(mode)   ? " (a FIFO)"
                       : S_ISCHR(mode)  ? " (a character device)"
                       : S_ISBLK(mode)  ? " (a block device)"
                       : S_ISSOCK(mode) ? " (a socket)"
                                        : "";
    return std::string("Not a regular file") + kind;
}

} // namespace

std::optional<std::string> TCommandFileReader::Open(const std::string &path)
{
    Close();
    TOpenedFile file = OpenFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (file.Error != 0)
        return ErrorText(file.Error);
    struct stat status
    {
    };
    if (::fstat(file.Fd.Get(), &status) != 0)
        return ErrorText(errno);
    if (auto refused = notRegular(status.st_mode))
        return refused;
    FFile = std::move(file.Fd);
    FBuffer.resize(ChunkSize);
    return std::nullopt;
}

void TCommandFileReader::Close()
{
    (void)FFile.Close();
    FPos = FEnd = 0;
    FLineNumber = 0;
    FBuffer.clear();
    FBuffer.shrink_to_fit();
}

void TCommandFileReader::Fail(const std::string &message)
{
    Close();
    throw ECommandFileError(message);
}

bool TCommandFileReader::Fill()
{
    if (!FFile.IsOpen())
        return false;
    // Keep the unread bytes, at the front of the buffer, and make room after them.
    if (FPos > 0) {
        std::memmove(FBuffer.data(), FBuffer.data() + FPos, FEnd - FPos);
        FEnd -= FPos;
        FPos = 0;
    }
    if (FBuffer.size() - FEnd < ChunkSize)
        FBuffer.resize(FEnd + ChunkSize);
    const ssize_t got = ReadSome(FFile.Get(), FBuffer.data() + FEnd, FBuffer.size() - FEnd);
    if (got < 0)
        Fail(ErrorText(errno));
    FEnd += static_cast<std::size_t>(got);
    return got > 0;
}

bool TCommandFileReader::AtEnd()
{
    return FPos == FEnd && !Fill();
}

std::optional<std::string_view> TCommandFileReader::NextLine()
{
    if (AtEnd())
        return std::nullopt;
    const std::size_t lineNumber = FLineNumber + 1;
    auto tooLong = [&] {
        Fail("Line " + std::to_string(lineNumber) + " of the command file is longer than " +
             std::to_string(CommandFileMaxLine / (1024 * 1024)) + " MiB");
    };
    std::size_t scanned = FPos; // no LF before this
    for (;;) {
        const char *begin = FBuffer.data() + scanned;
        const auto *lf = static_cast<const char *>(std::memchr(begin, '\n', FEnd - scanned));
        if (lf) {
            const std::size_t lfAt = static_cast<std::size_t>(lf - FBuffer.data());
            std::string_view line(FBuffer.data() + FPos, lfAt - FPos);
            // Only the CR of a CR LF pair is part of the line end.
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.size() > CommandFileMaxLine)
                tooLong();
            FPos = lfAt + 1;
            FLineNumber = lineNumber;
            return line;
        }
        // One byte more than the limit may still be the CR of a CR LF.
        if (FEnd - FPos > CommandFileMaxLine + 1)
            tooLong();
        const std::size_t unread = FPos;
        scanned = FEnd;
        if (!Fill()) {
            std::string_view line(FBuffer.data() + FPos, FEnd - FPos);
            if (line.size() > CommandFileMaxLine)
                tooLong();
            FPos = FEnd;
            FLineNumber = lineNumber;
            return line;
        }
        scanned -= unread; // the unread bytes moved to the front
    }
}

std::optional<std::string> TCommandFileReader::ReadLine()
{
    auto line = NextLine();
    if (!line)
        return std::nullopt;
    return std::string(*line);
}

} // namespace kestrune
