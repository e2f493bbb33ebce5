#include "app/view/HistorySave.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kestrune {

namespace {

// Bytes formatted and written at a time.
constexpr std::uint64_t kSaveBytes = 1 << 20;

int OpenFile(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

// 0, or the errno of the write that failed.
int WriteAll(const TFileCalls &calls, int fd, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = calls.Write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO; // a file that takes nothing and says nothing
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

const TFileCalls &PosixFileCalls()
{
    static const TFileCalls calls{OpenFile, ::write, ::close};
    return calls;
}

int SaveShownText(const TShownText &text, TTextPos from, TTextPos to, bool withFirstPrefix,
                  const std::string &path, const TFileCalls &calls)
{
    const int fd = calls.Open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    int error = 0;
    std::string piece;
    bool lineOpen = false;
    for (TTextPos at = from; error == 0 && at < to;) {
        const TTextPos next = std::min(to, PosOfByte(ByteOfPos(at) + kSaveBytes));
        piece.clear();
        text.Append(at, next, piece, lineOpen, withFirstPrefix);
        error = WriteAll(calls, fd, piece);
        at = next;
    }
    // The close's own errno: what errno said before it means nothing here.
    if (calls.Close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

} // namespace kestrune
