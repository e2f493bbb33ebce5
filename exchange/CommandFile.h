#pragma once

#include "common/FileDescriptor.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// A command file that cannot be read on: the system's reason, or a line that
// is too long.
class ECommandFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The longest line a command file may hold, without its line end. A longer one
// ends the list: no command line needs it, and a file without line ends
// (a device full of zeros, say) must not fill the memory.
inline constexpr std::size_t CommandFileMaxLine = 1024 * 1024;

// Reads a command file one line at a time as the list runs, so a list of a
// million lines is never held whole. A line ends at LF or CR LF; a CR that no
// LF follows belongs to the line. Zero bytes are ordinary bytes.
class TCommandFileReader
{
public:
    TCommandFileReader() = default;
    TCommandFileReader(const TCommandFileReader &) = delete;
    TCommandFileReader &operator=(const TCommandFileReader &) = delete;

    // Opens `path` for reading, closing any file open before. Only a regular
    // file is read: the open never waits (a FIFO without a writer would block it
    // for good) and a FIFO, a device or a directory is refused. On failure
    // returns the reason ("No such file or directory", "Is a directory", "Not a
    // regular file (a FIFO)", ...) for an error box, and no file is open.
    [[nodiscard]] std::optional<std::string> Open(const std::string &path);
    void Close();
    [[nodiscard]] bool IsOpen() const { return FFile.IsOpen(); }

    // True when no byte is left to read (also when no file is open). An open
    // empty file is at its end at once.
    [[nodiscard]] bool AtEnd();

    // The next line without its line end; nullopt at the end. The view stays
    // valid until the next read or Close, and costs no copy when the line lies
    // in one buffer fill. A read error or a line longer than CommandFileMaxLine
    // closes the file and throws ECommandFileError; the message names the line.
    [[nodiscard]] std::optional<std::string_view> NextLine();

    // NextLine as an owned text.
    [[nodiscard]] std::optional<std::string> ReadLine();

    // The number of the line NextLine returned last, from 1.
    [[nodiscard]] std::size_t LineNumber() const { return FLineNumber; }

private:
    // Reads more after the bytes still unread; false at the end of the file.
    bool Fill();
    [[noreturn]] void Fail(const std::string &message);

    TFileDescriptor FFile;
    std::vector<char> FBuffer;
    std::size_t FPos = 0; // first unread byte
    std::size_t FEnd = 0; // end of the bytes read
    std::size_t FLineNumber = 0;
};

} // namespace kestrune
