#pragma once

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

// The pure text side of the INI format, so its rules can be tested without files.
// Section and key names match without regard to case; the first matching section
// and key win; a value is read with surrounding blanks and one pair of surrounding
// quotes removed, at most IniMaxValueLength characters.
inline constexpr std::size_t IniMaxValueLength = 2047;
[[nodiscard]] std::optional<std::string> IniLookup(std::string_view content,
                                                   std::string_view section, std::string_view key);
// Returns `content` with the key set: a present key is rewritten in place, a new
// key goes to the end of its section, a new section to the end of the text.
// Every line of the result ends with CR LF; LF-only input is read as well.
[[nodiscard]] std::string IniUpdate(std::string_view content, std::string_view section,
                                    std::string_view key, std::string_view value);

// A settings file opened by path for every read and write, like the private-profile
// functions. Every write replaces the file atomically (temporary file, then rename).
class TIniFile
{
public:
    explicit TIniFile(std::string path) : FPath(std::move(path)) {}

    [[nodiscard]] const std::string &Path() const { return FPath; }

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

private:
    std::string FPath;
};

// Reads a whole regular file; nullopt when it is missing, not a regular file or unreadable.
[[nodiscard]] std::optional<std::string> ReadWholeFile(const std::string &path);
// Replaces `path` with `content` through a temporary file and a rename; false on failure.
[[nodiscard]] bool ReplaceFileAtomically(const std::string &path, std::string_view content);

} // namespace kestrune
