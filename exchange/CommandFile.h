#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrune {

// A command file that cannot be read on. The message is the system's reason.
class ECommandFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Reads a command file one line at a time as the list runs, so a list of a
// million lines is never held whole. A line ends at LF or CR LF; a CR that no
// LF follows belongs to the line. Zero bytes are ordinary bytes.
class TCommandFileReader
{
public:
    TCommandFileReader() = default;
    TCommandFileReader(const TCommandFileReader &) = delete;
    TCommandFileReader &operator=(const TCommandFileReader &) = delete;
    ~TCommandFileReader();

    // Opens `path` for reading, closing any file open before. On failure returns
    // the system's reason ("No such file or directory", "Is a directory", ...)
    // for an error box, and no file is open.
    [[nodiscard]] std::optional<std::string> Open(const std::string &path);
    void Close();
    [[nodiscard]] bool IsOpen() const { return FFd >= 0; }

    // True when no byte is left to read (also when no file is open). An open
    // empty file is at its end at once.
    [[nodiscard]] bool AtEnd();

    // The next line without its line end; nullopt at the end. A read error
    // closes the file and throws ECommandFileError with the system's reason.
    [[nodiscard]] std::optional<std::string> ReadLine();

private:
    // Refills the buffer; false at the end of the file.
    bool Fill();

    int FFd = -1;
    std::vector<char> FBuffer;
    std::size_t FPos = 0;
    std::size_t FEnd = 0;
};

} // namespace kestrune
