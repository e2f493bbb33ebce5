#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

inline constexpr std::size_t IniMaxValueLength = 2047;

// The text of a settings file held in memory, with the private-profile rules:
// section and key names match without regard to case; the first matching
// section and the first matching key in it win; a value is read with
// surrounding blanks and one pair of surrounding quotes removed, at most
// IniMaxValueLength characters. Lines end at LF or CR LF when read and with
// CR LF when written; every other line, including those the program does not
// know, is written back as it was read.
//
// Lookups go through indexes, so a file with thousands of sections, or of a
// hundred megabytes, costs one pass to read and one to write.
class TIniDocument
{
public:
    TIniDocument();
    explicit TIniDocument(std::string text);
    TIniDocument(TIniDocument &&) noexcept;
    TIniDocument &operator=(TIniDocument &&) noexcept;
    TIniDocument(const TIniDocument &) = delete;
    TIniDocument &operator=(const TIniDocument &) = delete;
    ~TIniDocument();

    [[nodiscard]] std::optional<std::string> Get(std::string_view section,
                                                 std::string_view key) const;

    // A present key is rewritten in place (in the spelling given here), a new key
    // goes after the last non-blank line of its section, a new section to the
    // end. CR and LF in the value are written as blanks, so a value never breaks
    // its line. Section and key are the program's own names: no line breaks, no
    // "]" in a section, no "=" in a key.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole document, every line followed by CR LF.
    [[nodiscard]] std::string Text() const;

private:
    // Held by pointer, so the views the lines are made of stay put when the
    // document moves.
    struct TImpl;
    std::unique_ptr<TImpl> F;
};

// The value as a reader of the file gets it back: blanks and one pair of
// quotes around it removed, cut to IniMaxValueLength.
[[nodiscard]] std::string_view IniValueAsRead(std::string_view stored);

} // namespace kestrune
