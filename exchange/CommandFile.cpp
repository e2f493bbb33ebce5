#include "exchange/CommandFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;

} // namespace

TCommandFileReader::~TCommandFileReader()
{
    Close();
}

std::optional<std::string> TCommandFileReader::Open(const std::string &path)
{
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string(std::strerror(errno));
    // A directory opens for reading on Linux; it only fails at the first read.
    struct stat status;
    int error = 0;
    if (::fstat(fd, &status) != 0)
        error = errno;
    else if (S_ISDIR(status.st_mode))
        error = EISDIR;
    if (error != 0) {
        ::close(fd);
        return std::string(std::strerror(error));
    }
    FFd = fd;
    FBuffer.resize(ChunkSize);
    FPos = FEnd = 0;
    return std::nullopt;
}

void TCommandFileReader::Close()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FPos = FEnd = 0;
    FBuffer.clear();
    FBuffer.shrink_to_fit();
}

bool TCommandFileReader::Fill()
{
    if (FFd < 0)
        return false;
    for (;;) {
        const ssize_t got = ::read(FFd, FBuffer.data(), FBuffer.size());
        if (got > 0) {
            FPos = 0;
            FEnd = static_cast<std::size_t>(got);
            return true;
        }
        if (got == 0)
            return false;
        if (errno == EINTR)
            continue;
        const int error = errno;
        Close();
        throw ECommandFileError(std::strerror(error));
    }
}

bool TCommandFileReader::AtEnd()
{
    return FPos == FEnd && !Fill();
}

std::optional<std::string> TCommandFileReader::ReadLine()
{
    if (AtEnd())
        return std::nullopt;
    std::string line;
    bool endedByLf = false;
    for (;;) {
        const char *begin = FBuffer.data() + FPos;
        const auto *lf = static_cast<const char *>(std::memchr(begin, '\n', FEnd - FPos));
        if (lf) {
            line.append(begin, lf);
            FPos = static_cast<std::size_t>(lf - FBuffer.data()) + 1;
            endedByLf = true;
            break;
        }
        line.append(begin, FEnd - FPos);
        FPos = FEnd;
        if (!Fill())
            break;
    }
    // Only the CR of a CR LF pair is part of the line end.
    if (endedByLf && !line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace kestrune
