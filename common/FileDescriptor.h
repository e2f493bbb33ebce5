#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kestrune {

// Owns one open file descriptor and closes it when it goes out of scope. Every
// file the program reads or writes goes through this and the routines below,
// which report the system's error number (errno) instead of throwing.
class TFileDescriptor
{
public:
    TFileDescriptor() = default;
    explicit TFileDescriptor(int fd) noexcept : FFd(fd) {}
    TFileDescriptor(const TFileDescriptor &) = delete;
    TFileDescriptor &operator=(const TFileDescriptor &) = delete;
    TFileDescriptor(TFileDescriptor &&other) noexcept : FFd(other.Release()) {}
    TFileDescriptor &operator=(TFileDescriptor &&other) noexcept;
    ~TFileDescriptor();

    [[nodiscard]] int Get() const { return FFd; }
    [[nodiscard]] bool IsOpen() const { return FFd >= 0; }
    // Gives the descriptor up without closing it.
    [[nodiscard]] int Release() noexcept;
    // Closes now: 0, or the error close reported. Some file systems report a
    // failed write only here, so writers look at it.
    [[nodiscard]] int Close() noexcept;

private:
    int FFd = -1;
};

// An open descriptor, or the reason it could not be opened.
struct TOpenedFile
{
    TFileDescriptor Fd;
    int Error = 0;
};

// open() with O_CLOEXEC added, retried when a signal interrupts it.
[[nodiscard]] TOpenedFile OpenFile(const std::string &path, int flags, mode_t mode = 0644);

// Writes all of `bytes`, going on after partial writes and interruptions.
// 0 on success, otherwise the error (EIO when the system accepts nothing).
[[nodiscard]] int WriteAll(int fd, std::string_view bytes);

// read() retried when a signal interrupts it: bytes read, 0 at the end, -1 with errno.
[[nodiscard]] ssize_t ReadSome(int fd, char *buffer, std::size_t size);

// Appends everything up to the end of the file to `out`: 0 or the error.
[[nodiscard]] int ReadToEnd(int fd, std::string &out);

// Appends `bytes` to the file at `path`, creating it when missing, and closes
// it again, so each append is in the file when this returns: 0 or the error.
[[nodiscard]] int AppendToFile(const std::string &path, std::string_view bytes);

// Appends one record, a text that ends with a line break, to the file at
// `path` as AppendToFile does: 0 or the error. After an append to the same
// path failed (a full disk may have cut its record short), the next one
// starts on a line of its own: when the file does not end with a line break,
// CR LF goes first.
[[nodiscard]] int AppendRecord(const std::string &path, std::string_view record);

// Reads a whole regular file into `out`: 0, or the error: ENOENT when it is
// missing, EISDIR for a folder, EINVAL for anything else that is not a
// regular file (a device, a pipe).
[[nodiscard]] int ReadRegularFile(const std::string &path, std::string &out);

// Reads a whole regular file; nullopt when it is missing, not a regular file or unreadable.
[[nodiscard]] std::optional<std::string> ReadWholeFile(const std::string &path);

// The system's text for an error number ("No space left on device").
[[nodiscard]] std::string ErrorText(int error);

} // namespace kestrune
