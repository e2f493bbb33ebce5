#pragma once

#include "common/FileDescriptor.h"
#include "common/IniDocument.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrune {

// Raised when the settings file cannot be replaced: "Unable to write to <path>".
class EIniWriteError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The text rules of the INI format on a whole text, so they can be tested
// without files (see TIniDocument).
[[nodiscard]] std::optional<std::string> IniLookup(std::string_view content,
                                                   std::string_view section, std::string_view key);
[[nodiscard]] std::string IniUpdate(std::string_view content, std::string_view section,
                                    std::string_view key, std::string_view value);

// A settings file: read once when constructed and kept in memory; reads and
// writes work on that document, and UpdateFile writes it back whole. A file
// that is missing or cannot be read gives an empty document, so every read
// gives its default.
class TIniFile
{
public:
    explicit TIniFile(std::string path);

    [[nodiscard]] const std::string &Path() const { return FPath; }

    // Why a file that is there could not be read (no permission, a folder in
    // its place), as a message for the user; empty when it was read or is
    // missing. Such a file is never written: UpdateFile leaves it as it is.
    [[nodiscard]] const std::string &ReadError() const { return FReadError; }

    [[nodiscard]] std::optional<std::string> Read(std::string_view section,
                                                  std::string_view key) const;
    [[nodiscard]] std::string ReadString(std::string_view section, std::string_view key,
                                         std::string_view def) const;
    // Decimal, "$" hex or "0x" hex; an empty, missing or unreadable value gives `def`.
    [[nodiscard]] std::int32_t ReadInteger(std::string_view section, std::string_view key,
                                           std::int32_t def) const;
    // Any integer other than 0 is true.
    [[nodiscard]] bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // Replaces the file with the whole document in one step (temporary file,
    // flush, rename; see ReplaceFileAtomically) while holding the lock file
    // "<path>.lock", so copies of the program saving at the same moment leave
    // one copy's file or the other's, never a mix; what saves that were killed
    // left beside it goes first. Lines the program does not know are kept.
    // Raises EIniWriteError when the file cannot be replaced; does nothing
    // when it could not be read (ReadError).
    void UpdateFile();

private:
    std::string FPath;
    std::string FReadError;
    TIniDocument FDocument;
};

} // namespace kestrune
